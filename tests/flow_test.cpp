#include "flow/flow.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "scratch_folder.h"
#include "scripted_ui.h"

namespace beam {
namespace {

using testing::prompt_text;
using testing::read_file;
using testing::ScratchFolder;
using testing::ui_calls;
using Calls = std::vector<std::string>;

class FlowTest : public ::testing::Test {
  protected:
    void SetUp() override { testing::reset_ui(); }

    // One start-up and whatever the user then does, as the front-end runs every action.
    void start() {
        flow::run(store_, [this] { flow::start_up(store_); });
    }
    void ok() {
        flow::run(store_, [this] { flow::ok(store_); });
    }

    ScratchFolder folder_;
    std::string path_file_ = folder_.path("q3path.cfg");
    PathStore store_{path_file_, "c:/program files/Quake III Arena"};
};

TEST_F(FlowTest, StartUpFillsThePromptThenShowsTheChooser) {
    start();
    EXPECT_EQ(ui_calls(), (Calls{"set_prompt_text c:/program files/Quake III Arena", "show_chooser"}));
    EXPECT_EQ(read_file(path_file_), "c:/program files/Quake III Arena\r\n");
}

TEST_F(FlowTest, OkSavesTheFieldAndClosesThePrompt) {
    start();
    prompt_text() = "d:/games/q3";
    ok();
    EXPECT_EQ(read_file(path_file_), "d:/games/q3\r\n");
    flow::end_program(store_);
    EXPECT_EQ(ui_calls(), (Calls{"set_prompt_text c:/program files/Quake III Arena", "show_chooser", "get_prompt_text",
                                 "close_prompt", "end"}));

    testing::reset_ui();
    PathStore next_run(path_file_, "c:/program files/Quake III Arena");
    flow::start_up(next_run);
    EXPECT_EQ(ui_calls().front(), "set_prompt_text d:/games/q3");
}

TEST_F(FlowTest, OkWithAnEmptyFieldSavesAnEmptyLine) {
    start();
    prompt_text().clear();
    ok();
    EXPECT_EQ(read_file(path_file_), "\r\n");
}

TEST_F(FlowTest, StartUpFailureIsReportedBeforeAnyWindow) {
    std::filesystem::create_directory(testing::native_path(path_file_));  // the path file cannot be made
    start();
    ASSERT_EQ(ui_calls().size(), 2U);
    EXPECT_TRUE(ui_calls()[0].starts_with("message_box Error ")) << ui_calls()[0];
    EXPECT_TRUE(ui_calls()[0].ends_with("\n" + path_file_)) << ui_calls()[0];
    EXPECT_EQ(ui_calls()[1], "end");
}

TEST_F(FlowTest, FailedSaveKeepsThePromptAndEndsTheProgram) {
    start();
    store_.close();
    std::filesystem::remove(testing::native_path(path_file_));
    std::filesystem::create_directory(testing::native_path(path_file_));
    ui_calls().clear();
    ok();
    ASSERT_EQ(ui_calls().size(), 3U);
    EXPECT_EQ(ui_calls()[0], "get_prompt_text");
    EXPECT_TRUE(ui_calls()[1].starts_with("message_box Error ")) << ui_calls()[1];
    EXPECT_EQ(ui_calls()[2], "end");
}

}  // namespace
}  // namespace beam
