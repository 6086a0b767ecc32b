#pragma once

#include <windows.h>

namespace beam::win32 {

// Runs the program from its start-up to its end: the path prompt's load step, then the
// messages of both windows until the last one has closed or an error report has ended it.
// The first window shown is shown as show says: minimised or maximised, as the program's
// shortcut asks. Returns the exit code the program was ended with.
int run_program(HINSTANCE instance, int show);

}  // namespace beam::win32
