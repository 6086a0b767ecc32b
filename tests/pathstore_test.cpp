#include "pathstore/pathstore.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "scratch_folder.h"

namespace beam {
namespace {

using testing::read_file;
using testing::ScratchFolder;
using testing::write_file;

constexpr const char* kDefault = "c:/program files/Quake III Arena";

class PathStoreTest : public ::testing::Test {
  protected:
    [[nodiscard]] std::string bytes() const { return read_file(path_file_); }
    [[nodiscard]] PathStore store() const { return PathStore(path_file_, kDefault); }

    ScratchFolder folder_;
    std::string path_file_ = folder_.path("q3path.cfg");
};

TEST_F(PathStoreTest, FirstStartCreatesTheFileWithTheDefault) {
    PathStore paths = store();
    paths.seed();
    EXPECT_EQ(bytes(), "c:/program files/Quake III Arena\r\n");
    EXPECT_EQ(paths.read(), kDefault);
}

TEST_F(PathStoreTest, StartsWithoutSaveAppendOneDefaultLineEach) {
    for (int start = 0; start < 3; ++start) {
        PathStore paths = store();
        paths.seed();
        EXPECT_EQ(paths.read(), kDefault);
    }
    EXPECT_EQ(bytes(), std::string(kDefault) + "\r\n" + kDefault + "\r\n" + kDefault + "\r\n");
}

TEST_F(PathStoreTest, SavedFolderCountsAcrossLaterStarts) {
    {
        PathStore paths = store();
        paths.seed();
        paths.save("d:/games/q3");
        // The read closes the slot, so it sees the save.
        EXPECT_EQ(paths.read(), "d:/games/q3");
    }
    PathStore next_start = store();
    next_start.seed();
    EXPECT_EQ(next_start.read(), "d:/games/q3");
    EXPECT_EQ(bytes(), "d:/games/q3\r\nc:/program files/Quake III Arena\r\n");
}

TEST_F(PathStoreTest, SaveIsInTheFileBeforeTheSlotCloses) {
    PathStore paths = store();
    paths.seed();
    paths.save("e:/q3,old");
    EXPECT_EQ(bytes(), "e:/q3,old\r\n");
    EXPECT_EQ(paths.read(), "e:/q3");
    paths.close();
    paths.close();  // closing a closed slot is harmless
    EXPECT_EQ(paths.read(), "e:/q3");
}

TEST_F(PathStoreTest, EmptySaveGivesAnEmptyFirstLine) {
    PathStore paths = store();
    paths.save("");
    EXPECT_EQ(bytes(), "\r\n");
    EXPECT_EQ(paths.read(), "");
    PathStore next_start = store();
    next_start.seed();
    EXPECT_EQ(bytes(), "\r\nc:/program files/Quake III Arena\r\n");
    EXPECT_EQ(next_start.read(), "");
}

TEST_F(PathStoreTest, SeedEndsAHandEditedLastLineFirst) {
    write_file(path_file_, "d:/games/q3");
    PathStore paths = store();
    paths.seed();
    EXPECT_EQ(bytes(), "d:/games/q3\r\nc:/program files/Quake III Arena\r\n");
    EXPECT_EQ(paths.read(), "d:/games/q3");
}

TEST_F(PathStoreTest, NonAsciiFolderRoundTrips) {
    const std::string folder = "d:/jeux/\xC3\xA9t\xC3\xA9";  // "d:/jeux/été"
    PathStore paths = store();
    paths.save(folder);
    EXPECT_EQ(paths.read(), folder);
#ifndef _WIN32
    EXPECT_EQ(bytes(), folder + "\r\n");
#endif
}

TEST_F(PathStoreTest, EmptyFileCannotBeRead) {
    write_file(path_file_, "");
    PathStore paths = store();
    try {
        (void)paths.read();
        FAIL() << "an empty path file was read";
    } catch (const Failure& failure) {
        EXPECT_EQ(failure.number, 62);
        EXPECT_EQ(failure.description, "Input past end of file");
        EXPECT_EQ(failure.path, path_file_);
    }
}

TEST_F(PathStoreTest, FailuresNameTheOsErrorAndThePath) {
    PathStore missing = store();
    try {
        (void)missing.read();
        FAIL() << "a missing path file was read";
    } catch (const Failure& failure) {
        EXPECT_EQ(failure.number, 2);  // ENOENT and ERROR_FILE_NOT_FOUND alike
        EXPECT_FALSE(failure.description.empty());
        EXPECT_NE(failure.description.back(), '\n');
        EXPECT_EQ(failure.path, path_file_);
    }

    // A folder in the path file's place: nothing can be appended or saved there.
    std::filesystem::create_directory(testing::native_path(path_file_));
    PathStore blocked = store();
    EXPECT_THROW(blocked.seed(), Failure);
    EXPECT_THROW(blocked.save("d:/games"), Failure);
    EXPECT_TRUE(std::filesystem::is_directory(testing::native_path(path_file_)));
}

std::string first_field(std::string_view text) {
    FirstFieldParser parser;
    parser.feed(text);
    return parser.field();
}

TEST(FirstField, EndsAtCommaOrLineEnd) {
    EXPECT_EQ(first_field("d:/games,q3\r\nx"), "d:/games");
    EXPECT_EQ(first_field("d:/games\rq3"), "d:/games");
    EXPECT_EQ(first_field("d:/games\nq3"), "d:/games");
    EXPECT_EQ(first_field("d:/games"), "d:/games");
    EXPECT_EQ(first_field(",d:/games"), "");
    EXPECT_EQ(first_field("\r\nd:/games"), "");
}

TEST(FirstField, BlanksAtBothEndsAreTrimmed) {
    EXPECT_EQ(first_field(" \td:/my games \t,x"), "d:/my games");
    EXPECT_EQ(first_field("   \r\n"), "");
}

TEST(FirstField, QuotedFieldKeepsCommasAndBlanks) {
    EXPECT_EQ(first_field(" \"d:/games, old \" ,x"), "d:/games, old ");
    EXPECT_EQ(first_field("\"d:/unclosed,x\r\ny"), "d:/unclosed,x");
    EXPECT_EQ(first_field("\""), "");
    EXPECT_EQ(first_field("d:/a\"b\",c"), "d:/a\"b\"");
}

TEST(FirstField, NumbersAndHashSignsArePlainText) {
    EXPECT_EQ(first_field("42\r\n"), "42");
    EXPECT_EQ(first_field("#2026-12-07#"), "#2026-12-07#");
}

TEST(FirstField, MayArriveInPieces) {
    FirstFieldParser parser;
    EXPECT_FALSE(parser.feed("  d:/ga"));
    EXPECT_FALSE(parser.feed("mes "));
    EXPECT_TRUE(parser.feed("\r\nmore"));
    EXPECT_EQ(parser.field(), "d:/games");
}

}  // namespace
}  // namespace beam
