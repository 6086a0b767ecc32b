#pragma once

#include <string_view>

#include "pathstore/pathstore.h"
#include "skins/skins.h"

namespace beam::flow {

inline constexpr std::string_view kApplicationTitle = "Beam Tailor";

// The program's two windows.
enum class Window { prompt, chooser };

// The program's rules from its start-up to its end, the same for every front-end: what each
// window's events do to the path file and the pack, and what the front-end (flow/ui.h) shows.
class Program {
  public:
    explicit Program(PathStore& store) : store_(store) {}

    // The path prompt's load step: seeds and reads the path file, fills the prompt's field and
    // shows the skin chooser, then the prompt. A step to run, after the front-end has built what
    // it needs for it.
    void start_up();
    // A push button was pressed: a chooser button selects its skin; the prompt's one button,
    // which has none, is "ok": it saves the field's text and closes the prompt.
    void pressed(const skins::Skin* skin);
    // A window has closed, by its close box, by "ok" or at the end: the program ends with its
    // last window, unless it has ended already.
    void closed(Window window);

    // Runs one action from start to finish; the first step that fails ends it, and the program
    // with it, through the error report. Whatever it throws ends there: an exception let through
    // would unwind into the window system's frames. Memory running out is such a failure too (a
    // mangled path file's first line may be hundreds of megabytes); by the time it is reported,
    // unwinding has given back what the action held.
    template <typename Action>
    void run(Action&& action) {
        try {
            action();
        } catch (...) {
            report_handled_exception();
        }
    }

  private:
    // The error report for the exception being handled, then the program's end: a failure as
    // report_text says, memory running out in the system's words, any other exception by its
    // text, which carries no error number.
    void report_handled_exception();
    // The program's end, once: the file slot is closed and every window goes.
    void end();

    PathStore& store_;
    bool prompt_open_ = true;
    bool chooser_open_ = true;
    bool ended_ = false;
};

}  // namespace beam::flow
