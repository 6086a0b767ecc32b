#include <windows.h>

#include <cstdlib>

#include "ui/win32/program.h"
#include "ui/win32/system_function.h"

namespace {

// DLL planting: the program runs from wherever it was unzipped, often Downloads, where a stray DLL
// would be loaded before a system one (uxtheme.dll, which system DLLs load later). Only System32 is
// searched: SetDefaultDllDirectories (Windows 8, or 7 with KB2533623), else without the current folder.
void load_dlls_from_the_system_folder_only() {
    const auto set_default_dll_directories =
        beam::win32::system_function<BOOL(WINAPI*)(DWORD)>(L"kernel32.dll", "SetDefaultDllDirectories");
    if (set_default_dll_directories == nullptr || !set_default_dll_directories(LOAD_LIBRARY_SEARCH_SYSTEM32)) {
        SetDllDirectoryW(L"");
    }
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE /*previous*/, PWSTR /*command_line*/, int show) {
    load_dlls_from_the_system_folder_only();
    return beam::win32::run_program(instance, show);
}

// A program without a console has nowhere to print why it terminates; leaving out the C++
// library's message also leaves out its symbol demangler, a fifth of the program's size.
namespace __gnu_cxx {
void __verbose_terminate_handler() {
    std::abort();
}
}  // namespace __gnu_cxx
