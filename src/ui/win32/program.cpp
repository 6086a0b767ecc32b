#include "ui/win32/program.h"

#include <commctrl.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "fileio/wide_text.h"
#include "flow/flow.h"
#include "pathstore/pathstore.h"
#include "ui/layout.h"
#include "ui/win32/form.h"

namespace beam::win32 {

namespace {

// What the ui:: functions act on: the path file, the program's rules, and each window while open.
struct FrontEnd {
    PathStore store{"c:/q3path.cfg", "c:/program files/Quake III Arena"};
    flow::Program flow{store};
    HINSTANCE instance = nullptr;
    std::optional<Form> prompt;
    std::optional<Form> chooser;
    // How the next window is shown: as the program was started, for the first one.
    int show_command = SW_SHOW;
};

FrontEnd& front_end() {
    static FrontEnd running;
    return running;
}

void button_clicked(const layout::Control& button) {
    if (button.skin != nullptr) {
        front_end().flow.select(*button.skin);
    } else {
        front_end().flow.ok();
    }
}

void window_destroyed(HWND window) {
    FrontEnd& running = front_end();
    for (auto [form, which] :
         {std::pair{&running.prompt, flow::Window::prompt}, {&running.chooser, flow::Window::chooser}}) {
        if (form->has_value() && (*form)->window() == window) {
            form->reset();
            running.flow.closed(which);
        }
    }
}

constexpr FormEvents kEvents{button_clicked, window_destroyed};

// The prompt's text field, first in its layout.
constexpr std::size_t kPathField = 0;
static_assert(layout::kPromptControls[kPathField].kind == layout::ControlKind::text_field);

// Shows a window: the first one as the program was started, any other plainly.
void show_form(const Form& form) {
    ShowWindow(form.window(), front_end().show_command);
    front_end().show_command = SW_SHOW;
}

}  // namespace

int run_program(HINSTANCE instance, int show) {
    const INITCOMMONCONTROLSEX common_controls{sizeof(INITCOMMONCONTROLSEX), ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&common_controls);

    FrontEnd& running = front_end();
    running.instance = instance;
    // Started hidden, the program would have no window to be worked with.
    running.show_command = show == SW_HIDE ? SW_SHOW : show;
    running.flow.start_up();

    MSG message{};
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        // The dialog manager's keys: Tab and Shift+Tab, and Enter on a focused button.
        HWND form = GetAncestor(message.hwnd, GA_ROOT);
        if (form == nullptr || IsDialogMessageW(form, &message) == FALSE) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
    return static_cast<int>(message.wParam);
}

}  // namespace beam::win32

namespace beam::ui {

using win32::front_end;

void make_windows() {
    win32::FrontEnd& running = front_end();
    win32::Form::register_class(running.instance);
    running.prompt.emplace(layout::kPrompt, running.instance, win32::kEvents);
    running.chooser.emplace(layout::kChooser, running.instance, win32::kEvents);
}

void set_prompt_text(std::string_view text) {
    SetWindowTextW(front_end().prompt->control(win32::kPathField), to_wide(text).c_str());
}

std::string get_prompt_text() {
    // The length may count more than the text holds, never less: the copy says how much it holds.
    HWND field = front_end().prompt->control(win32::kPathField);
    std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(field)), L'\0');
    text.resize(static_cast<std::size_t>(GetWindowTextW(field, text.data(), static_cast<int>(text.size() + 1))));
    return to_utf8(text);
}

void show_chooser() {
    win32::show_form(*front_end().chooser);
}

void show_prompt() {
    win32::show_form(*front_end().prompt);
}

void close_prompt() {
    DestroyWindow(front_end().prompt->window());
}

void message_box(std::string_view text) {
    // The active window owns the box, which disables it and gives it back the focus afterwards; the
    // others are disabled here (MB_TASKMODAL does that only for a box without an owner).
    HWND owner = GetActiveWindow();
    std::vector<HWND> disabled;
    for (std::optional<win32::Form>* form : {&front_end().prompt, &front_end().chooser}) {
        if (!form->has_value()) {
            continue;
        }
        HWND window = (*form)->window();
        if (window != owner && EnableWindow(window, FALSE) == FALSE) {
            disabled.push_back(window);
        }
    }
    MessageBoxW(owner, to_wide(text).c_str(), to_wide(flow::kApplicationTitle).c_str(), MB_OK);
    for (HWND window : disabled) {
        EnableWindow(window, TRUE);
    }
}

void end() {
    win32::FrontEnd& running = front_end();
    for (std::optional<win32::Form>* form : {&running.prompt, &running.chooser}) {
        if (form->has_value()) {
            DestroyWindow((*form)->window());
        }
    }
    PostQuitMessage(0);
}

}  // namespace beam::ui
