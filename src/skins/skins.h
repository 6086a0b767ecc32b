#pragma once

#include <array>
#include <string_view>

namespace beam::skins {

// One button of the skin chooser.
struct Skin {
    std::string_view caption;
    std::string_view source_suffix;  // appended to the game folder as it stands
    std::string_view confirmation;
};

inline constexpr std::array<Skin, 3> kSkins{{
    {"Old Q3 Skin", "/grimvolt/skindata1.ncx", "Old Q3 Skin selected"},
    {"GV skin", "/grimvolt/skindata2.ncx", "Gv Skin selected"},
    {"Metal Skin", "/grimvolt/skindata3.ncx", "Metal Skins selected"},
}};

// The pack the mod loads, replaced by every selection.
inline constexpr std::string_view kActivePackSuffix = "/grimvolt/pakskin.pk3";

}  // namespace beam::skins
