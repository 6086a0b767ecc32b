#pragma once

#include <windows.h>

namespace beam::win32 {

// Runs the program: the prompt's load step, then the messages until the last window has closed or a
// report has ended it, and returns its exit code. The first window shown is shown as show says (a
// shortcut's minimised or maximised).
int run_program(HINSTANCE instance, int show);

}  // namespace beam::win32
