#pragma once

// One top-level window made from its layout table as a dialog, whose dialog manager gives it Tab,
// focus memory and the default-button look; its controls are placed in twips for the window's DPI,
// and placed again whenever that DPI, the system's font or the theme changes.

#include <windows.h>

#include <array>
#include <cstddef>
#include <optional>

#include "ui/layout.h"
#include "ui/win32/dpi.h"

namespace beam::win32 {

// What a window passes on to the program: a push button pressed (the form may be gone when this
// returns), and the window destroyed (the form must not be used any more).
struct FormEvents {
    void (*clicked)(const layout::Control& button);
    void (*destroyed)(HWND window);
};

class Form {
  public:
    // Registers the window class of every form; once, before the first form.
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

  private:
    friend LRESULT CALLBACK form_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) noexcept;

    void create_controls(HINSTANCE instance);
    void lay_out(UINT dpi, const RECT* suggested);
    [[nodiscard]] SIZE window_size(UINT dpi) const;
    void keep_client_size(int width, int height);
    // The answer to message, or nothing to leave it to the dialog manager.
    std::optional<LRESULT> handle(UINT message, WPARAM wparam, LPARAM lparam);

    const layout::Window& layout_;
    FormEvents events_;
    HWND window_ = nullptr;
    // The client area's size in twips: the layout's until the player resizes the window.
    SIZE client_twips_;
    UINT dpi_ = 0;  // of the last layout; 0 before the first
    Font font_;
    std::array<Icon, 2> icons_;  // ICON_SMALL, ICON_BIG
};

}  // namespace beam::win32
