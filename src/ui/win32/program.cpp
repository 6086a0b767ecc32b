#include "ui/win32/program.h"

#include <commctrl.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "fileio/wide_text.h"
#include "flow/flow.h"
#include "flow/ui.h"
#include "pathstore/pathstore.h"
#include "ui/layout.h"
#include "ui/win32/form.h"

namespace beam::win32 {

namespace {

// The running program: its path file, the rules that act on it, and its two windows, each while
// it is open.
struct Program {
    PathStore store{"c:/q3path.cfg", "c:/program files/Quake III Arena"};
    flow::Program flow{store};
    HINSTANCE instance = nullptr;
    std::optional<Form> prompt;
    std::optional<Form> chooser;
    // How the next window is shown: as the program was started, for the first one.
    int show_command = SW_SHOW;
};

Program& program() {
    static Program running;
    return running;
}

void button_clicked(const layout::Control& button) {
    program().flow.pressed(button.skin);
}

void window_destroyed(HWND window) {
    Program& running = program();
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
    form.show(std::exchange(program().show_command, SW_SHOW));
}

}  // namespace

int run_program(HINSTANCE instance, int show) {
    const INITCOMMONCONTROLSEX common_controls{sizeof(INITCOMMONCONTROLSEX), ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&common_controls);

    Program& running = program();
    running.instance = instance;
    // Started hidden, the program would have no window to be worked with.
    running.show_command = show == SW_HIDE ? SW_SHOW : show;
    // The path prompt's load step runs before any window is visible.
    running.flow.run([&] {
        Form::register_class(instance);
        running.prompt.emplace(layout::kPrompt, instance, kEvents);
        running.flow.start_up();
    });

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

using win32::program;

void set_prompt_text(std::string_view text) {
    SetWindowTextW(program().prompt->control(win32::kPathField), to_wide(text).c_str());
}

std::string get_prompt_text() {
    // The length may count more than the text holds, never less: the copy says how much it holds.
    HWND field = program().prompt->control(win32::kPathField);
    std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(field)), L'\0');
    text.resize(static_cast<std::size_t>(GetWindowTextW(field, text.data(), static_cast<int>(text.size() + 1))));
    return to_utf8(text);
}

void show_chooser() {
    win32::Program& running = program();
    running.chooser.emplace(layout::kChooser, running.instance, win32::kEvents);
    win32::show_form(*running.chooser);
}

void show_prompt() {
    win32::show_form(*program().prompt);
}

void close_prompt() {
    DestroyWindow(program().prompt->window());
}

void message_box(std::string_view text) {
    // The active window owns the box: the window system disables it while the box is up and
    // activates it again, focus included, when the box goes. The program's other windows are
    // disabled here, to take no input either; all of them when none is active. MB_TASKMODAL would
    // add nothing: with an owner it is MB_APPLMODAL, and without one it disables the thread's
    // windows, as this does.
    HWND owner = GetActiveWindow();
    std::vector<HWND> disabled;
    for (std::optional<win32::Form>* form : {&program().prompt, &program().chooser}) {
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
    win32::Program& running = program();
    for (std::optional<win32::Form>* form : {&running.prompt, &running.chooser}) {
        if (form->has_value()) {
            DestroyWindow((*form)->window());
        }
    }
    PostQuitMessage(0);
}

}  // namespace beam::ui
