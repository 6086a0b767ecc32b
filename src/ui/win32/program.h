#pragma once

#include <windows.h>

namespace beam::win32 {

// Runs the program from its start-up to its end: the path prompt's load step, then the
// messages of both windows until the last one has closed or an error report has ended it.
// Returns the exit code the program was ended with.
int run_program(HINSTANCE instance);

}  // namespace beam::win32
