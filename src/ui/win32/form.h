#pragma once

// One top-level window built from its layout table: a dialog, whose dialog manager gives it Tab,
// focus memory and the default-button look, with standard controls in tab order, placed in twips
// for the window's dots per inch, and placed again whenever those change.

#include <windows.h>

#include <cstddef>
#include <optional>

#include "ui/layout.h"
#include "ui/win32/dpi.h"

namespace beam::win32 {

// What a window passes on to the program.
struct FormEvents {
    // A push button was pressed. The form may be gone by the time this returns.
    void (*clicked)(const layout::Control& button);
    // The window has been destroyed; the form must not be used any more.
    void (*destroyed)(HWND window);
};

class Form {
  public:
    // Registers the dialog class every form uses; once, before the first form.
    static void register_class(HINSTANCE instance);

    // Creates the window and its controls, hidden, at the window system's default position.
    Form(const layout::Window& layout, HINSTANCE instance, FormEvents events);
    Form(const Form&) = delete;
    Form& operator=(const Form&) = delete;
    Form(Form&&) = delete;
    Form& operator=(Form&&) = delete;
    ~Form() = default;

    [[nodiscard]] HWND window() const { return window_; }
    // The control at index of the layout's list.
    [[nodiscard]] HWND control(std::size_t index) const;

    // Shows the window as command says (SW_SHOW...), which for all but minimising commands makes
    // it the active one.
    void show(int command) const;

  private:
    friend LRESULT CALLBACK form_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) noexcept;

    // Creates the window's controls, in tab order.
    void create_controls(HINSTANCE instance);
    // Sizes the window and places every control, with the message font and the icons, for dpi;
    // the window takes the rectangle the window system suggests, when it does.
    void lay_out(UINT dpi, const RECT* suggested);
    // The window's outer size for its client area at dpi.
    [[nodiscard]] SIZE window_size(UINT dpi) const;
    // Keeps a client size the window was given other than its own, as the player's.
    void keep_client_size(int width, int height);
    // Answers message, or returns nothing to leave it to the window system.
    std::optional<LRESULT> handle(UINT message, WPARAM wparam, LPARAM lparam);

    const layout::Window& layout_;
    FormEvents events_;
    HWND window_ = nullptr;
    // The client area's size in twips: the layout's until the player resizes the window.
    SIZE client_twips_;
    UINT dpi_ = 0;  // of the last layout; 0 before the first
    Font font_;
    Icon small_icon_;
    Icon large_icon_;
};

}  // namespace beam::win32
