// A hand-mangled path file and odd game folders: each gives a clear error report or a sound
// swap, never a crash, never a changed pack or path file.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "game_folder_test.h"

#ifdef _WIN32
#include <windows.h>

#include "fileio/wide_text.h"
#endif

namespace beam {
namespace {

using testing::kModFiles;
using testing::names_in;
using testing::read_file;
using testing::ui_calls;
using testing::write_file;

#ifdef _WIN32
constexpr int kInvalidName = ERROR_INVALID_NAME;
constexpr int kNoSuchFolder = ERROR_PATH_NOT_FOUND;
constexpr int kNameTooLong = ERROR_PATH_NOT_FOUND;
constexpr int kNotAFolder = ERROR_PATH_NOT_FOUND;
#else
constexpr int kInvalidName = EINVAL;
constexpr int kNoSuchFolder = ENOENT;
constexpr int kNameTooLong = ENAMETOOLONG;
constexpr int kNotAFolder = ENOTDIR;
#endif

const std::string kEte = "\xC3\xA9t\xC3\xA9";                      // été
const std::string kCyrillic = "\xD0\x98\xD0\xB3\xD1\x80\xD1\x8B";  // Игры
const std::string kChinese = "\xE6\xB8\xB8\xE6\x88\x8F";           // 游戏

class BadInputTest : public testing::GameFolderTest {
  protected:
    [[nodiscard]] std::string path_file() const { return store_.path_file(); }

    // Puts bytes in the path file as a hand editor would leave them.
    void write_path_file(const std::string& bytes) {
        store_.close();
        write_file(path_file(), bytes);
    }

    // The selection ended in the error report, and neither the mod folder nor the path file changed.
    void expect_refused(int error_number, const std::string& reported_path) {
        const std::string path_file_before = read_file(path_file());
        select(1);
        expect_reported_failure(error_number, reported_path);
        EXPECT_EQ(pack(), kOldPack);
        EXPECT_EQ(names_in(mod_folder_), kModFiles);
        store_.close();
        EXPECT_TRUE(read_file(path_file()) == path_file_before);
    }
};

// The OS takes a path up to its first NUL: a field with one would name another file.
TEST_F(BadInputTest, NulInTheFirstFieldIsAnInvalidName) {
    write_path_file(mod_folder_ + "/pakskin.pk3" + std::string(1, '\0') + "more\r\n");
    expect_refused(kInvalidName, mod_folder_ + "/pakskin.pk3\\0more/grimvolt/pakskin.pk3");
}

TEST_F(BadInputTest, BlankOrQuoteOnlyFieldIsTheEmptyFolder) {
    for (const std::string line : {"   \t \r\n", "\"\r\n", "\"\"\r\n"}) {
        testing::reset_ui();
        write_path_file(line);
        EXPECT_EQ(store_.read(), "");
        expect_refused(kNoSuchFolder, "/grimvolt/pakskin.pk3");
    }
}

TEST_F(BadInputTest, TenMegabyteFirstLineIsReadAndShownShortened) {
    const std::string huge(10U << 20, 'a');
    write_path_file(huge + "\r\n" + game_folder_ + "\r\n");
    EXPECT_TRUE(store_.read() == huge);
    select(1);
    ASSERT_EQ(ui_calls().size(), 2U);
    EXPECT_TRUE(ui_calls()[0].starts_with("message_box Error ")) << ui_calls()[0].substr(0, 80);
    EXPECT_LT(ui_calls()[0].size(), 1000U);
    const std::string& report = ui_calls()[0];
    EXPECT_NE(report.find("aaa...aaa"), std::string::npos) << report;
    EXPECT_TRUE(report.ends_with("aaa/grimvolt/pakskin.pk3")) << report;
    EXPECT_EQ(pack(), kOldPack);
}

TEST_F(BadInputTest, LongestWindowsPathRoundTripsAndIsRefusedWhole) {
    const std::string longest = folder_.path("") + "/" + std::string(32767 - folder_.path("").size() - 1, 'g');
    ASSERT_EQ(longest.size(), 32767U);
    store_.save(longest);
    EXPECT_EQ(store_.read(), longest);
    testing::reset_ui();
    select(2);
    ASSERT_EQ(ui_calls().size(), 2U);
    EXPECT_TRUE(ui_calls()[0].starts_with("message_box Error " + std::to_string(kNameTooLong) + ": "))
        << ui_calls()[0].substr(0, 80);
    EXPECT_EQ(pack(), kOldPack);
}

TEST_F(BadInputTest, GameFolderThatIsAFile) {
    const std::string file = folder_.path("a file");
    write_file(file, "not a folder");
    store_.save(file);
    expect_refused(kNotAFolder, file + "/grimvolt/pakskin.pk3");
    EXPECT_EQ(read_file(file), "not a folder");
}

#ifdef _WIN32

// The path file is in the ANSI code page: é is one byte there, and its UTF-8 form is two other letters.
TEST_F(BadInputTest, CodePageBytesNameTheFolder) {
    ASSERT_EQ(GetACP(), 1252U) << "these bytes assume Windows-1252";
    const std::string game = folder_.path(kEte);
    write_file(game + "/grimvolt/pakskin.pk3", "old");
    write_file(game + "/grimvolt/skindata1.ncx", "new");
    write_path_file(folder_.path("") + "/\xE9t\xE9\r\n");
    select(1);
    EXPECT_EQ(ui_calls(), testing::Names{"message_box Old Q3 Skin selected"});
    EXPECT_EQ(read_file(game + "/grimvolt/pakskin.pk3"), "new");

    testing::reset_ui();
    write_path_file(folder_.path("") + "/" + kEte + "\r\n");  // UTF-8 bytes: "Ã©tÃ©" in the code page
    select(1);
    ASSERT_EQ(ui_calls().size(), 2U);
    EXPECT_TRUE(ui_calls()[0].starts_with("message_box Error 3: ")) << ui_calls()[0];
}

#else

// The path file is UTF-8 on Linux, but a folder name is any bytes: they are used as they stand.
TEST_F(BadInputTest, InvalidUtf8NamesTheFolderByItsBytes) {
    const std::string game = folder_.path("\xE9t\xE9\xFF");
    write_file(game + "/grimvolt/pakskin.pk3", "old");
    write_file(game + "/grimvolt/skindata1.ncx", "new");
    write_path_file(game + "\r\n");
    select(1);
    EXPECT_EQ(ui_calls(), testing::Names{"message_box Old Q3 Skin selected"});
    EXPECT_EQ(read_file(game + "/grimvolt/pakskin.pk3"), "new");

    testing::reset_ui();
    write_path_file(folder_.path("") + "/\xE9t\xE9\r\n");  // Windows-1252 bytes, no such folder
    expect_refused(ENOENT, folder_.path("") + "/\xE9t\xE9/grimvolt/pakskin.pk3");
}

#endif

// "ok" then a click, for game folders named in three scripts.
TEST_F(BadInputTest, NonAsciiGameFolders) {
    for (const std::string& name : {kEte, kCyrillic, kChinese}) {
        SCOPED_TRACE(name);
        testing::reset_ui();
        const std::string game = folder_.path(name);
        write_file(game + "/grimvolt/pakskin.pk3", "old " + name);
        write_file(game + "/grimvolt/skindata3.ncx", "new " + name);
        testing::prompt_text() = game;
        flow::run(store_, [this] { flow::ok(store_); });
        store_.close();
#ifdef _WIN32
        if (name != kEte) {
            // Windows-1252 has no Cyrillic or Chinese letters: the folder's short name stands in.
            wchar_t short_path[MAX_PATH] = {};
            const DWORD length = GetShortPathNameW(to_wide(game).c_str(), short_path, MAX_PATH);
            if (length == 0 || std::wstring_view(short_path, length) == to_wide(game)) {
                std::cout << "no short name for " << name << " here: the save must fail with 1113\n";
                expect_reported_failure(ERROR_NO_UNICODE_TRANSLATION, store_.path_file());
                EXPECT_EQ(read_file(store_.path_file()), game_folder_ + "\r\n");
                continue;
            }
            EXPECT_EQ(read_file(store_.path_file()), to_utf8({short_path, length}) + "\r\n");
        }
#endif
        ASSERT_EQ(ui_calls(), (testing::Names{"get_prompt_text", "close_prompt"}));
        testing::reset_ui();
        select(3);
        EXPECT_EQ(ui_calls(), testing::Names{"message_box Metal Skins selected"});
        EXPECT_EQ(read_file(game + "/grimvolt/pakskin.pk3"), "new " + name);
        EXPECT_EQ(names_in(game + "/grimvolt"), (testing::Names{"pakskin.pk3", "skindata3.ncx"}));
        store_.save(game_folder_);
    }
}

}  // namespace
}  // namespace beam
