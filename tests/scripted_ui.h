#pragma once

#include <string>
#include <vector>

namespace beam::testing {

// What the program asked of the scripted front-end, one entry a call, such as
// "set_prompt_text c:/games" or "message_box Gv Skin selected".
std::vector<std::string>& ui_calls();
// The text the prompt's field holds, as a user would have typed it.
std::string& prompt_text();
// Forgets the calls and empties the field.
void reset_ui();

}  // namespace beam::testing
