// The portable core on real files in a scratch folder; the front-end here records what it is asked.

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <exception>
#include <functional>
#include <map>
#include <memory>
#include <random>
#include <regex>
#include <stdexcept>
#include <thread>
#include <tuple>

#include "file_bytes.h"
#include "fileio/fileio.h"
#include "flow/flow.h"
#include "skins/skins.h"

#ifdef _WIN32
#include <windows.h>

#include "fileio/wide_text.h"
#else
#include <sched.h>
#include <sys/fsuid.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#endif

namespace beam {
namespace {

namespace fs = std::filesystem;

std::vector<std::string> message_boxes;
std::vector<std::string> asked;  // of the front-end, in order
constexpr const char* kDefault = "c:/program files/Quake III Arena";
constexpr const char* kOldPack = "the pack in effect\r\n\x1a as the player left it";
std::string prompt_text = std::string(3000, 'x');  // what the prompt's "ok" saves
std::exception_ptr thrown;  // by the scripted front-end's calls that may fail, if set ("throws E")
#ifdef _WIN32
constexpr int kInvalidName = ERROR_INVALID_NAME, kNoFolder = ERROR_PATH_NOT_FOUND, kIsAFolder = ERROR_ACCESS_DENIED,
              kEmpty = ERROR_HANDLE_EOF, kTooLong = ERROR_FILENAME_EXCED_RANGE;
constexpr const char* kAnsiJorth = "c:/J\xC3\xB6r\xC3\xB0";  // a field in the code page (Wine's: Windows-1252), as read
#else
constexpr int kInvalidName = EINVAL, kNoFolder = ENOENT, kIsAFolder = EISDIR, kEmpty = ENODATA, kTooLong = ENAMETOOLONG;
constexpr const char* kAnsiJorth = "c:/J\xF6r\xF0";  // the bytes as they are
#endif

auto undo(std::function<void()> action) {
    return std::shared_ptr<void>(nullptr, [action = std::move(action)](void*) { action(); });
}
#ifdef _WIN32
// A file held open as a virus scanner holds it, sharing reading, writing and deletion, until the result goes.
std::shared_ptr<void> held_as_a_scanner_does(const std::string& path) {
    constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    return {CreateFileW(to_wide(path).c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING, 0, nullptr),
            CloseHandle};
}
#endif

std::string failure_of(const std::function<void()>& step) {
    try {
        return step(), std::string();
    } catch (const Failure& failure) {
        return flow::report_text(failure);
    }
}

// Row clicked; the fault, undone when its result goes; error number (0: none); path reported or confirmation.
using Fault = std::tuple<int, std::function<std::shared_ptr<void>()>, int, std::string>;

// A game folder, named with a trailing slash the paths keep: an active pack and three distinct skin sources.
class Core : public ::testing::Test {
  protected:
    void SetUp() override {
        message_boxes.clear();
        put(pack, kOldPack);
        for (int row = 1; row <= 3; ++row) {
            put(source(row), std::string(1000U * static_cast<unsigned>(row), static_cast<char>('0' + row)));
        }
        store.save(game);
        store.close();
    }
    void TearDown() override { store.close(), fs::remove_all(root); }
    [[nodiscard]] std::string source(int row) const { return mod + "/skindata" + std::to_string(row) + ".ncx"; }
    [[nodiscard]] auto files() const { return std::distance(fs::directory_iterator(mod), fs::directory_iterator()); }
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
    // As the front-end runs a click (row 0: the prompt's "ok"): a failure ends in the error report.
    void select(int row) {
        flow::Program program(store);
        if (row == 0) {
            program.ok();
        } else {
            program.select(skins::kSkins.at(static_cast<std::size_t>(row - 1)));
        }
    }
    // Each fault, on a fresh game folder, ends in the error report; no file loses a byte, none is gained.
    void expect_nothing_lost(std::initializer_list<Fault> faults) {
        for (const auto& [row, make, number, reported] : faults) {
            fs::remove_all(mod);
            SetUp();
            const std::shared_ptr<void> fault = make();
            const auto before = every_file();
            select(row);
            EXPECT_EQ(every_file(), before);
            ASSERT_EQ(message_boxes.size(), 1U);
            // "Error 2: No such file or directory" and the path below: the system's text, CR LF trimmed.
            const std::string report = number == 0 ? ".*" : "Error " + std::to_string(number) + ": [^\r\n]{3,}\n.*";
            EXPECT_TRUE(std::regex_match(message_boxes[0], std::regex(report)) && message_boxes[0].ends_with(reported))
                << message_boxes[0];
        }
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

// File before (none if empty); steps ("start" seeds, reads; "save TEXT"; "second": another copy seeds); after.
TEST_F(Core, PathFileBytesAfterStartsSavesAndReads) {
    const std::string line = std::string(kDefault) + "\r\n",
                      deep = "d:/" + std::string(fileio::kLongestPath - 3, 'q');  // the longest taken
    const std::tuple<std::string, std::vector<std::string>, std::string, std::string> cases[] = {
        {"", {"start", "start", "start"}, line + line + line, kDefault},
        {"\xEF\xBB\xBF" + deep + "\r\n", {}, "\xEF\xBB\xBF" + deep + "\r\n", deep},  // read past its first buffer
        {"", {"save ", "start"}, "\r\n" + line, ""},
        {"", {"start", "save d:/games,q3"}, "d:/games,q3\r\n", "d:/games"},   // on disk before the slot closes
        {"d:/games/q3", {"start"}, "d:/games/q3\r\n" + line, "d:/games/q3"},  // hand-edited, no line end
        {"", {"save d:/games/q3", "second"}, "d:/games/q3\r\nd:/second\r\n", "d:/games/q3"},  // the slot still open
        {"c:/J\xF6r\xF0\r\n", {}, "c:/J\xF6r\xF0\r\n", kAnsiJorth},  // as Notepad saves: ANSI, UTF-8, BOM, BOM alone
        {"c:/J\xC3\xB6r\xC3\xB0\r\n", {}, "c:/J\xC3\xB6r\xC3\xB0\r\n", "c:/J\xC3\xB6r\xC3\xB0"},
        {"\xEF\xBB\xBF c:/J\xC3\xB6r\xC3\xB0,x", {}, "\xEF\xBB\xBF c:/J\xC3\xB6r\xC3\xB0,x", "c:/J\xC3\xB6r\xC3\xB0"},
        {"\xEF\xBB\xBF", {"start"}, "\xEF\xBB\xBF" + line, kDefault},
    };
    for (const auto& [before, steps, after, field] : cases) {
        SCOPED_TRACE(::testing::PrintToString(steps));
        store.close();
        before.empty() ? (void)fs::remove(path_file) : put(path_file, before);
        for (const std::string& step : steps) {
            step == "start"    ? (store.seed(), (void)store.read())
            : step == "second" ? PathStore(path_file, "d:/second").seed()
                               : store.save(step.substr(5));
        }
        EXPECT_EQ(bytes_of(path_file), after);
        EXPECT_EQ(store.read(), field);
    }
}

TEST(FirstField, EndsAtCommaOrLineEndTrimsBlanksAndHonoursQuotes) {
    // clang-format off
    const std::pair<std::string_view, std::string_view> cases[] = {
        {"d:/games,q3\r\nx", "d:/games"}, {"d:/games\rq3", "d:/games"}, {"d:/games\nq3", "d:/games"},
        {"d:/games", "d:/games"}, {",d:/games", ""}, {"\r\nd:/games", ""}, {"   \r\n", ""},
        {" \td:/my games \t,x", "d:/my games"}, {" \"d:/games, old \" ,x", "d:/games, old "},
        {"\"d:/open,x\r\ny", "d:/open,x"}, {"\"", ""}, {"d:/a\"b\",c", "d:/a\"b\""}};
    // clang-format on
    for (const auto& [file, field] : cases) {
        FirstFieldParser parser;
        EXPECT_EQ((parser.feed(file), parser.field()), field) << file;
    }
}

TEST_F(Core, SwapFailuresLoseNothing) {
    expect_nothing_lost({
        {1, [&] { return fs::remove(pack), nullptr; }, 2, pack},
        {3, [&] { return fs::remove(source(3)), nullptr; }, 2, source(3)},
        {1, [&] { return put(path_file, ""), nullptr; }, kEmpty, path_file},  // so is a byte-order mark alone:
        {1, [&] { return put(path_file, "\xEF\xBB\xBF"), nullptr; }, kEmpty, path_file},
        {1, [&] { return put(path_file, std::string(100000, 'q')), nullptr; }, kTooLong, path_file},
        {1, [&] { return store.read(), store.save(root + "/other"), nullptr; }, kNoFolder,
         root + "/other/grimvolt/pakskin.pk3"},  // read afresh on every click: a folder that does not exist
        {1, [&] { return put(path_file, pack + '\0' + "x\r\n"), nullptr; }, kInvalidName,
         pack + "\\0x/grimvolt/pakskin.pk3"},
        {1, [&] { return fs::remove(source(1)), fs::create_hard_link(pack, source(1)), nullptr; }, 0,
         "Old Q3 Skin selected"},
        {2,
         [&] { return fs::remove(source(2)), fs::create_directory(source(2)), undo([&] { fs::remove(source(2)); }); },
         kIsAFolder, source(2)},  // removed by itself: past what the C runtime's removal of a folder lists
#ifdef _WIN32  // held for longer than the swap waits: by a game's C runtime, by a scanner; read-only, at once
        {2, [&] { return std::make_shared<std::ifstream>(pack); }, ERROR_SHARING_VIOLATION, pack},
        {2, [&] { return held_as_a_scanner_does(pack); }, ERROR_SHARING_VIOLATION, pack},
        {2,
         [&] {
             return fs::permissions(pack, fs::perms::owner_read), undo([&] { fs::permissions(pack, fs::perms::all); });
         },
         ERROR_FILE_READ_ONLY, pack},
#endif
    });
}

// A swap takes over a killed swap's copy, longer than its own; then two swaps of one pack at once both succeed, whole.
TEST_F(Core, TwoSwapsOfOnePackAtOnceAfterAKilledOneSucceed) {
    put(source(1), std::string(8U << 20, '1'));
    put(source(2), std::string(8U << 20, '2'));
    put(pack + ".tmp", std::string((8U << 20) + 1, 'k'));
    const auto swap = [&](int row) { EXPECT_NO_THROW(fileio::replace_with_copy(source(row), pack)); };
    swap(1);
    EXPECT_TRUE(bytes_of(pack) == bytes_of(source(1)) && files() == 4);
    for (int round = 1; round <= 5; ++round) {
        std::thread other(swap, 1);
        swap(2);
        other.join();
        const std::string now = bytes_of(pack);
        EXPECT_TRUE((now == bytes_of(source(1)) || now == bytes_of(source(2))) && files() == 4) << "round " << round;
    }
}

#ifdef _WIN32
// A killed swap's copy held for seconds, not sharing deletion, then the pack, sharing it, as scanners do: the swap
// waits.
TEST_F(Core, CopyAndPackHeldForSecondsByScannersAreWaitedFor) {
    put(pack + ".tmp", "a killed swap's copy");
    auto copy_scanner = std::make_shared<std::ifstream>(pack + ".tmp");
    std::shared_ptr<void> pack_scanner = held_as_a_scanner_does(pack);
    const std::jthread release([&] {
        Sleep(2500);
        copy_scanner.reset();
        Sleep(2500);
        pack_scanner.reset();
    });
    select(3);
    EXPECT_TRUE(message_boxes == std::vector<std::string>{"Metal Skins selected"} &&
                bytes_of(pack) == bytes_of(source(3)));
}
#endif

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
// A folder the ANSI code page cannot spell (here Cyrillic) is saved by its short name or refused untouched.
TEST_F(Core, FolderTheCodePageCannotSpellIsSavedByItsShortNameOrRefused) {
    const std::string cyrillic = root + "/\xD0\x98\xD0\xB3\xD1\x80\xD1\x8B";
    const fs::path folder(std::u8string(cyrillic.begin(), cyrillic.end()));
    for (const bool exists : {true, false}) {
        store.save(game);
        exists ? (void)fs::create_directory(folder) : (void)fs::remove(folder);
        const std::string failure = failure_of([&] { store.save(cyrillic); });
        EXPECT_TRUE(failure.empty() ? exists && fs::equivalent(store.read(), folder)
                                    : failure.starts_with("Error 1113: ") && bytes_of(path_file) == game + "\r\n")
            << failure;
    }
}
#else
// Root's faults, for this process alone: a full disk, a file-size limit, an unwritable folder, an unreadable source.
TEST_F(Core, RootsFaultsLoseNothingAndTheNewPackKeepsModeAndGroup) {
    if (::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
        GTEST_SKIP() << "cannot make a mount namespace of this process's own: " << std::strerror(errno);
    }
    const auto small_disk = [&] {
        EXPECT_EQ(::mount("tmpfs", mod.c_str(), "tmpfs", 0, "size=1m"), 0) << std::strerror(errno);
        put(pack, kOldPack);
        put(source(3), std::string(600U << 10, '3'));  // the copy does not fit beside it
        return undo([this] { ::umount2(mod.c_str(), MNT_DETACH); });
    };
    const auto file_size_limit = [&] {
        ::signal(SIGXFSZ, SIG_IGN);  // the write fails instead of ending the process
        static constexpr rlimit kSmall{2000, RLIM_INFINITY}, kNone{RLIM_INFINITY, RLIM_INFINITY};
        ::setrlimit(RLIMIT_FSIZE, &kSmall);
        return undo([] { ::setrlimit(RLIMIT_FSIZE, &kNone); });
    };
    const auto as_nobody_with = [](const std::string& path, fs::perms perms) {
        return [path, perms] {
            fs::permissions(path, perms);
            ::setfsuid(65534);  // as nobody, whom the mode keeps out, unlike root
            return undo([] { ::setfsuid(0); });
        };
    };
    expect_nothing_lost({{3, small_disk, ENOSPC, mod},  // the copy's own steps: its folder's room
                         {3, file_size_limit, EFBIG, mod},
                         {3, as_nobody_with(mod, static_cast<fs::perms>(0755)), EACCES, mod},  // refused the copy
                         {0, file_size_limit, EFBIG, path_file}});  // a save that does not fit keeps the old line
    // The new pack keeps the old mode, group and ACL (nobody, as a server, may read it) whatever the umask.
    SetUp();
    ASSERT_TRUE(::setenv("PACK", pack.c_str(), 1) == 0 && ::setenv("ACL", (root + "/acl").c_str(), 1) == 0 &&
                ::chmod(pack.c_str(), 0640) == 0 && ::chown(pack.c_str(), 0, 4321) == 0 &&
                std::system("setfacl -m u:nobody:r \"$PACK\"") == 0);
    const auto who_may_read = [&] {  // mode, group and ACL, as getfacl shows them
        EXPECT_EQ(std::system("getfacl -np \"$PACK\" >\"$ACL\""), 0);
        return bytes_of(root + "/acl");
    };
    const std::string before = who_may_read();
    const mode_t usual_umask = ::umask(077);
    select(2);
    ::umask(usual_umask);
    EXPECT_EQ(who_may_read(), before);
    // In a user namespace that maps root alone (unshare -r), the group and nobody cannot be given: the mode is kept.
    const pid_t child = ::fork();
    if (child == 0) {
        const bool mapped = ::unshare(CLONE_NEWUSER) == 0 && std::ofstream("/proc/self/uid_map") << "0 0 1" &&
                            std::ofstream("/proc/self/gid_map") << "0 0 1";
        ::_exit(!mapped ? 2 : failure_of([&] { fileio::replace_with_copy(source(3), pack); }).empty() ? 0 : 1);
    }
    int status = 0;  // 2: no user namespace to be had here
    EXPECT_TRUE(::waitpid(child, &status, 0) == child && WEXITSTATUS(status) != 1);
    EXPECT_TRUE(WEXITSTATUS(status) == 2 ? who_may_read() == before
                                         : who_may_read().ends_with("group: 0\nuser::rw-\ngroup::r--\nother::---\n\n"));
    put(pack + ".tmp", "a killed swap's copy, read-only, root's: nobody cannot write it but may replace it");
    fs::permissions(pack + ".tmp", fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    as_nobody_with(mod, static_cast<fs::perms>(0333))(), select(1);  // as nobody until the statement's end
    EXPECT_EQ(message_boxes, (std::vector<std::string>{"Gv Skin selected", "Old Q3 Skin selected"}));
    EXPECT_EQ(bytes_of(pack), bytes_of(source(1)));
}

TEST(File, EndingSoonerThanItsSizeSaysIsTheEndOfTheFile) {                     // as a path file cut short meanwhile
    fileio::File pseudo("/sys/kernel/uevent_seqnum", fileio::OpenMode::read);  // 4096 bytes by its size, a few in fact
    EXPECT_EQ(failure_of([&] { pseudo.last_bytes(1); }), "Error 61: No data available\n/sys/kernel/uevent_seqnum");
}

// As strace sees a swap (the copy opened, filled, flushed, renamed over the pack, the folder flushed),
// and a save (written, then flushed).
TEST_F(Core, DurableStepsInOrder) {
    if (std::getenv("BEAM_ONE_SWAP") != nullptr) {  // the traced run: a swap, then a save
        select(1), select(0);
        return;
    }
    const std::string trace = root + "/trace";
    // Paths reach the shell in variables, whatever they hold; LeakSanitizer cannot run under strace.
    ::setenv("TRACE", trace.c_str(), 1), ::setenv("TESTS", fs::read_symlink("/proc/self/exe").c_str(), 1);
    const char* traced =
        "BEAM_ONE_SWAP=1 ASAN_OPTIONS=detect_leaks=0 strace -f "
        "-e trace=openat,write,copy_file_range,fsync,rename,renameat2 "
        "-o \"$TRACE\" \"$TESTS\" --gtest_filter=Core.DurableStepsInOrder >/dev/null";
    if (std::system("strace -o /dev/null true 2>/dev/null") != 0) {
        GTEST_SKIP() << "strace cannot trace here";
    }
    ASSERT_EQ(std::system(traced), 0);
    const std::regex in_order(R"(pakskin\.pk3\.tmp", O_WRONLY\|O_CREAT[^\n]* = (\d+))"
                              R"([\s\S]*(?:write\(\1,|copy_file_range\(\d+, NULL, \1,)[\s\S]*fsync\(\1\))"
                              R"([\s\S]*rename[^\n]*\.tmp", "[^"]*/pakskin\.pk3"[\s\S]*/grimvolt", [^\n]*O_DIRECTORY)"
                              R"([^\n]* = (\d+)[\s\S]*fsync\(\2\))"
                              R"([\s\S]*q3path\.cfg", O_WRONLY[^\n]* = (\d+)[\s\S]*write\(\3,[\s\S]*fsync\(\3\))");
    EXPECT_TRUE(std::regex_search(bytes_of(trace), in_order)) << bytes_of(trace);
}
#endif

// Events and what the flow asks of the front-end at each, in order; the path file afterwards. A
// failure in an event ends the program with the report, and so does the last window's closing, once.
TEST_F(Core, FlowAsksTheFrontEndToShowAndEnd) {
    const std::string saved = game + "\r\n", seeded = saved + kDefault + "\r\n",
                      out_of_memory = flow::report_text(fileio::out_of_memory_failure());
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"start", "make_windows", "set_prompt_text " + game, "show_chooser", "show_prompt"}, seeded},
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
            {"throws bad_alloc", [] { thrown = std::make_exception_ptr(std::bad_alloc()); }}};
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

// Each records what it is asked; the field holds prompt_text. Making the windows and reading the field throw
// what thrown holds, if anything.
namespace beam::ui {
// clang-format off
void record_or_throw(const char* call) { asked.emplace_back(call); if (thrown) { std::rethrow_exception(thrown); } }
void make_windows() { record_or_throw("make_windows"); }
void set_prompt_text(std::string_view text) { asked.push_back("set_prompt_text " + std::string(text)); }
std::string get_prompt_text() { record_or_throw("get_prompt_text"); return prompt_text; }
void show_chooser() { asked.emplace_back("show_chooser"); }
void show_prompt() { asked.emplace_back("show_prompt"); }
void close_prompt() { asked.emplace_back("close_prompt"); }
void message_box(std::string_view text) { asked.push_back("message_box " + message_boxes.emplace_back(text)); }
void end() { asked.emplace_back("end"); }
// clang-format on
}  // namespace beam::ui
