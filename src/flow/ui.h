#pragma once

// What the program's logic asks of a front-end. Each front-end (Win32, GTK, the tests' scripted
// one) implements these functions once; the build links exactly one of them. In turn it runs a
// flow::Program (flow/flow.h) and tells it of every button pressed and every window closed.

#include <string>
#include <string_view>

namespace beam::ui {

// Puts text into the path prompt's field, before the prompt is shown.
void set_prompt_text(std::string_view text);
// The field's text exactly as typed, possibly empty.
std::string get_prompt_text();
// Shows the skin chooser, not modal, and returns at once.
void show_chooser();
// Shows the path prompt, not modal, and returns at once.
void show_prompt();
// Closes the path prompt for good; the skin chooser stays.
void close_prompt();
// Shows text with the application title as caption, one OK button and no icon, modal to the
// whole application; returns when the user has dismissed it.
void message_box(std::string_view text);
// Ends the program: every window goes. Asked once.
void end();

}  // namespace beam::ui
