// The portable core on real files in a scratch folder; the front-end here records what it is asked.

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <exception>
#include <functional>
#include <map>
#include <random>
#include <regex>
#include <stdexcept>
#include <thread>

#include "file_bytes.h"
#include "fileio/fileio.h"
#include "flow/flow.h"
#include "skins/skins.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <sched.h>
#include <sys/fsuid.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <unistd.h>

#include <csignal>
#endif

namespace beam {
namespace {

namespace fs = std::filesystem;

std::vector<std::string> message_boxes;
std::vector<std::string> asked;  // of the front-end, in order
std::string prompt_text;         // what the prompt's "ok" saves
std::exception_ptr thrown;       // what making the windows and reading the field throw, if set
constexpr const char* kDefault = "c:/program files/Quake III Arena";
constexpr const char* kOldPack = "the pack in effect\r\n\x1a as the player left it";
#ifdef _WIN32
constexpr int kInvalidName = ERROR_INVALID_NAME, kIsAFolder = ERROR_ACCESS_DENIED, kEmpty = ERROR_HANDLE_EOF,
              kTooLong = ERROR_FILENAME_EXCED_RANGE;
constexpr const char* kAnsiJorth = "c:/J\xC3\xB6r\xC3\xB0";  // a field in the code page (Wine's: Windows-1252), as read
#else
constexpr int kInvalidName = EINVAL, kIsAFolder = EISDIR, kEmpty = ENODATA, kTooLong = ENAMETOOLONG;
constexpr const char* kAnsiJorth = "c:/J\xF6r\xF0";  // the bytes as they are
#endif

// A game folder, named with a trailing slash the paths keep: an active pack and three distinct skin sources.
class Core : public ::testing::Test {
  protected:
    void SetUp() override {
        message_boxes.clear();
        prompt_text = std::string(3000, 'x');
        put(pack, kOldPack);
        for (int row = 1; row <= 3; ++row) {
            put(source(row), std::string(1000U * static_cast<unsigned>(row), static_cast<char>('0' + row)));
        }
        put(path_file, game + "\r\n");
    }
    void TearDown() override {
        store.close();
        fs::remove_all(root);
    }
    [[nodiscard]] std::string source(int row) const { return mod + "/skindata" + std::to_string(row) + ".ncx"; }
    // The files beside the path file and in the mod folder, not into a folder there: past what the C runtime lists.
    [[nodiscard]] std::map<std::string, std::string> every_file() const {
        std::map<std::string, std::string> files;
        for (const std::string& folder : {root, game, mod}) {
            for (const auto& entry : fs::directory_iterator(folder)) {
                files[entry.path().string()] = entry.is_directory() ? "a folder" : bytes_of(entry);
            }
        }
        return files;
    }
    // As the front-end runs a click; a failure ends in the error report.
    void click(int row) {
        flow::Program program(store);
        if (row == 0) {
            program.ok();
        } else {
            program.select(skins::kSkins.at(static_cast<std::size_t>(row - 1)));
        }
    }
    // A click with a fault made: no file loses a byte, none is gained, and the one message box is the report of the
    // error, or with error 0 the confirmation.
    void expect_nothing_lost(const char* fault, int row, int error, const std::string& reported) {
        SCOPED_TRACE(fault);
        message_boxes.clear();
        const auto before = every_file();
        click(row);
        EXPECT_EQ(every_file(), before);
        ASSERT_EQ(message_boxes.size(), 1U);
        const std::string& box = message_boxes[0];
        ASSERT_TRUE(box.ends_with(reported)) << box;
        // Before the path, "Error 2: No such file or directory" and a line end: the system's text, CR LF trimmed.
        const std::string report = error == 0 ? "" : "Error " + std::to_string(error) + ": [^\r\n]{3,}\n";
        EXPECT_TRUE(std::regex_match(box.substr(0, box.size() - reported.size()), std::regex(report))) << box;
    }

    std::string root =
        (fs::temp_directory_path() / ("beam-" + std::to_string(std::random_device{}()))).generic_string();
    std::string path_file = root + "/q3path.cfg";
    // The pack's path past 260 characters, as Linux and Wine allow; the mod folder's within them, as the C runtime's
    // folder listing, which the tests use, needs.
    std::string game = root + "/" + std::string(243 - root.size(), 'g') + "/";
    std::string mod = game + "/grimvolt";
    std::string pack = mod + "/pakskin.pk3";
    PathStore store{path_file, kDefault};
};

// The path file's bytes after starts and saves, and the field read from them.
TEST_F(Core, PathFileBytesAfterStartsSavesAndReads) {
    const std::string line = std::string(kDefault) + "\r\n";
    const std::string mark = "\xEF\xBB\xBF";  // UTF-8's byte-order mark, as Notepad writes it
    const std::string deep = "d:/" + std::string(fileio::kLongestPath - 3, 'q');
    put(path_file, mark + deep + "\r\n");  // the longest path this system takes, past the read's first buffer
    EXPECT_EQ(store.read(), deep);
    put(path_file, line + line);
    store.save("d:/games,q3");
    EXPECT_EQ(bytes_of(path_file), "d:/games,q3\r\n");  // on disk before its slot closes
    EXPECT_EQ(store.read(), "d:/games");
    put(path_file, "d:/games/q3");  // a hand-edited line without its end
    store.seed();
    EXPECT_EQ(bytes_of(path_file), "d:/games/q3\r\n" + line);
    EXPECT_EQ(store.read(), "d:/games/q3");
    store.save("d:/games/q3");
    PathStore(path_file, "d:/second").seed();  // a second copy of the program starts while this one holds the slot
    EXPECT_EQ(bytes_of(path_file), "d:/games/q3\r\nd:/second\r\n");
    put(path_file, "c:/J\xF6r\xF0\r\n");  // as Notepad saves: in the code page
    EXPECT_EQ(store.read(), kAnsiJorth);
    put(path_file, mark + " c:/J\xC3\xB6r\xC3\xB0,x");  // in UTF-8 after a byte-order mark
    EXPECT_EQ(store.read(), "c:/J\xC3\xB6r\xC3\xB0");
    put(path_file, mark);  // the mark alone
    store.seed();
    EXPECT_EQ(bytes_of(path_file), mark + line);
    EXPECT_EQ(store.read(), kDefault);
}

TEST(FirstField, EndsAtCommaOrLineEndTrimsBlanksAndHonoursQuotes) {
    // clang-format off
    const std::pair<std::string_view, std::string_view> cases[] = {
        {"d:/games,q3\r\nx", "d:/games"}, {"d:/games\rq3", "d:/games"}, {"d:/games\nq3", "d:/games"},
        {",d:/games", ""}, {"   \r\n", ""}, {" \td:/my games \t,x", "d:/my games"}, {"d:/a\"b\",c", "d:/a\"b\""},
        {" \"d:/games, old \" ,x", "d:/games, old "}, {"\"d:/open,x\r\ny", "d:/open,x"}, {"\"", ""}};
    // clang-format on
    for (const auto& [file, field] : cases) {
        FirstFieldParser parser;
        parser.feed(file);
        EXPECT_EQ(parser.field(), field) << file;
    }
}

TEST_F(Core, SwapFailuresLoseNothing) {
    put(path_file, "");
    expect_nothing_lost("path file empty", 1, kEmpty, path_file);
    put(path_file, std::string(100000, 'q'));
    expect_nothing_lost("a first field longer than any path", 1, kTooLong, path_file);
    put(path_file, pack + '\0' + "x");
    expect_nothing_lost("a NUL in the path", 1, kInvalidName, pack + "\\0x/grimvolt/pakskin.pk3");
    store.save(game);
    fs::remove(source(1));
    fs::create_hard_link(pack, source(1));
    expect_nothing_lost("source a hard link to the pack: copied all the same", 1, 0, "Old Q3 Skin selected");
#ifdef _WIN32  // held for longer than the swap waits: by a game's C runtime, not sharing deletion, and by a scanner
    std::ifstream game_runtime(pack);
    expect_nothing_lost("pack held by a game", 2, ERROR_SHARING_VIOLATION, pack);
    game_runtime.close();
    HeldFile scanner = held_as_a_scanner_does(pack);
    expect_nothing_lost("pack held by a scanner", 2, ERROR_SHARING_VIOLATION, pack);
    scanner = HeldFile();
    fs::permissions(pack, fs::perms::owner_read);
    expect_nothing_lost("pack read-only: refused at once", 2, ERROR_FILE_READ_ONLY, pack);
    fs::permissions(pack, fs::perms::all);
#endif
    fs::remove(source(2));
    fs::create_directory(source(2));
    expect_nothing_lost("source a folder", 2, kIsAFolder, source(2));
    fs::remove(source(2));  // by itself: past what the C runtime's removal of a folder lists
    fs::remove(pack);
    expect_nothing_lost("pack missing", 3, 2, pack);
}

// A swap takes over a killed swap's copy, longer than its own, which Windows scanners may hold for seconds (the copy,
// not sharing deletion, then the pack, sharing it); then two swaps of one pack at once both succeed, whole.
TEST_F(Core, TwoSwapsOfOnePackAtOnceAfterAKilledOneSucceed) {
    put(source(1), std::string(8U << 20, '1'));
    put(source(2), std::string(8U << 20, '2'));
    put(pack + ".tmp", std::string((8U << 20) + 1, 'k'));
#ifdef _WIN32
    std::ifstream copy_scanner(pack + ".tmp");
    HeldFile pack_scanner = held_as_a_scanner_does(pack);
    const std::jthread release([&] {
        Sleep(2500);
        copy_scanner.close();
        Sleep(2500);
        pack_scanner = HeldFile();
    });
#endif
    const auto swap = [&](int row) { EXPECT_NO_THROW(fileio::replace_with_copy(source(row), pack)); };
    swap(1);
    EXPECT_EQ(bytes_of(pack), bytes_of(source(1)));
    EXPECT_FALSE(fs::exists(pack + ".tmp"));
    for (int round = 1; round <= 5; ++round) {
        SCOPED_TRACE(round);
        std::thread other(swap, 1);
        swap(2);
        other.join();
        const std::string now = bytes_of(pack);
        EXPECT_TRUE(now == bytes_of(source(1)) || now == bytes_of(source(2)));
        EXPECT_FALSE(fs::exists(pack + ".tmp"));
    }
}

// A mangled path file may name a huge folder: the report keeps both ends and never cuts a character in two.
TEST(ErrorReport, VeryLongPathIsShortenedInItsMiddle) {
    std::string path = "/";
    for (int letter = 0; letter < 1000; ++letter) {
        path += "\xC3\xA9";  // é
    }
    path += "/q3path.cfg";  // so that byte 400 from either end is the second of a letter: each end keeps 399
    EXPECT_EQ(flow::report_text({2, "No such file", path}),
              "Error 2: No such file\n" + path.substr(0, 399) + "..." + path.substr(path.size() - 399));
}

#ifdef _WIN32
// A folder the ANSI code page cannot spell (here Cyrillic) is refused where it has no short name, as one that does not
// exist, with the path file untouched; one that exists is saved by its short name (Wine's volumes keep them all).
TEST_F(Core, FolderTheCodePageCannotSpellIsSavedByItsShortNameOrRefused) {
    prompt_text = root + "/\xD0\x98\xD0\xB3\xD1\x80\xD1\x8B";
    expect_nothing_lost("a folder without a short name", 0, ERROR_NO_UNICODE_TRANSLATION, path_file);
    const fs::path folder(std::u8string(prompt_text.begin(), prompt_text.end()));
    fs::create_directory(folder);
    click(0);
    EXPECT_TRUE(fs::equivalent(store.read(), folder));
}
#else
// Faults only root may make, for this process alone: a full disk, a folder that keeps a file system user out, a
// file-size limit; then who may read the new pack.
TEST_F(Core, RootsFaultsLoseNothingAndTheNewPackKeepsModeAndGroup) {
    if (::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
        GTEST_SKIP() << "cannot make a mount namespace of this process's own: " << std::strerror(errno);
    }
    // The copy's own steps name its folder, whose room or rights they lack.
    ASSERT_EQ(::mount("tmpfs", mod.c_str(), "tmpfs", 0, "size=1m"), 0) << std::strerror(errno);
    put(pack, kOldPack);
    put(source(3), std::string(600U << 10, '3'));  // the copy does not fit beside it
    expect_nothing_lost("a full disk", 3, ENOSPC, mod);
    ::umount2(mod.c_str(), MNT_DETACH);
    fs::permissions(mod, static_cast<fs::perms>(0755));
    ::setfsuid(65534);  // nobody, whom the mode keeps out, unlike root
    expect_nothing_lost("a mod folder that keeps nobody out", 3, EACCES, mod);
    ::setfsuid(0);
    ::signal(SIGXFSZ, SIG_IGN);  // a write past the file-size limit fails instead of ending the process
    const rlimit small{2000, RLIM_INFINITY};
    const rlimit none{RLIM_INFINITY, RLIM_INFINITY};
    ::setrlimit(RLIMIT_FSIZE, &small);
    expect_nothing_lost("a save past a file-size limit keeps its old line", 0, EFBIG, path_file);
    ::setrlimit(RLIMIT_FSIZE, &none);

    // The new pack keeps the old one's mode, group and ACL (nobody, a game server, may read it) whatever the umask.
    message_boxes.clear();
    ASSERT_EQ(::chmod(pack.c_str(), 0640), 0);
    ASSERT_EQ(::chown(pack.c_str(), 0, 4321), 0);
    ASSERT_EQ(::setenv("PACK", pack.c_str(), 1), 0);  // paths reach the shell in variables, whatever they hold
    ASSERT_EQ(::setenv("ACL", (root + "/acl").c_str(), 1), 0);
    ASSERT_EQ(std::system("setfacl -m u:nobody:r \"$PACK\""), 0);
    const auto who_may_read = [&] {  // mode, group and ACL, as getfacl shows them
        EXPECT_EQ(std::system("getfacl -np \"$PACK\" >\"$ACL\""), 0);
        return bytes_of(root + "/acl");
    };
    const std::string before = who_may_read();
    const mode_t usual_umask = ::umask(077);
    click(2);
    ::umask(usual_umask);
    EXPECT_EQ(who_may_read(), before);

    // In a user namespace that maps root alone (unshare -r), the group and nobody cannot be given: the mode is kept.
    ASSERT_EQ(::setenv("SOURCE", source(3).c_str(), 1), 0);
    ASSERT_EQ(::setenv("SWAP_ONCE", BEAM_SWAP_ONCE, 1), 0);
    if (std::system("unshare -r true 2>/dev/null") == 0) {  // where a user namespace may be made
        EXPECT_EQ(std::system("unshare -r \"$SWAP_ONCE\" \"$SOURCE\" \"$PACK\" >/dev/null"), 0);
        EXPECT_TRUE(who_may_read().ends_with("group: 0\nuser::rw-\ngroup::r--\nother::---\n\n")) << who_may_read();
    }

    // A write-only mod folder, which nobody cannot flush, and in it a killed swap's read-only copy, root's, which
    // nobody cannot write but may remove: the swap makes the copy afresh and succeeds.
    put(pack + ".tmp", "a killed swap's copy");
    fs::permissions(pack + ".tmp", fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    fs::permissions(mod, static_cast<fs::perms>(0333));
    ::setfsuid(65534);
    click(1);
    ::setfsuid(0);
    EXPECT_EQ(message_boxes, (std::vector<std::string>{"Gv Skin selected", "Old Q3 Skin selected"}));
    EXPECT_EQ(bytes_of(pack), bytes_of(source(1)));
}

// As strace sees a swap (the copy opened, filled, flushed, renamed over the pack, the folder flushed), then a save
// (written, then flushed).
TEST_F(Core, DurableStepsInOrder) {
    if (std::getenv("BEAM_ONE_SWAP") != nullptr) {  // the traced run
        click(1);
        click(0);
        return;
    }
    if (std::system("strace -o /dev/null true 2>/dev/null") != 0) {
        GTEST_SKIP() << "strace cannot trace here";
    }
    // Paths reach the shell in variables, whatever they hold; LeakSanitizer cannot run under strace.
    const std::string trace = root + "/trace";
    ::setenv("TRACE", trace.c_str(), 1);
    ::setenv("TESTS", fs::read_symlink("/proc/self/exe").c_str(), 1);
    ASSERT_EQ(std::system("BEAM_ONE_SWAP=1 ASAN_OPTIONS=detect_leaks=0 strace -f "
                          "-e trace=openat,write,copy_file_range,fsync,rename,renameat2 "
                          "-o \"$TRACE\" \"$TESTS\" --gtest_filter=Core.DurableStepsInOrder >/dev/null"),
              0);
    const std::regex in_order(R"(pakskin\.pk3\.tmp", O_WRONLY\|O_CREAT[^\n]* = (\d+))"
                              R"([\s\S]*(?:write\(\1,|copy_file_range\(\d+, NULL, \1,)[\s\S]*fsync\(\1\))"
                              R"([\s\S]*rename[^\n]*\.tmp", "[^"]*/pakskin\.pk3"[\s\S]*/grimvolt", [^\n]*O_DIRECTORY)"
                              R"([^\n]* = (\d+)[\s\S]*fsync\(\2\))"
                              R"([\s\S]*q3path\.cfg", O_WRONLY[^\n]* = (\d+)[\s\S]*write\(\3,[\s\S]*fsync\(\3\))");
    EXPECT_TRUE(std::regex_search(bytes_of(trace), in_order)) << bytes_of(trace);
}
#endif

// Events, and what the flow asks of the front-end at each, in order; the path file afterwards. A failure in an event
// ends the program with the report, and so does the last window's closing, once.
TEST_F(Core, FlowAsksTheFrontEndToShowAndEnd) {
    const std::string saved = game + "\r\n";
    const std::string out_of_memory = flow::report_text(fileio::out_of_memory_failure());
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"start", "make_windows", "set_prompt_text " + game, "show_chooser", "show_prompt"},
         saved + kDefault + "\r\n"},
        {{"ok", "get_prompt_text", "close_prompt", "prompt closed", "chooser closed", "end"}, prompt_text + "\r\n"},
        {{"skin 2", "message_box Gv Skin selected", "chooser closed", "prompt closed", "end"}, saved},
        {{"chooser closed", "throws length_error", "ok", "get_prompt_text", "message_box Error: too long", "end",
          "prompt closed"},
         saved},
        {{"throws 1", "start", "make_windows", "message_box Error: Unknown error", "end"}, saved},
        {{"throws bad_alloc", "ok", "get_prompt_text", "message_box " + out_of_memory, "end"}, saved},
    };
    for (const auto& [script, path_file_bytes] : cases) {
        SCOPED_TRACE(::testing::PrintToString(script));
        asked.clear();
        thrown = nullptr;
        store.save(game);
        flow::Program program(store);
        const std::map<std::string, std::function<void()>> events{
            {"start", [&] { program.start_up(); }},
            {"ok", [&] { program.ok(); }},
            {"skin 2", [&] { program.select(skins::kSkins[1]); }},
            {"prompt closed", [&] { program.closed(flow::Window::prompt); }},
            {"chooser closed", [&] { program.closed(flow::Window::chooser); }},
            {"throws length_error", [] { thrown = std::make_exception_ptr(std::length_error("too long")); }},
            {"throws 1", [] { thrown = std::make_exception_ptr(1); }},
            {"throws bad_alloc", [] { thrown = std::make_exception_ptr(std::bad_alloc()); }},
        };
        for (const std::string& step : script) {
            if (events.contains(step)) {
                asked.push_back(step);
                events.at(step)();
            }
        }
        EXPECT_EQ(asked, script);
        EXPECT_EQ(bytes_of(path_file), path_file_bytes);
    }
}

}  // namespace
}  // namespace beam

// Each records what it is asked; the field holds prompt_text. Making the windows and reading the field throw what
// thrown holds, if anything.
namespace beam::ui {
// clang-format off
void record_or_throw(const char* call) { asked.emplace_back(call); if (thrown) { std::rethrow_exception(thrown); } }
void make_windows() { record_or_throw("make_windows"); }
void set_prompt_text(std::string_view text) { asked.push_back("set_prompt_text " + std::string(text)); }
std::string get_prompt_text() { record_or_throw("get_prompt_text"); return prompt_text; }
void show_chooser() { asked.emplace_back("show_chooser"); }
void show_prompt() { asked.emplace_back("show_prompt"); }
void close_prompt() { asked.emplace_back("close_prompt"); }
void message_box(std::string_view text) { message_boxes.emplace_back(text); asked.push_back("message_box " + std::string(text)); }
void end() { asked.emplace_back("end"); }
// clang-format on
}  // namespace beam::ui
