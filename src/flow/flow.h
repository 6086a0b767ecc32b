#pragma once

// The program's rules, the same for every front-end: the front-end tells its one Program of each
// event, and the Program asks it, through ui:: below, to show and to end. Whatever fails or throws
// in an event ends the program with the error report; it ends once, with its last window or the report.

#include <string>
#include <string_view>

#include "fileio/failure.h"
#include "pathstore/pathstore.h"
#include "skins/skins.h"

namespace beam::flow {

inline constexpr std::string_view kApplicationTitle = "Beam Tailor";

enum class Window { prompt, chooser };

class Program {
  public:
    explicit Program(PathStore& store) : store_(store) {}

    // The windows made, the path file seeded and read into the prompt's field, the chooser shown
    // and the prompt over it.
    void start_up();
    // The prompt's button: the field's text saved, the prompt closed.
    void ok();
    // A chooser button: a copy of skin's source in place of the active pack, then confirmed.
    void select(const skins::Skin& skin);
    // A window has gone, by its close box, by "ok" or at the end.
    void closed(Window window);

  private:
    template <typename Action>
    void run(Action&& action);
    void report_handled_exception();
    void end();

    PathStore& store_;
    bool prompt_open_ = true;
    bool chooser_open_ = true;
    bool ended_ = false;
};

// "Error 2: No such file or directory", and on the line below the path, if there is one.
std::string report_text(const Failure& failure);

}  // namespace beam::flow

// What a front-end does for the Program; the build links exactly one front-end.
namespace beam::ui {

// Makes both windows, hidden.
void make_windows();
void set_prompt_text(std::string_view text);
// The field's text exactly as typed, possibly empty.
std::string get_prompt_text();
// Shows a window, not modal, and returns at once.
void show_chooser();
void show_prompt();
// Closes the prompt for good; the chooser stays.
void close_prompt();
// Text with the application's title as caption and one OK button, modal to the whole program;
// returns when it has been dismissed.
void message_box(std::string_view text);
// Every window goes, and the program ends.
void end();

}  // namespace beam::ui
