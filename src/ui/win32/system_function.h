#pragma once

#include <windows.h>

#include <bit>
#include <string_view>

namespace beam::win32 {

// A function of a system DLL the program has loaded, which this Windows may lack; null when it does.
// The window tests' second build, BEAM_WITHOUT_PER_MONITOR_DPI_CALLS, finds none of the per-monitor
// DPI calls (GetDpiForWindow and the ForDpi ones), as on Windows before 10 version 1607.
template <typename Function>
Function system_function(const wchar_t* dll, const char* name) {
#ifdef BEAM_WITHOUT_PER_MONITOR_DPI_CALLS
    if (std::string_view(name).find("Dpi") != std::string_view::npos) {
        return nullptr;
    }
#endif
    return std::bit_cast<Function>(GetProcAddress(GetModuleHandleW(dll), name));
}

}  // namespace beam::win32
