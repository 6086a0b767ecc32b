#pragma once

#include <windows.h>

#include <bit>

namespace beam::win32 {

// A function of a system DLL the program has loaded, which this Windows may lack; null when it does.
template <typename Function>
Function system_function(const wchar_t* dll, const char* name) {
    return std::bit_cast<Function>(GetProcAddress(GetModuleHandleW(dll), name));
}

}  // namespace beam::win32
