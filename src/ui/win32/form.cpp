#include "ui/win32/form.h"

#include <utility>

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
// Control numbers start above IDOK and IDCANCEL, which the dialog manager sends for Enter and Esc.
constexpr int kFirstControlId = 100;

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
            return {L"Button", WS_TABSTOP | BS_PUSHBUTTON, 0};
    }
    return {};
}

// The window, or the report's failure without a path line: text is a caption, not a file.
HWND create_window(DWORD extended_style,
                   const wchar_t* class_name,
                   std::string_view text,
                   DWORD style,
                   HWND parent,
                   HMENU id,
                   HINSTANCE instance,
                   void* creation_data) {
    HWND window = CreateWindowExW(extended_style, class_name, to_wide(text).c_str(), style, CW_USEDEFAULT,
                                  CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, parent, id, instance, creation_data);
    if (window == nullptr) {
        throw fileio::last_os_failure("");
    }
    return window;
}

}  // namespace

LRESULT CALLBACK form_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) noexcept {
    if (message == WM_NCCREATE) {
        auto* form = static_cast<Form*>(reinterpret_cast<CREATESTRUCTW*>(lparam)->lpCreateParams);
        form->window_ = window;
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(form));
        scale_frame_per_monitor(window);
    }
    auto* form = reinterpret_cast<Form*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (form != nullptr) {
        if (const std::optional<LRESULT> result = form->handle(message, wparam, lparam)) {
            return *result;
        }
    }
    return DefWindowProcW(window, message, wparam, lparam);
}

void Form::register_class(HINSTANCE instance) {
    WNDCLASSEXW form_class{};
    form_class.cbSize = sizeof form_class;
    form_class.lpfnWndProc = form_procedure;
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
    // The window procedure fills in window_ as soon as the window exists.
    create_window(0, kFormClass, layout.caption, kFormStyle, nullptr, nullptr, instance, this);
    // A control that cannot be made fails the form, and the window goes with it: left behind, it
    // would go on calling this object's handlers.
    try {
        create_controls(instance);
    } catch (...) {
        DestroyWindow(window_);
        throw;
    }
    // The field takes text of any length.
    if (HWND field = control("Text1")) {
        SendMessageW(field, EM_SETLIMITTEXT, 0, 0);
    }
    lay_out(dpi_of(window_), nullptr);
}

void Form::create_controls(HINSTANCE instance) {
    // Tab follows the order the controls were created in, skipping labels. The labels come first:
    // screen readers name a field after the label just before it.
    controls_.resize(layout_.controls.size());
    for (const bool labels : {true, false}) {
        for (std::size_t index = 0; index < controls_.size(); ++index) {
            const layout::Control& control = layout_.controls[index];
            if ((control.kind == layout::ControlKind::label) != labels) {
                continue;
            }
            const ControlClass kind = control_class(control.kind);
            const auto id = static_cast<INT_PTR>(kFirstControlId + index);
            controls_[index] =
                create_window(kind.extended_style, kind.name, control.text, WS_CHILD | WS_VISIBLE | kind.style, window_,
                              reinterpret_cast<HMENU>(id), instance, nullptr);
            if (focus_ == nullptr && !labels) {
                focus_ = controls_[index];
            }
        }
    }
}

HWND Form::control(std::string_view name) const {
    for (std::size_t index = 0; index < controls_.size(); ++index) {
        if (layout_.controls[index].name == name) {
            return controls_[index];
        }
    }
    return nullptr;
}

void Form::show(int command) const {
    ShowWindow(window_, command);
}

void Form::remember_focus() {
    HWND focus = GetFocus();
    if (focus != nullptr && IsChild(window_, focus) != FALSE) {
        focus_ = focus;
    }
}

void Form::lay_out(UINT dpi, const RECT* suggested) {
    const int dots = static_cast<int>(dpi);
    dpi_ = dpi;  // before the window's size changes, which keep_client_size compares at it
    if (suggested != nullptr) {
        // The whole rectangle: a window dragged onto a monitor of another scale then keeps the
        // same place under the pointer and does not bounce back to the monitor it came from.
        SetWindowPos(window_, nullptr, suggested->left, suggested->top, suggested->right - suggested->left,
                     suggested->bottom - suggested->top, SWP_NOZORDER | SWP_NOACTIVATE);
    } else if (IsZoomed(window_) == FALSE && IsIconic(window_) == FALSE) {  // those keep the size they have
        const SIZE size = window_size(dpi);
        SetWindowPos(window_, nullptr, 0, 0, size.cx, size.cy, SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOMOVE);
    }

    Font font = message_font(dpi);
    for (std::size_t index = 0; index < controls_.size(); ++index) {
        const layout::Box& box = layout_.controls[index].box;
        SetWindowPos(controls_[index], nullptr, layout::to_pixels(box.left, dots), layout::to_pixels(box.top, dots),
                     layout::to_pixels(box.width, dots), layout::to_pixels(box.height, dots),
                     SWP_NOZORDER | SWP_NOACTIVATE);
        SendMessageW(controls_[index], WM_SETFONT, reinterpret_cast<WPARAM>(font.get()), TRUE);
    }
    // The controls have let go of the old font; it goes now.
    font_ = std::move(font);

    // Each window has its own icons, sized for the window's dots per inch rather than the system's.
    const auto instance = reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(window_, GWLP_HINSTANCE));
    Icon small_icon = icon_for_dpi(instance, BEAM_TAILOR_ICON, true, dpi);
    Icon large_icon = icon_for_dpi(instance, BEAM_TAILOR_ICON, false, dpi);
    SendMessageW(window_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(small_icon.get()));
    SendMessageW(window_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(large_icon.get()));
    small_icon_ = std::move(small_icon);
    large_icon_ = std::move(large_icon);
}

SIZE Form::window_size(UINT dpi) const {
    const int dots = static_cast<int>(dpi);
    return window_size_for_client(kFormStyle, layout::to_pixels(client_twips_.cx, dots),
                                  layout::to_pixels(client_twips_.cy, dots), dpi);
}

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
            const auto index = static_cast<std::size_t>(LOWORD(wparam) - kFirstControlId);
            if (HIWORD(wparam) != BN_CLICKED || lparam == 0 || index >= controls_.size() ||
                layout_.controls[index].kind != layout::ControlKind::push_button) {
                return std::nullopt;
            }
            // The action may close this very window: nothing of the form is touched after it.
            events_.clicked(layout_.controls[index]);
            return 0;
        }
        case WM_ACTIVATE:
            if (LOWORD(wparam) == WA_INACTIVE) {
                remember_focus();
            }
            return std::nullopt;  // on activation the window system focuses the window, see WM_SETFOCUS
        case WM_SETFOCUS:
            SetFocus(focus_);
            return 0;
        case kGetDpiScaledSize:
            // Asked before a DPI change (Windows 10 1703 and later): the size whose client area
            // holds the same twips at the new DPI, where scaling the whole window would not.
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
        case WM_SETTINGCHANGE:
            // The user chose another system font or text size: the message font has changed.
            if (wparam == SPI_SETNONCLIENTMETRICS) {
                lay_out(dpi_of(window_), nullptr);
            }
            return std::nullopt;
        case WM_THEMECHANGED:
            lay_out(dpi_of(window_), nullptr);
            return std::nullopt;
        case WM_NCDESTROY:
            SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
            events_.destroyed(window_);
            return std::nullopt;
        default:
            return std::nullopt;
    }
}

}  // namespace beam::win32
