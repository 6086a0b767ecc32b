// The portable core on real files in a scratch folder: the path file, the selection, the swap's
// failures and the error report. The front-end here only records its message boxes.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <random>

#include "flow/flow.h"
#include "flow/ui.h"
#include "skins/skins.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace beam {
namespace {

namespace fs = std::filesystem;
using Files = std::map<std::string, std::string>;

std::vector<std::string> message_boxes;
constexpr const char* kDefault = "c:/program files/Quake III Arena";

std::string bytes_of(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}
void put(const fs::path& path, const std::string& bytes) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << bytes;
}

// A game folder, named with a trailing slash that the paths keep, holding an active pack and three
// skin sources of distinct bytes.
class Core : public ::testing::Test {
  protected:
    void SetUp() override {
        message_boxes.clear();
        put(pack, "the pack in effect\r\n\x1a as the player left it");
        for (int row = 1; row <= 3; ++row) {
            put(source(row), std::string(1000U * static_cast<unsigned>(row), static_cast<char>('0' + row)));
        }
        store.save(game);
    }
    void TearDown() override {
        store.close();
        std::error_code ignored;  // a read-only file may stay behind on Windows
        fs::remove_all(root, ignored);
    }
    [[nodiscard]] std::string source(int row) const { return mod + "/skindata" + std::to_string(row) + ".ncx"; }
    [[nodiscard]] Files mod_folder() const {
        Files files;
        for (const fs::directory_entry& entry : fs::directory_iterator(mod)) {
            files[entry.path().filename().string()] = bytes_of(entry.path());
        }
        return files;
    }
    // As the front-end runs a click: a failure ends in the error report.
    void select(int row) {
        flow::run(store, [&] { skins::select(store, skins::kSkins.at(static_cast<std::size_t>(row - 1))); });
    }

    std::string root =
        (fs::temp_directory_path() / ("beam-" + std::to_string(std::random_device{}()))).generic_string();
    std::string path_file = root + "/q3path.cfg";
    std::string game = root + "/game/";
    std::string mod = game + "/grimvolt";
    std::string pack = mod + "/pakskin.pk3";
    PathStore store{path_file, kDefault};
};

// Each case: the file before (none when null), the steps, then the file's bytes and its first field.
// A step "start" seeds and reads as the start-up does; "save TEXT" saves TEXT.
TEST_F(Core, PathFileBytesAfterStartsSavesAndReads) {
    const std::string line = std::string(kDefault) + "\r\n";
    const struct {
        const char* before;
        std::vector<std::string> steps;
        std::string after;
        std::string field;
    } cases[] = {
        {nullptr, {"start"}, line, kDefault},
        {nullptr, {"start", "start", "start"}, line + line + line, kDefault},
        {nullptr, {"save d:/games/q3", "start"}, "d:/games/q3\r\n" + line, "d:/games/q3"},
        {nullptr, {"save ", "start"}, "\r\n" + line, ""},
        {nullptr, {"start", "save d:/games,q3"}, "d:/games,q3\r\n", "d:/games"},  // on disk before the slot closes
        {"d:/games/q3", {"start"}, "d:/games/q3\r\n" + line, "d:/games/q3"},      // hand-edited, no line end
    };
    for (const auto& [before, steps, after, field] : cases) {
        SCOPED_TRACE(::testing::PrintToString(steps));
        store.close();
        fs::remove(path_file);
        if (before != nullptr) {
            put(path_file, before);
        }
        for (const std::string& step : steps) {
            step == "start" ? (store.seed(), (void)store.read()) : store.save(step.substr(5));
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

TEST_F(Core, EachRowPutsItsSourceInPlaceAndConfirms) {
    put(mod + "/pakskin.pk3.0123abcd.tmp", "left by a swap killed before its rename");
    put(mod + "/pakskin.pk3.0123abcg.tmp", "somebody else's");
    fs::permissions(source(3), fs::perms::owner_write, fs::perm_options::remove);  // a read-only copy
    const char* confirmations[] = {"Old Q3 Skin selected", "Gv Skin selected", "Metal Skins selected"};
    Files files = mod_folder();
    files.erase("pakskin.pk3.0123abcd.tmp");
    for (int row : {3, 1, 2, 2}) {
        select(row);
        EXPECT_EQ(message_boxes.back(), confirmations[row - 1]);
        files["pakskin.pk3"] = bytes_of(source(row));
        EXPECT_EQ(mod_folder(), files);
    }
}

TEST_F(Core, EveryClickReadsThePathFileAfresh) {
    put(root + "/other/grimvolt/pakskin.pk3", "other pack");
    put(root + "/other/grimvolt/skindata2.ncx", "other source");
    const Files files = mod_folder();
    store.save(root + "/other");
    select(2);
    EXPECT_EQ(bytes_of(root + "/other/grimvolt/pakskin.pk3"), "other source");
    EXPECT_EQ(mod_folder(), files);
}

#ifdef _WIN32
constexpr int kInvalidName = ERROR_INVALID_NAME;
// A file held as a running game holds its pack: by a handle that shares reading at most.
std::shared_ptr<void> hold(const std::string& path, DWORD sharing) {
    return {CreateFileA(path.c_str(), GENERIC_READ, sharing, nullptr, OPEN_EXISTING, 0, nullptr), CloseHandle};
}
#else
constexpr int kInvalidName = EINVAL;
#endif

// Each fault makes the selection fail with the error report and loses nothing: the mod folder
// keeps every byte and gets no temporary file. Number 0: the selection succeeds, changing nothing.
TEST_F(Core, SwapFailuresLoseNothing) {
    std::shared_ptr<void> held;
    const struct {
        int row;
        std::function<void()> make;
        int number;
        std::string reported;
    } cases[] = {
        {1, [&] { fs::remove(pack); }, 2, pack},
        {3, [&] { fs::remove(source(3)); }, 2, source(3)},
        {1, [&] { put(path_file, ""); }, 62, path_file},
        {1, [&] { put(path_file, pack + '\0' + "x\r\n"); }, kInvalidName, pack + "\\0x/grimvolt/pakskin.pk3"},
        {1, [&] { fs::remove(source(1)), fs::create_hard_link(pack, source(1)); }, 0, "the pack itself"},
#ifdef _WIN32
        {2, [&] { held = hold(pack, FILE_SHARE_READ); }, ERROR_SHARING_VIOLATION, pack},
        {3, [&] { held = hold(source(3), 0); }, ERROR_SHARING_VIOLATION, source(3)},
#endif
    };
    for (const auto& [row, make, number, reported] : cases) {
        SCOPED_TRACE(reported);
        fs::remove_all(mod);
        SetUp();
        store.close();
        const Files unmade = mod_folder();
        make();
        const Files before = held ? unmade : mod_folder();  // a held file cannot be read
        select(row);
        held.reset();
        EXPECT_EQ(mod_folder(), before);
        ASSERT_EQ(message_boxes.size(), 1U);
        const std::string& report = message_boxes[0];
        if (number == 0) {
            EXPECT_EQ(report, "Old Q3 Skin selected");
            continue;
        }
        // "Error 2: No such file or directory" and the path: the system's text, its line end trimmed.
        const std::string head = "Error " + std::to_string(number) + ": ";
        ASSERT_TRUE(report.starts_with(head) && report.ends_with("\n" + reported)) << report;
        const std::string text = report.substr(head.size(), report.size() - head.size() - reported.size() - 1);
        EXPECT_TRUE(!text.empty() && text.find_first_of("\r\n") == std::string::npos) << report;
        EXPECT_TRUE(number != 62 || text == "Input past end of file") << report;
    }
}

// A mangled path file may name a folder megabytes long: read whole, reported by both ends, never
// cut inside a character.
TEST_F(Core, VeryLongPathIsReadWholeAndShortenedInTheReport) {
    const std::string huge(10U << 20, 'a');
    store.close();
    put(path_file, huge + "\r\n");
    EXPECT_EQ(store.read().size(), huge.size());
    const auto letters = [](int count) {
        std::string text;
        while (count-- > 0) {
            text += "\xC3\xA9";  // é
        }
        return text;
    };
    EXPECT_EQ(report_text({2, "No such file", "/" + letters(1000)}),
              "Error 2: No such file\n/" + letters(199) + "..." + letters(200));
}

#ifdef _WIN32
// The path file is in the ANSI code page: é is one byte of it, Cyrillic letters none. A folder so
// named is saved by its short name, which names the same folder, or refused with the file untouched.
TEST_F(Core, FolderTheCodePageCannotSpellIsSavedByItsShortNameOrRefused) {
    ASSERT_EQ(GetACP(), 1252U) << "the bytes below assume Windows-1252";
    store.save(root + "/\xC3\xA9t\xC3\xA9");
    EXPECT_EQ(bytes_of(path_file), root + "/\xE9t\xE9\r\n");
    EXPECT_EQ(store.read(), root + "/\xC3\xA9t\xC3\xA9");
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
