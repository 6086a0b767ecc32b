// The portable core on real files in a scratch folder; the front-end here only records its message boxes.

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <random>
#include <regex>
#include <thread>
#include <tuple>

#include "file_bytes.h"
#include "fileio/fileio.h"
#include "flow/flow.h"
#include "flow/ui.h"
#include "skins/skins.h"

#ifdef _WIN32
#include <windows.h>
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
constexpr const char* kDefault = "c:/program files/Quake III Arena";
constexpr const char* kOldPack = "the pack in effect\r\n\x1a as the player left it";

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
    void TearDown() override {
        store.close();
        fs::remove_all(root);
    }
    [[nodiscard]] std::string source(int row) const { return mod + "/skindata" + std::to_string(row) + ".ncx"; }
    [[nodiscard]] auto files() const { return std::distance(fs::directory_iterator(mod), fs::directory_iterator()); }
    [[nodiscard]] std::map<std::string, std::string> mod_folder() const {
        std::map<std::string, std::string> files;
        for (const fs::directory_entry& entry : fs::directory_iterator(mod)) {
            files[entry.path().filename().string()] = entry.is_directory() ? "a folder" : bytes_of(entry.path());
        }
        return files;
    }
    // As the front-end runs a click: a failure ends in the error report.
    void select(int row) {
        flow::run(store, [&] { skins::select(store, skins::kSkins.at(static_cast<std::size_t>(row - 1))); });
    }
    // Each fault, on a fresh game folder, ends in the error report; the mod folder keeps every byte, gains no file.
    void expect_nothing_lost(std::initializer_list<Fault> faults) {
        for (const auto& [row, make, number, reported] : faults) {
            SCOPED_TRACE(reported);
            fs::remove_all(mod);
            SetUp();
            const std::shared_ptr<void> fault = make();
            const auto before = mod_folder();
            select(row);
            EXPECT_EQ(mod_folder(), before);
            ASSERT_EQ(message_boxes.size(), 1U);
            // "Error 2: No such file or directory" and the path below: the system's text, CR LF trimmed.
            const std::string& report = message_boxes[0];
            const std::size_t line_end = report.find('\n');
            EXPECT_EQ(number == 0 ? report : report.substr(line_end + 1), reported);
            EXPECT_TRUE(number == 0 || (report.starts_with("Error " + std::to_string(number) + ": ") && line_end > 10 &&
                                        report[line_end - 1] != '\r'))
                << report;
            EXPECT_TRUE(number != 62 || report.starts_with("Error 62: Input past end of file\n")) << report;
        }
    }

    std::string root =
        (fs::temp_directory_path() / ("beam-" + std::to_string(std::random_device{}()))).generic_string();
    std::string path_file = root + "/q3path.cfg";
    std::string game = root + "/game/";
    std::string mod = game + "/grimvolt";
    std::string pack = mod + "/pakskin.pk3";
    PathStore store{path_file, kDefault};
};

// File before (none if empty); steps ("start" seeds, reads; "save TEXT"; "second": another copy seeds); after.
TEST_F(Core, PathFileBytesAfterStartsSavesAndReads) {
    const std::string line = std::string(kDefault) + "\r\n";
    const std::tuple<std::string, std::vector<std::string>, std::string, std::string> cases[] = {
        {"", {"start"}, line, kDefault},
        {"", {"start", "start", "start"}, line + line + line, kDefault},
        {"", {"save d:/games/q3", "start"}, "d:/games/q3\r\n" + line, "d:/games/q3"},
        {"", {"save ", "start"}, "\r\n" + line, ""},
        {"", {"start", "save d:/games,q3"}, "d:/games,q3\r\n", "d:/games"},   // on disk before the slot closes
        {"d:/games/q3", {"start"}, "d:/games/q3\r\n" + line, "d:/games/q3"},  // hand-edited, no line end
        {"", {"save d:/games/q3", "second"}, "d:/games/q3\r\nd:/second\r\n", "d:/games/q3"},  // the slot still open
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
        parser.feed(file);
        EXPECT_EQ(parser.field(), field) << file;
    }
}

TEST_F(Core, SwapFailuresLoseNothing) {
#ifdef _WIN32
    const auto [invalid_name, no_folder, is_a_folder] =
        std::array{ERROR_INVALID_NAME, ERROR_PATH_NOT_FOUND, ERROR_ACCESS_DENIED};
#else
    const auto [invalid_name, no_folder, is_a_folder] = std::array{EINVAL, ENOENT, EISDIR};
#endif
    expect_nothing_lost({
        {1, [&] { return fs::remove(pack), nullptr; }, 2, pack},
        {3, [&] { return fs::remove(source(3)), nullptr; }, 2, source(3)},
        {1, [&] { return put(path_file, ""), nullptr; }, 62, path_file},
        // read afresh on every click: here it names a game folder that does not exist
        {1, [&] { return store.read(), store.save(root + "/other"), nullptr; }, no_folder,
         root + "/other/grimvolt/pakskin.pk3"},
        {1, [&] { return put(path_file, pack + '\0' + "x\r\n"), nullptr; }, invalid_name,
         pack + "\\0x/grimvolt/pakskin.pk3"},
        {1, [&] { return fs::remove(source(1)), fs::create_hard_link(pack, source(1)), nullptr; }, 0,
         "Old Q3 Skin selected"},
        {2, [&] { return fs::remove(source(2)), fs::create_directory(source(2)), nullptr; }, is_a_folder, source(2)},
#ifdef _WIN32  // held open, as by a game that reads it with the C runtime
        {2, [&] { return std::make_shared<std::ifstream>(pack); }, ERROR_SHARING_VIOLATION, pack},
#endif
    });
}

// Two swaps of one pack at once both succeed, whole, while a scanner holds each fresh copy for a moment.
TEST_F(Core, TwoSwapsOfOnePackAtOnceAndAScannerAllSucceed) {
    put(source(1), std::string(8U << 20, '1'));
    put(source(2), std::string(8U << 20, '2'));
    const std::jthread scanner([&](const std::stop_token& swapping) {
        for (fs::path scanned; !swapping.stop_requested();) {
            std::error_code gone;
            for (const auto& entry : fs::directory_iterator(mod, gone)) {
                if (entry.path().extension() == ".tmp" && entry.path() != scanned) {
                    const std::ifstream held(scanned = entry.path());
                    std::this_thread::sleep_for(std::chrono::milliseconds(200));
                }
            }
        }
    });
    const auto swap = [&](int row) { EXPECT_NO_THROW(fileio::replace_with_copy(source(row), pack)); };
    for (int round = 1; round <= 5; ++round) {
        std::thread other(swap, 1);
        swap(2);
        other.join();
        const std::string now = bytes_of(pack);
        EXPECT_TRUE(now == bytes_of(source(1)) || now == bytes_of(source(2))) << "round " << round;
        EXPECT_EQ(files(), 4) << "round " << round;
    }
}

// A mangled path file may name a huge folder: the report keeps both ends and never cuts a character in two.
TEST(ErrorReport, VeryLongPathIsShortenedInItsMiddle) {
    std::string path = "/";
    for (int letter = 0; letter < 1000; ++letter) {
        path += "\xC3\xA9";  // é: byte 400 is the second of a letter, so the head stops before it
    }
    EXPECT_EQ(report_text({2, "No such file", path}),
              "Error 2: No such file\n" + path.substr(0, 399) + "..." + path.substr(path.size() - 400));
}

#ifdef _WIN32
// A folder the ANSI code page cannot spell (here Cyrillic) is saved by its short name or refused untouched.
TEST_F(Core, FolderTheCodePageCannotSpellIsSavedByItsShortNameOrRefused) {
    const std::string cyrillic = root + "/\xD0\x98\xD0\xB3\xD1\x80\xD1\x8B";
    const fs::path folder(std::u8string(cyrillic.begin(), cyrillic.end()));
    for (const bool exists : {true, false}) {
        store.save(game);
        exists ? (void)fs::create_directory(folder) : (void)fs::remove(folder);
        try {
            store.save(cyrillic);
            EXPECT_TRUE(exists && fs::equivalent(store.read(), folder)) << store.read();
        } catch (const Failure& failure) {
            EXPECT_EQ(failure.number, ERROR_NO_UNICODE_TRANSLATION);
            EXPECT_EQ(bytes_of(path_file), game + "\r\n");
        }
    }
}
#else
// Root's faults, for this process alone: a full disk, a file-size limit, an immutable folder, an unreadable source.
TEST_F(Core, FullDiskFileSizeLimitUnwritableFolderAndUnreadableSourceLoseNothing) {
    if (::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
        GTEST_SKIP() << "cannot make a mount namespace of this process's own: " << std::strerror(errno);
    }
    const auto undo = [](auto action) { return std::shared_ptr<void>(nullptr, [action](void*) { action(); }); };
    const auto small_disk = [&] {
        EXPECT_EQ(::mount("tmpfs", mod.c_str(), "tmpfs", 0, "size=1m"), 0) << std::strerror(errno);
        put(pack, kOldPack);
        put(source(3), std::string(600U << 10, '3'));  // the copy does not fit beside it
        return undo([this] { ::umount2(mod.c_str(), MNT_DETACH); });
    };
    const auto file_size_limit = [&] {
        ::signal(SIGXFSZ, SIG_IGN);  // the write fails instead of ending the process
        static constexpr rlimit kSmall{2000, RLIM_INFINITY};
        static constexpr rlimit kNone{RLIM_INFINITY, RLIM_INFINITY};
        ::setrlimit(RLIMIT_FSIZE, &kSmall);
        return undo([] { ::setrlimit(RLIMIT_FSIZE, &kNone); });
    };
    const auto immutable_folder = [&] {
        EXPECT_EQ(std::system(("chattr +i " + mod).c_str()), 0);
        return undo([this] { EXPECT_EQ(std::system(("chattr -i " + mod).c_str()), 0); });
    };
    const auto unreadable_source = [&] {
        fs::permissions(source(3), fs::perms::none);
        ::setfsuid(65534);  // as nobody, whom the mode keeps out, unlike root
        return undo([] { ::setfsuid(0); });
    };
    expect_nothing_lost({{3, small_disk, ENOSPC, pack},
                         {3, file_size_limit, EFBIG, pack},
                         {3, immutable_folder, EPERM, pack},
                         {3, unreadable_source, EACCES, source(3)}});
}

// Memory that runs out, for a path file whose first line is a gigabyte of NULs, ends in the error report.
TEST_F(Core, OutOfMemoryEndsInTheErrorReport) {
#ifdef BEAM_SANITIZE
    GTEST_SKIP() << "AddressSanitizer ends the process where memory runs out";
#endif
    fs::resize_file(path_file, 0);
    fs::resize_file(path_file, std::uintmax_t{1} << 30);
    const auto start_in_64_megabytes = [&] {
        const rlimit data_limit{64U << 20, 64U << 20};
        ::setrlimit(RLIMIT_DATA, &data_limit);
        flow::run(store, [&] { flow::start_up(store); });
        std::fputs(message_boxes.at(0).c_str(), stderr);
        std::exit(0);
    };
    EXPECT_EXIT(start_in_64_megabytes(), ::testing::ExitedWithCode(0), "^Error 12: Cannot allocate memory$");
}

// The new pack keeps the old mode and group whatever the umask; a write-only (0333) mod folder fails nothing.
TEST_F(Core, NewPackKeepsModeAndGroupAndAWriteOnlyFolderFailsNothing) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "needs root, to give the pack another group and to be a user who is not";
    }
    ASSERT_TRUE(::chmod(pack.c_str(), 0640) == 0 && ::chown(pack.c_str(), 0, 4321) == 0);
    const mode_t usual_umask = ::umask(077);
    select(2);
    ::umask(usual_umask);
    struct stat status = {};
    EXPECT_TRUE(::stat(pack.c_str(), &status) == 0 && (status.st_mode & 07777U) == 0640U && status.st_gid == 4321U);
    ::chmod(mod.c_str(), 0333);
    ::setfsuid(65534);
    select(1);
    ::setfsuid(0);
    ::chmod(mod.c_str(), 0755);
    EXPECT_EQ(message_boxes, (std::vector<std::string>{"Gv Skin selected", "Old Q3 Skin selected"}));
    EXPECT_EQ(bytes_of(pack), bytes_of(source(1)));
}

// kill -9 mid-copy leaves the pack and one temporary copy, which the next swap removes before its own.
TEST_F(Core, KillDuringASwapLeavesThePackWhole) {
    put(source(1), std::string(64U << 20, 'n'));  // long enough to copy to be caught at it
    const pid_t swap = ::fork();
    if (swap == 0) {
        fileio::replace_with_copy(source(1), pack);
        ::_exit(0);
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (files() < 5 && std::chrono::steady_clock::now() < deadline) {  // until the copy has begun
        std::this_thread::sleep_for(std::chrono::microseconds(100));
    }
    ::kill(swap, SIGKILL);
    ::waitpid(swap, nullptr, 0);
    EXPECT_EQ(files(), 5) << "the copy was not under way";
    EXPECT_EQ(bytes_of(pack), kOldPack);
    select(1);
    EXPECT_TRUE(bytes_of(pack) == bytes_of(source(1))) << "a large copy byte for byte";
    EXPECT_EQ(files(), 4);
}

// As strace sees a swap: the copy created exclusively and flushed, renamed over the pack, the folder flushed.
TEST_F(Core, DurableStepsInOrder) {
    if (std::getenv("BEAM_ONE_SWAP") != nullptr) {  // the traced run
        select(1);
        return;
    }
    const std::string trace = root + "/trace";
    const std::string self = fs::read_symlink("/proc/self/exe").string() + " --gtest_filter=Core.DurableStepsInOrder";
    // LeakSanitizer, in the sanitizer tree, cannot run under strace.
    const std::string strace =
        "BEAM_ONE_SWAP=1 ASAN_OPTIONS=detect_leaks=0 strace -f -e trace=openat,fsync,rename,renameat2";
    if (std::system((strace + " -o " + trace + " " + self + " >/dev/null").c_str()) != 0) {
        GTEST_SKIP() << "strace cannot trace here";
    }
    const std::regex in_order(
        R"(pakskin\.pk3\.[0-9a-f]{8}\.tmp", [^\n]*O_CREAT\|O_EXCL[^\n]* = (\d+)[\s\S]*fsync\(\1\))"
        R"([\s\S]*rename[^\n]*\.tmp", "[^"]*/pakskin\.pk3"[\s\S]*/grimvolt", [^\n]*O_DIRECTORY)"
        R"([^\n]* = (\d+)[\s\S]*fsync\(\2\))");
    EXPECT_TRUE(std::regex_search(bytes_of(trace), in_order)) << bytes_of(trace);
}
#endif

}  // namespace
}  // namespace beam

namespace beam::ui {

void set_prompt_text(std::string_view /*text*/) {}
std::string get_prompt_text() {
    return {};
}
void show_chooser() {}
void close_prompt() {}
void message_box(std::string_view text) {
    message_boxes.emplace_back(text);
}
void end() {}

}  // namespace beam::ui
