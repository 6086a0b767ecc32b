#pragma once

#include <string_view>

#include "fileio/failure.h"
#include "pathstore/pathstore.h"

namespace beam::flow {

inline constexpr std::string_view kApplicationTitle = "Beam Tailor";

// The path prompt's load step: seeds and reads the path file, fills the prompt's field and
// shows the skin chooser. The front-end shows the prompt when it returns.
void start_up(PathStore& store);

// The prompt's "ok": saves the field's text and closes the prompt.
void ok(PathStore& store);

// The program's end, when its last window has closed or after an error report: the file slot
// is closed and every window goes.
void end_program(PathStore& store);

// The error report: the failure in a message box, then the program's end.
void report(PathStore& store, const Failure& failure);

// The error report for the exception being handled: a failure as report says; memory running
// out in the system's words; any other exception by its text, which carries no error number.
void report_handled_exception(PathStore& store);

// Runs one action from start to finish; the first step that fails ends it, and the program
// with it, through the error report. Whatever it throws ends there: an exception let through
// would unwind into the window system's frames. Memory running out is such a failure too (a
// mangled path file's first line may be hundreds of megabytes); by the time it is reported,
// unwinding has given back what the action held.
template <typename Action>
void run(PathStore& store, Action&& action) {
    try {
        action();
    } catch (...) {
        report_handled_exception(store);
    }
}

}  // namespace beam::flow
