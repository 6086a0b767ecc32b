#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "flow/flow.h"
#include "pathstore/pathstore.h"
#include "scratch_folder.h"
#include "scripted_ui.h"
#include "skins/skins.h"

namespace beam::testing {

using Names = std::vector<std::string>;

inline const Names kModFiles{"pakskin.pk3", "skindata1.ncx", "skindata2.ncx", "skindata3.ncx"};

// A game folder with an active pack and three skin sources of distinct bytes, named in the path file.
class GameFolderTest : public ::testing::Test {
  protected:
    void SetUp() override {
        reset_ui();
        write_file(mod_folder_ + "/pakskin.pk3", kOldPack);
        for (int row = 1; row <= 3; ++row) {
            write_file(source(row),
                       "skin source " + std::to_string(row) + std::string(1000U * static_cast<unsigned>(row), 'x'));
        }
        store_.save(game_folder_);
    }

    [[nodiscard]] std::string source(int row) const { return mod_folder_ + "/skindata" + std::to_string(row) + ".ncx"; }
    [[nodiscard]] std::string pack() const { return read_file(mod_folder_ + "/pakskin.pk3"); }

    // Runs a selection as the front-end does: a failure ends in the error report.
    void select(int row) {
        flow::run(store_, [this, row] { skins::select(store_, skins::kSkins.at(static_cast<std::size_t>(row - 1))); });
    }

    // The selection failed with the error report, which gives the number and ends with the path.
    static void expect_reported_failure(int error_number, const std::string& path) {
        ASSERT_EQ(ui_calls().size(), 2U);
        EXPECT_TRUE(ui_calls()[0].starts_with("message_box Error " + std::to_string(error_number) + ": "))
            << ui_calls()[0];
        EXPECT_TRUE(ui_calls()[0].ends_with("\n" + path)) << ui_calls()[0];
        EXPECT_EQ(ui_calls()[1], "end");
    }

    static constexpr const char* kOldPack = "the pack in effect";
    ScratchFolder folder_;
    PathStore store_{folder_.path("q3path.cfg"), "c:/program files/Quake III Arena"};
    std::string game_folder_ = folder_.path("game");
    std::string mod_folder_ = game_folder_ + "/grimvolt";
};

}  // namespace beam::testing
