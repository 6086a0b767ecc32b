#include "skins/skins.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <random>

#include "fileio/fileio.h"
#include "game_folder_test.h"

#ifdef _WIN32
#include <windows.h>

#include "fileio/wide_text.h"
#else
#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>
#include <csignal>
#endif

namespace beam {
namespace {

using testing::kModFiles;
using testing::Names;
using testing::names_in;
using testing::read_file;
using testing::ScratchFolder;
using testing::ui_calls;
using testing::write_file;

class SkinsTest : public testing::GameFolderTest {};

TEST_F(SkinsTest, EachRowPutsItsSourceInPlaceAndConfirms) {
    for (int row : {3, 1, 2, 2}) {
        ui_calls().clear();
        select(row);
        EXPECT_EQ(pack(), read_file(source(row)));
        EXPECT_EQ(ui_calls(), Names{"message_box " +
                                    std::string(skins::kSkins.at(static_cast<std::size_t>(row - 1)).confirmation)});
        EXPECT_EQ(names_in(mod_folder_), kModFiles);
    }
    EXPECT_EQ(ui_calls(), Names{"message_box Gv Skin selected"});
}

TEST_F(SkinsTest, GameFolderIsUsedAsItStands) {
    store_.save(game_folder_ + "/");  // a trailing slash gives ".../game//grimvolt/..."
    select(1);
    EXPECT_EQ(pack(), read_file(source(1)));
    EXPECT_EQ(ui_calls(), Names{"message_box Old Q3 Skin selected"});
}

TEST_F(SkinsTest, EveryClickReadsThePathFileAfresh) {
    ScratchFolder other;
    write_file(other.path("grimvolt/pakskin.pk3"), "other pack");
    write_file(other.path("grimvolt/skindata2.ncx"), "other source");
    store_.save(other.path());
    select(2);
    EXPECT_EQ(read_file(other.path("grimvolt/pakskin.pk3")), "other source");
    EXPECT_EQ(pack(), kOldPack);
}

TEST_F(SkinsTest, MissingActivePackCopiesNothing) {
    std::filesystem::remove(testing::native_path(mod_folder_ + "/pakskin.pk3"));
    select(1);
    expect_reported_failure(2, mod_folder_ + "/pakskin.pk3");
    EXPECT_EQ(names_in(mod_folder_), (Names{"skindata1.ncx", "skindata2.ncx", "skindata3.ncx"}));

    testing::reset_ui();
    store_.save(folder_.path("no such game"));
    select(1);
    ASSERT_FALSE(ui_calls().empty());
    EXPECT_TRUE(ui_calls()[0].ends_with("\n" + folder_.path("no such game/grimvolt/pakskin.pk3")));
}

TEST_F(SkinsTest, MissingSourceKeepsTheActivePack) {
    std::filesystem::remove(testing::native_path(source(3)));
    select(3);
    expect_reported_failure(2, source(3));
    EXPECT_EQ(pack(), kOldPack);
    EXPECT_EQ(names_in(mod_folder_), (Names{"pakskin.pk3", "skindata1.ncx", "skindata2.ncx"}));
}

TEST_F(SkinsTest, PathFileEmptiedBeforeAClick) {
    store_.close();
    write_file(folder_.path("q3path.cfg"), "");
    select(1);
    expect_reported_failure(62, folder_.path("q3path.cfg"));
    EXPECT_EQ(pack(), kOldPack);
}

TEST_F(SkinsTest, ReadOnlySourceLeavesAReplaceablePack) {
    std::filesystem::permissions(testing::native_path(source(1)), std::filesystem::perms::owner_write,
                                 std::filesystem::perm_options::remove);
    select(1);
    select(2);
    EXPECT_EQ(pack(), read_file(source(2)));
    EXPECT_EQ(ui_calls().back(), "message_box Gv Skin selected");
}

TEST_F(SkinsTest, SourceThatIsThePackItselfIsLeftWhole) {
    std::filesystem::remove(testing::native_path(source(1)));
    std::filesystem::create_hard_link(testing::native_path(mod_folder_ + "/pakskin.pk3"),
                                      testing::native_path(source(1)));
    select(1);
    EXPECT_EQ(pack(), kOldPack);
    EXPECT_EQ(ui_calls(), Names{"message_box Old Q3 Skin selected"});
}

TEST_F(SkinsTest, LargeSourceIsCopiedByteForByte) {
    std::string large(std::size_t{64} << 20, '\0');
    std::mt19937 bytes(7);
    for (char& byte : large) {
        byte = static_cast<char>(bytes());
    }
    write_file(source(3), large);
    select(3);
    EXPECT_TRUE(pack() == large);
    EXPECT_EQ(names_in(mod_folder_), kModFiles);
}

#ifdef _WIN32

// A running game holds its pack open without sharing deletion.
TEST_F(SkinsTest, PackHeldByTheGameIsLeftWhole) {
    HANDLE held = CreateFileW(to_wide(mod_folder_ + "/pakskin.pk3").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    select(2);
    CloseHandle(held);
    ASSERT_EQ(ui_calls().size(), 2U);
    EXPECT_TRUE(ui_calls()[0].starts_with("message_box Error ")) << ui_calls()[0];
    EXPECT_TRUE(ui_calls()[0].ends_with("\n" + mod_folder_ + "/pakskin.pk3")) << ui_calls()[0];
    EXPECT_EQ(pack(), kOldPack);
    EXPECT_EQ(names_in(mod_folder_), kModFiles);
}

#else

// On Linux an open descriptor does not stand in the way; the holder keeps reading the old bytes.
TEST_F(SkinsTest, PackHeldOpenIsStillReplaced) {
    const int held = ::open((mod_folder_ + "/pakskin.pk3").c_str(), O_RDONLY);
    ASSERT_GE(held, 0);
    select(2);
    char old[sizeof "the pack"] = {};
    EXPECT_EQ(::read(held, old, sizeof old - 1), static_cast<ssize_t>(sizeof old - 1));
    ::close(held);
    EXPECT_STREQ(old, "the pack");
    EXPECT_EQ(pack(), read_file(source(2)));
}

// A mod folder on a small file system that the copy fills up.
TEST_F(SkinsTest, DiskFullDuringTheCopyKeepsThePack) {
    if (::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
        GTEST_SKIP() << "cannot make a private mount namespace here (needs root): " << std::strerror(errno);
    }
    const std::string small_disk = folder_.path("small");
    std::filesystem::create_directory(small_disk);
    if (::mount("tmpfs", small_disk.c_str(), "tmpfs", 0, "size=1m") != 0) {
        GTEST_SKIP() << "cannot mount a tmpfs here: " << std::strerror(errno);
    }
    struct Unmount {
        std::string path;
        ~Unmount() { ::umount2(path.c_str(), MNT_DETACH); }
    } unmount{small_disk};

    write_file(small_disk + "/grimvolt/pakskin.pk3", std::string(300U << 10, 'o'));
    write_file(small_disk + "/grimvolt/skindata1.ncx", std::string(600U << 10, 'n'));
    store_.save(small_disk);
    select(1);
    expect_reported_failure(ENOSPC, small_disk + "/grimvolt/pakskin.pk3");
    EXPECT_EQ(read_file(small_disk + "/grimvolt/pakskin.pk3"), std::string(300U << 10, 'o'));
    EXPECT_EQ(names_in(small_disk + "/grimvolt"), (Names{"pakskin.pk3", "skindata1.ncx"}));
}

#endif

}  // namespace
}  // namespace beam
