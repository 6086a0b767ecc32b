// What BeamTailor.exe carries besides its code: the icon in three sizes, its manifest and its
// version information, read from the file as Windows' shell and loader read them.

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <utility>

#include "driver.h"

namespace beam::testing {
namespace {

void free_module(HMODULE module) {
    FreeLibrary(module);
}
using Module = win32::Owned<HMODULE, &free_module>;

class ExeResources : public ::testing::Test {
  protected:
    [[nodiscard]] std::string resource(const wchar_t* type, int id) const {
        HRSRC found = FindResourceW(exe_.get(), MAKEINTRESOURCEW(id), type);
        if (found == nullptr) {
            return {};
        }
        const auto* bytes = static_cast<const char*>(LockResource(LoadResource(exe_.get(), found)));
        return {bytes, SizeofResource(exe_.get(), found)};
    }

    Module exe_{
        LoadLibraryExW(program_path().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE)};
};

TEST_F(ExeResources, IconComesIn16And32And48PixelsWith24BitColour) {
    ASSERT_TRUE(exe_);
    // A group icon: a 6-byte header, then 14 bytes for each image.
    const std::string group = resource(RT_GROUP_ICON, 1);
    ASSERT_GE(group.size(), 6U);
    const auto count = static_cast<unsigned char>(group[4]);
    ASSERT_EQ(group.size(), 6U + 14U * count);
    std::set<std::pair<int, int>> sizes_and_depths;
    for (std::size_t image = 0; image < count; ++image) {
        const char* entry = group.data() + 6 + 14 * image;
        const int depth = static_cast<unsigned char>(entry[6]) | static_cast<unsigned char>(entry[7]) << 8;
        sizes_and_depths.emplace(static_cast<unsigned char>(entry[0]), depth);
    }
    EXPECT_EQ(sizes_and_depths, (std::set<std::pair<int, int>>{{16, 24}, {32, 24}, {48, 24}}));
}

TEST_F(ExeResources, ManifestAsksForCommonControls6AndPerMonitorDpiButNoElevation) {
    ASSERT_TRUE(exe_);
    const std::string manifest = resource(RT_MANIFEST, 1);
    ASSERT_FALSE(manifest.empty());
    for (const char* wanted : {"Microsoft.Windows.Common-Controls", "version=\"6.0.0.0\"", "PerMonitorV2",
                               "<dpiAware xmlns=\"http://schemas.microsoft.com/SMI/2005/WindowsSettings\">true/pm",
                               "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}", "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}"}) {
        EXPECT_NE(manifest.find(wanted), std::string::npos) << wanted;
    }
    // Without it, Windows virtualizes the write to c:/q3path.cfg for a standard user.
    EXPECT_EQ(manifest.find("<requestedExecutionLevel"), std::string::npos);
}

TEST_F(ExeResources, VersionInformationNamesTheProgram) {
    const std::wstring path = program_path();
    std::string info(GetFileVersionInfoSizeW(path.c_str(), nullptr), '\0');
    ASSERT_FALSE(info.empty());
    ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, static_cast<DWORD>(info.size()), info.data()));
    for (const auto& [name, value] :
         {std::pair{L"ProductName", L"Beam Tailor"}, std::pair{L"OriginalFilename", L"BeamTailor.exe"},
          std::pair{L"FileVersion", L"1.0.0.0"}}) {
        void* text = nullptr;
        UINT length = 0;
        const std::wstring query = std::wstring(L"\\StringFileInfo\\040904B0\\") + name;
        ASSERT_TRUE(VerQueryValueW(info.data(), query.c_str(), &text, &length)) << to_utf8(name);
        EXPECT_EQ(std::wstring(static_cast<const wchar_t*>(text)), value);
    }
}

}  // namespace
}  // namespace beam::testing
