#include <windows.h>

#include <cstdlib>

#include "ui/win32/program.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE /*previous*/, PWSTR /*command_line*/, int show) {
    return beam::win32::run_program(instance, show);
}

// A program without a console has nowhere to print why it terminates; leaving out the C++
// library's message also leaves out its symbol demangler, a fifth of the program's size.
namespace __gnu_cxx {
void __verbose_terminate_handler() {
    std::abort();
}
}  // namespace __gnu_cxx
