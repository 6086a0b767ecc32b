#include "scripted_ui.h"

#include "flow/ui.h"

namespace beam::testing {

std::vector<std::string>& ui_calls() {
    static std::vector<std::string> calls;
    return calls;
}

std::string& prompt_text() {
    static std::string text;
    return text;
}

void reset_ui() {
    ui_calls().clear();
    prompt_text().clear();
}

}  // namespace beam::testing

namespace beam::ui {

using testing::prompt_text;
using testing::ui_calls;

void set_prompt_text(std::string_view text) {
    ui_calls().push_back("set_prompt_text " + std::string(text));
    prompt_text() = text;
}

std::string get_prompt_text() {
    ui_calls().emplace_back("get_prompt_text");
    return prompt_text();
}

void show_chooser() {
    ui_calls().emplace_back("show_chooser");
}

void close_prompt() {
    ui_calls().emplace_back("close_prompt");
}

void message_box(std::string_view text) {
    ui_calls().push_back("message_box " + std::string(text));
}

void end() {
    ui_calls().emplace_back("end");
}

}  // namespace beam::ui
