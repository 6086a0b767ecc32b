#pragma once

// The two windows as every front-end lays them out: captions, client sizes and controls, in
// twips (1440 to the inch; 15 to a pixel at 96 dots per inch). Controls are listed in tab order.

#include <array>
#include <span>
#include <string_view>

#include "skins/skins.h"

namespace beam::layout {

inline constexpr int kTwipsPerInch = 1440;

// Twips to pixels at dpi, rounded to the nearest pixel as MulDiv rounds.
constexpr int to_pixels(int twips, int dpi) {
    return (twips * dpi + kTwipsPerInch / 2) / kTwipsPerInch;
}

struct Box {
    int left;
    int top;
    int width;
    int height;
};

enum class ControlKind { label, text_field, push_button };

struct Control {
    std::string_view name;
    ControlKind kind;
    std::string_view text;
    Box box;
    const skins::Skin* skin = nullptr;  // the skin a chooser button selects
};

struct Window {
    std::string_view name;
    std::string_view caption;
    int client_width;
    int client_height;
    std::span<const Control> controls;
};

inline constexpr std::string_view kCredit =
    "Beam Tailor for GV 1.0,1.1 and 2.0 by Kestrel                         https://grimvolt.example.org/";

inline constexpr std::array kPromptControls{
    Control{"Text1", ControlKind::text_field, "", {240, 720, 3135, 375}},
    Control{"Label1", ControlKind::label, "Please enter Quake 3 Path", {240, 240, 3615, 495}},
    Control{"Command1", ControlKind::push_button, "ok", {240, 1320, 1095, 375}},
};

inline constexpr std::array kChooserControls{
    Control{"Command1", ControlKind::push_button, skins::kSkins[0].caption, {240, 120, 1455, 495}, &skins::kSkins[0]},
    Control{"Command2", ControlKind::push_button, skins::kSkins[1].caption, {240, 720, 1455, 495}, &skins::kSkins[1]},
    Control{"Label1", ControlKind::label, kCredit, {2160, 240, 2775, 1095}},
    Control{"Command3", ControlKind::push_button, skins::kSkins[2].caption, {240, 1320, 1455, 495}, &skins::kSkins[2]},
};

// The path prompt, shown at every start; its one button is "ok".
inline constexpr Window kPrompt{"Form1", "Note", 4380, 2085, kPromptControls};
// The skin chooser.
inline constexpr Window kChooser{"main", "Beam Tailor", 5535, 2610, kChooserControls};

}  // namespace beam::layout
