// A file's bytes, read and written whole, for the tests that set up and check real files.
#pragma once

#include <filesystem>
#include <fstream>
#include <string>

namespace beam {

inline std::string bytes_of(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}
inline void put(const std::filesystem::path& path, const std::string& bytes) {
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << bytes;
}

}  // namespace beam
