#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace beam::testing {

// A fresh folder under the system's temporary folder, removed with everything in it.
class ScratchFolder {
  public:
    ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;
    ~ScratchFolder();

    // The UTF-8 path of name inside the folder, with forward slashes as the program forms them.
    [[nodiscard]] std::string path(const std::string& name = "") const;
    [[nodiscard]] const std::filesystem::path& root() const { return root_; }

  private:
    std::filesystem::path root_;
};

std::string utf8_path(const std::filesystem::path& path);
std::filesystem::path native_path(const std::string& utf8);

void write_file(const std::string& path, const std::string& bytes);
std::string read_file(const std::string& path);
// The names in a folder, sorted.
std::vector<std::string> names_in(const std::string& folder);

}  // namespace beam::testing
