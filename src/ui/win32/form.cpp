#include "ui/win32/form.h"

#include <cstring>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "fileio/fileio.h"
#include "fileio/wide_text.h"
#include "ui/win32/resources.h"

namespace beam::win32 {

namespace {

constexpr const wchar_t* kFormClass = L"BeamTailorForm";
// Sizable, with caption, icon, minimise, maximise and close boxes.
constexpr DWORD kFormStyle = WS_OVERLAPPEDWINDOW;
// WM_GETDPISCALEDSIZE (Windows 10 1703), which the headers declare only for programs that need that Windows.
constexpr UINT kGetDpiScaledSize = 0x02E4;
// Above IDOK and IDCANCEL, which Enter in the field and Esc send: with no control of theirs, nothing is pressed.
constexpr int kFirstControlId = 100;
// The dialog template's x for the window system's default position.
constexpr short kDefaultPosition = static_cast<short>(0x8000);

struct ControlClass {
    const wchar_t* name;
    DWORD style;
    DWORD extended_style;
};

ControlClass control_class(layout::ControlKind kind) {
    switch (kind) {
        case layout::ControlKind::label:
            return {L"Static", SS_LEFT, 0};  // wraps at word boundaries
        case layout::ControlKind::text_field:
            return {L"Edit", WS_TABSTOP | ES_LEFT | ES_AUTOHSCROLL, WS_EX_CLIENTEDGE};
        case layout::ControlKind::push_button:
            return {L"Button", WS_TABSTOP | BS_PUSHBUTTON | BS_NOTIFY, 0};  // BN_SETFOCUS, see WM_COMMAND
    }
    return {};
}

// The window, or the report's failure without a path line: text is a caption, not a file.
HWND window_or_failure(HWND window) {
    if (window == nullptr) {
        throw fileio::last_os_failure("");
    }
    return window;
}

// A dialog template of the form's class and caption alone: the form places its controls itself.
std::vector<WORD> dialog_template(std::string_view caption) {
    const DLGTEMPLATE head{kFormStyle, 0, 0, kDefaultPosition, 0, 0, 0};
    std::vector<WORD> words(sizeof head / sizeof(WORD));
    std::memcpy(words.data(), &head, sizeof head);
    words.push_back(0);  // no menu
    for (const std::wstring& text : {std::wstring(kFormClass), to_wide(caption)}) {
        words.insert(words.end(), text.begin(), text.end());
        words.push_back(0);
    }
    return words;
}

}  // namespace

LRESULT CALLBACK form_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) noexcept {
    if (message == WM_NCCREATE) {
        scale_frame_per_monitor(window);
    }
    auto* form = reinterpret_cast<Form*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (form != nullptr) {
        if (const std::optional<LRESULT> result = form->handle(message, wparam, lparam)) {
            return *result;
        }
    }
    return DefDlgProcW(window, message, wparam, lparam);
}

void Form::register_class(HINSTANCE instance) {
    WNDCLASSEXW form_class{};
    form_class.cbSize = sizeof form_class;
    form_class.lpfnWndProc = form_procedure;
    form_class.cbWndExtra = DLGWINDOWEXTRA;
    form_class.hInstance = instance;
    form_class.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    form_class.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    form_class.lpszClassName = kFormClass;
    if (RegisterClassExW(&form_class) == 0) {
        throw fileio::last_os_failure("");
    }
}

Form::Form(const layout::Window& layout, HINSTANCE instance, FormEvents events)
    : layout_(layout), events_(events), client_twips_{layout.client_width, layout.client_height} {
    const std::vector<WORD> dialog = dialog_template(layout.caption);
    window_ = window_or_failure(
        CreateDialogIndirectParamW(instance, reinterpret_cast<const DLGTEMPLATE*>(dialog.data()), nullptr, nullptr, 0));
    // A control that cannot be made fails the form, and the window goes with it.
    try {
        create_controls(instance);
    } catch (...) {
        DestroyWindow(window_);
        throw;
    }
    // Handled from here on; until now the dialog manager alone answered.
    SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    lay_out(dpi_of(window_), nullptr);
}

// Tab follows the order the controls were created in, skipping labels. The labels come first:
// screen readers name a field after the label just before it.
void Form::create_controls(HINSTANCE instance) {
    for (const bool labels : {true, false}) {
        for (std::size_t index = 0; index < layout_.controls.size(); ++index) {
            const layout::Control& control = layout_.controls[index];
            if ((control.kind == layout::ControlKind::label) != labels) {
                continue;
            }
            const ControlClass kind = control_class(control.kind);
            const auto id = static_cast<INT_PTR>(kFirstControlId + index);
            HWND created = window_or_failure(CreateWindowExW(
                kind.extended_style, kind.name, to_wide(control.text).c_str(), WS_CHILD | WS_VISIBLE | kind.style, 0, 0,
                0, 0, window_, reinterpret_cast<HMENU>(id), instance, nullptr));
            if (control.kind == layout::ControlKind::text_field) {
                SendMessageW(created, EM_SETLIMITTEXT, 0, 0);  // text of any length
            }
        }
    }
}

HWND Form::control(std::size_t index) const {
    return GetDlgItem(window_, static_cast<int>(kFirstControlId + index));
}

// Sizes the window and places every control, with the message font and the icons, for dpi.
void Form::lay_out(UINT dpi, const RECT* suggested) {
    const int dots = static_cast<int>(dpi);
    dpi_ = dpi;  // before the window's size changes, which keep_client_size compares at it
    if (suggested != nullptr) {
        // The whole of it: a window dragged onto another monitor stays under the pointer, there.
        SetWindowPos(window_, nullptr, suggested->left, suggested->top, suggested->right - suggested->left,
                     suggested->bottom - suggested->top, SWP_NOZORDER | SWP_NOACTIVATE);
    } else if (IsZoomed(window_) == FALSE && IsIconic(window_) == FALSE) {  // those keep the size they have
        const SIZE size = window_size(dpi);
        SetWindowPos(window_, nullptr, 0, 0, size.cx, size.cy, SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOMOVE);
    }

    Font font = message_font(dpi);
    for (std::size_t index = 0; index < layout_.controls.size(); ++index) {
        const layout::Box& box = layout_.controls[index].box;
        SetWindowPos(control(index), nullptr, layout::to_pixels(box.left, dots), layout::to_pixels(box.top, dots),
                     layout::to_pixels(box.width, dots), layout::to_pixels(box.height, dots),
                     SWP_NOZORDER | SWP_NOACTIVATE);
        SendMessageW(control(index), WM_SETFONT, reinterpret_cast<WPARAM>(font.get()), TRUE);
    }
    // The controls have let go of the old font; it goes now.
    font_ = std::move(font);

    // Icons of the window's own DPI rather than the system's.
    const auto instance = reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(window_, GWLP_HINSTANCE));
    for (const WPARAM kind : {ICON_SMALL, ICON_BIG}) {
        Icon icon = icon_for_dpi(instance, BEAM_TAILOR_ICON, kind == ICON_SMALL, dpi);
        SendMessageW(window_, WM_SETICON, kind, reinterpret_cast<LPARAM>(icon.get()));
        icons_.at(kind) = std::move(icon);
    }
}

SIZE Form::window_size(UINT dpi) const {
    const int dots = static_cast<int>(dpi);
    return window_size_for_client(kFormStyle, layout::to_pixels(client_twips_.cx, dots),
                                  layout::to_pixels(client_twips_.cy, dots), dpi);
}

// A client size the window was given other than its own is the player's, and kept.
void Form::keep_client_size(int width, int height) {
    const int dots = static_cast<int>(dpi_);
    for (auto [twips, pixels] : {std::pair{&client_twips_.cx, width}, {&client_twips_.cy, height}}) {
        if (pixels != layout::to_pixels(*twips, dots)) {
            *twips = MulDiv(pixels, layout::kTwipsPerInch, dots);
        }
    }
}

std::optional<LRESULT> Form::handle(UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
        case WM_COMMAND: {
            if (HIWORD(wparam) == BN_SETFOCUS) {
                // The focused button becomes the default one, for Enter, as Windows does; Wine does it on Tab only.
                SendMessageW(window_, WM_NEXTDLGCTL, static_cast<WPARAM>(lparam), TRUE);
                return 0;
            }
            // Of the controls only the push buttons send BN_CLICKED; IDOK and IDCANCEL are none of them.
            const auto index = static_cast<std::size_t>(LOWORD(wparam) - kFirstControlId);
            if (HIWORD(wparam) != BN_CLICKED || index >= layout_.controls.size()) {
                return std::nullopt;
            }
            // The action may close this very window: nothing of the form is touched after it.
            events_.clicked(layout_.controls[index]);
            return 0;
        }
        case WM_CLOSE:  // which the dialog manager would turn into IDCANCEL
            DestroyWindow(window_);
            return 0;
        case kGetDpiScaledSize:
            // Before a DPI change (Windows 10 1703 on): the size whose client area holds the same twips.
            // Neither this nor WM_DPICHANGED reaches the dialog manager, whose scaling would undo them.
            *reinterpret_cast<SIZE*>(lparam) = window_size(static_cast<UINT>(wparam));
            return TRUE;
        case WM_DPICHANGED:
            lay_out(HIWORD(wparam), reinterpret_cast<const RECT*>(lparam));
            return 0;
        case WM_SIZE:  // a size the player gives the window stays through changes of theme, font and DPI
            if (wparam == SIZE_RESTORED && dpi_ != 0) {
                keep_client_size(LOWORD(lparam), HIWORD(lparam));
            }
            return std::nullopt;
        case WM_SETTINGCHANGE:  // SPI_SETNONCLIENTMETRICS: another system font or text size
            if (wparam != SPI_SETNONCLIENTMETRICS) {
                return std::nullopt;
            }
            [[fallthrough]];
        case WM_THEMECHANGED:
            lay_out(dpi_of(window_), nullptr);
            return std::nullopt;
        case WM_NCDESTROY:  // the last message: the form goes now
            events_.destroyed(window_);
            return std::nullopt;
        default:
            return std::nullopt;
    }
}

}  // namespace beam::win32
