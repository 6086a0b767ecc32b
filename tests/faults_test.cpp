// Faults around the swap that a test can cause from its own process, or with a helper process
// holding the pack as a running game does. The ones that need the swap in a process of its own
// (a file-size limit, kill -9, strace) are in faults/swap_faults.sh.

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>

#include "fileio/fileio.h"
#include "game_folder_test.h"

#ifdef _WIN32
#include <windows.h>

#include "fileio/wide_text.h"
#endif

namespace beam {
namespace {

using testing::kModFiles;
using testing::Names;
using testing::names_in;
using testing::read_file;
using testing::ui_calls;
using testing::write_file;

class FaultsTest : public testing::GameFolderTest {};

// A swap killed before its rename leaves "<pack>.<8 hex>.tmp"; the next swap removes exactly
// those, and nothing else that merely looks alike.
TEST_F(FaultsTest, NextSwapRemovesLeftoverCopiesOfThePackOnly) {
    const Names leftovers{"pakskin.pk3.0123abcd.tmp", "pakskin.pk3.89ef4567.tmp"};
    const Names look_alikes{"other.pk3.0123abcd.tmp",    "pakskin.pk3.0123abc.tmp",      "pakskin.pk3.0123abcg.tmp",
                            "pakskin.pk3.0123abcd.tmpx", "pakskin.pk3.0123abcd.tmp.bak", "xpakskin.pk3.0123abcd.tmp"};
    for (const std::string& name : leftovers) {
        write_file(mod_folder_ + "/" + name, "part of a copy");
    }
    for (const std::string& name : look_alikes) {
        write_file(mod_folder_ + "/" + name, "somebody else's");
    }
    // A copy of a read-only source is read-only too until the swap clears it.
    std::filesystem::permissions(testing::native_path(mod_folder_ + "/" + leftovers[1]),
                                 std::filesystem::perms::owner_write, std::filesystem::perm_options::remove);

    select(2);
    EXPECT_EQ(ui_calls(), Names{"message_box Gv Skin selected"});
    EXPECT_EQ(pack(), read_file(source(2)));
    Names expected = kModFiles;
    expected.insert(expected.end(), look_alikes.begin(), look_alikes.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(names_in(mod_folder_), expected);
}

TEST_F(FaultsTest, SwapOfThePackWithItselfChangesNothing) {
    const std::string pack_path = mod_folder_ + "/pakskin.pk3";
    fileio::replace_with_copy(pack_path, pack_path);
    EXPECT_EQ(pack(), kOldPack);
    EXPECT_EQ(names_in(mod_folder_), kModFiles);
#ifndef _WIN32
    std::filesystem::remove(source(1));
    std::filesystem::create_symlink("pakskin.pk3", source(1));
    select(1);
    EXPECT_EQ(ui_calls(), Names{"message_box Old Q3 Skin selected"});
    EXPECT_EQ(pack(), kOldPack);
#endif
}

// The path file removed while the program runs: the next click cannot read the game folder.
TEST_F(FaultsTest, PathFileRemovedBeforeAClickKeepsThePack) {
    store_.close();
    std::filesystem::remove(testing::native_path(store_.path_file()));
    select(1);
    expect_reported_failure(2, store_.path_file());
    EXPECT_EQ(pack(), kOldPack);
    EXPECT_EQ(names_in(mod_folder_), kModFiles);
}

#ifdef _WIN32

struct HandleCloser {
    void operator()(HANDLE handle) const { CloseHandle(handle); }
};
using OwnedHandle = std::unique_ptr<void, HandleCloser>;

// hold_file.exe, from beside this test program, holding a file open from another process.
class Holder {
  public:
    Holder(const std::string& path, DWORD milliseconds) {
        static int count = 0;
        const std::wstring name =
            L"beam-hold-" + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(++count);
        ready_.reset(CreateEventW(nullptr, TRUE, FALSE, (name + L"-ready").c_str()));
        release_.reset(CreateEventW(nullptr, TRUE, FALSE, (name + L"-release").c_str()));
        wchar_t self[MAX_PATH] = {};
        const std::wstring exe =
            std::filesystem::path(std::wstring(self, GetModuleFileNameW(nullptr, self, MAX_PATH))).parent_path() /
            L"hold_file.exe";
        std::wstring command = L"\"" + exe + L"\" \"" + to_wide(path) + L"\" " + name + L"-ready " + name +
                               L"-release " + std::to_wstring(milliseconds);
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION process{};
        if (!CreateProcessW(exe.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                            &process)) {
            throw std::runtime_error("cannot start hold_file.exe: " + std::to_string(GetLastError()));
        }
        CloseHandle(process.hThread);
        process_.reset(process.hProcess);
        const HANDLE started[] = {ready_.get(), process_.get()};
        if (WaitForMultipleObjects(2, started, FALSE, 10000) != WAIT_OBJECT_0) {
            throw std::runtime_error("hold_file.exe did not take the file");
        }
    }
    Holder(const Holder&) = delete;
    Holder& operator=(const Holder&) = delete;
    ~Holder() { let_go(); }

    // Returns once the holder has let go and ended.
    void let_go() {
        SetEvent(release_.get());
        WaitForSingleObject(process_.get(), 10000);
    }

  private:
    OwnedHandle ready_;
    OwnedHandle release_;
    OwnedHandle process_;
};

using Clock = std::chrono::steady_clock;

// A running game holds its pack open without sharing deletion: the swap retries for about a
// second, as virus scanners hold fresh files for a moment, then reports the pack in use.
TEST_F(FaultsTest, PackHeldByAnotherProcessIsReportedInUseAfterRetries) {
    Holder game(mod_folder_ + "/pakskin.pk3", INFINITE);
    const Clock::time_point start = Clock::now();
    select(2);
    const auto waited = Clock::now() - start;
    game.let_go();
    // Windows words it "...being used by another process", Wine "Sharing violation".
    expect_reported_failure(ERROR_SHARING_VIOLATION, mod_folder_ + "/pakskin.pk3");
    EXPECT_GE(waited, std::chrono::milliseconds(800));
    EXPECT_EQ(pack(), kOldPack);
    EXPECT_EQ(names_in(mod_folder_), kModFiles);
}

TEST_F(FaultsTest, HolderThatLetsGoWithinTheRetriesIsWaitedFor) {
    Holder scanner(mod_folder_ + "/pakskin.pk3", 300);
    select(2);
    EXPECT_EQ(ui_calls(), Names{"message_box Gv Skin selected"});
    EXPECT_EQ(pack(), read_file(source(2)));
    EXPECT_EQ(names_in(mod_folder_), kModFiles);
}

// A source another program holds without sharing reading cannot be copied.
TEST_F(FaultsTest, UnreadableSourceKeepsThePack) {
    const OwnedHandle locked(CreateFileW(to_wide(source(3)).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                         FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_NE(locked.get(), INVALID_HANDLE_VALUE);
    select(3);
    expect_reported_failure(ERROR_SHARING_VIOLATION, source(3));
    EXPECT_EQ(pack(), kOldPack);
    EXPECT_EQ(names_in(mod_folder_), kModFiles);
}

#endif

}  // namespace
}  // namespace beam
