#include <algorithm>
#include <cstdint>
#include <random>

#include "fileio/fileio.h"

namespace beam::fileio {

namespace {

constexpr std::string_view kTemporaryEnding = ".tmp";
constexpr std::size_t kRandomDigits = 8;

#ifdef _WIN32
constexpr std::string_view kSeparators = "/\\";
#else
constexpr std::string_view kSeparators = "/";
#endif

bool is_lower_hex(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
}

}  // namespace

std::string temporary_name_beside(const std::string& target) {
    static std::random_device random_source;
    constexpr std::string_view kHexDigits = "0123456789abcdef";
    std::string name = target + '.';
    auto random_bits = static_cast<std::uint32_t>(random_source());
    for (std::size_t digit = 0; digit < kRandomDigits; ++digit, random_bits >>= 4U) {
        name += kHexDigits[random_bits & 0xFU];
    }
    return name.append(kTemporaryEnding);
}

bool is_temporary_copy_of(std::string_view name, std::string_view target_name) {
    if (name.size() != target_name.size() + 1 + kRandomDigits + kTemporaryEnding.size() ||
        !name.starts_with(target_name) || !name.ends_with(kTemporaryEnding)) {
        return false;
    }
    const std::string_view dot_and_digits = name.substr(target_name.size(), 1 + kRandomDigits);
    return dot_and_digits.front() == '.' && std::all_of(dot_and_digits.begin() + 1, dot_and_digits.end(), is_lower_hex);
}

std::string folder_of(const std::string& path) {
    const std::size_t separator = path.find_last_of(kSeparators);
    if (separator == std::string::npos) {
        return ".";
    }
    return separator == 0 ? path.substr(0, 1) : path.substr(0, separator);
}

std::string_view name_of(std::string_view path) {
    const std::size_t separator = path.find_last_of(kSeparators);
    return separator == std::string_view::npos ? path : path.substr(separator + 1);
}

}  // namespace beam::fileio
