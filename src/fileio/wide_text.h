#pragma once

// Windows only: the UTF-8 texts of the program to and from the UTF-16 of the W API.

#include <string>
#include <string_view>

namespace beam {

std::wstring to_wide(std::string_view utf8);
std::string to_utf8(std::wstring_view wide);

}  // namespace beam
