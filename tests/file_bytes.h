// Real files as the tests set them up and check them: their bytes, read and written whole; on
// Windows, a file held open as a virus scanner holds it.
#pragma once

#include <filesystem>
#include <fstream>
#include <string>

#ifdef _WIN32
#include <windows.h>

#include "fileio/wide_text.h"
#include "ui/win32/owned.h"
#endif

namespace beam {

inline std::string bytes_of(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}
inline void put(const std::filesystem::path& path, const std::string& bytes) {
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << bytes;
}

#ifdef _WIN32
using HeldFile = win32::Owned<HANDLE, &CloseHandle>;

// Held sharing reading, writing and deletion, until the result goes.
inline HeldFile held_as_a_scanner_does(const std::string& path) {
    constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    return HeldFile(CreateFileW(to_wide(path).c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING, 0, nullptr));
}
#endif

}  // namespace beam
