#include "scratch_folder.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>

namespace beam::testing {

std::string utf8_path(const std::filesystem::path& path) {
    const std::u8string text = path.generic_u8string();
    return {text.begin(), text.end()};
}

std::filesystem::path native_path(const std::string& utf8) {
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

ScratchFolder::ScratchFolder() {
    std::random_device random_source;
    root_ = std::filesystem::temp_directory_path() / ("beam-test-" + std::to_string(random_source()));
    std::filesystem::create_directories(root_);
}

ScratchFolder::~ScratchFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(root_, ignored);
}

std::string ScratchFolder::path(const std::string& name) const {
    return name.empty() ? utf8_path(root_) : utf8_path(root_) + "/" + name;
}

void write_file(const std::string& path, const std::string& bytes) {
    std::filesystem::create_directories(native_path(path).parent_path());
    std::ofstream out(native_path(path), std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out.flush()) {
        throw std::runtime_error("cannot write " + path);
    }
}

std::string read_file(const std::string& path) {
    std::ifstream in(native_path(path), std::ios::binary);
    if (!in) {
        throw std::runtime_error("cannot read " + path);
    }
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<std::string> names_in(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(native_path(folder))) {
        names.push_back(utf8_path(entry.path().filename()));
    }
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace beam::testing
