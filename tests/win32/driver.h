#pragma once

// Drives the real BeamTailor.exe from outside: starts it, finds its windows, reads what they
// show and presses their buttons and keys through the window system.

#include <windows.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "fileio/wide_text.h"
#include "ui/win32/owned.h"

namespace beam::testing {

using namespace std::chrono_literals;

using Handle = win32::Owned<HANDLE, &CloseHandle>;

// BeamTailor.exe, which the build puts beside this driver.
std::wstring program_path();

// Polls condition until it holds or timeout has passed; whether it held.
bool wait_until(const std::function<bool()>& condition, std::chrono::milliseconds timeout = 10s);

std::wstring window_text(HWND window);
std::wstring class_name(HWND window);
// The child windows in z-order, which for controls is their creation and tab order.
std::vector<HWND> children(HWND parent);
// A control's rectangle in its parent's client area.
RECT rect_in_parent(HWND control);
bool is_above(HWND upper, HWND lower);

// Keys pressed and released through the system's input queue, as from a keyboard.
void press_key(WORD key);
void press_shift_tab();
void type_character(wchar_t character);

// The program's own path file in this Wine prefix or on this Windows.
inline constexpr const wchar_t* kPathFile = L"C:\\q3path.cfg";
std::string file_bytes(const std::wstring& path);
void write_file(const std::wstring& path, const std::string& bytes);

// Sets the dots per inch that programs started from now on see, and puts the old value back.
class ScreenDpi {
  public:
    explicit ScreenDpi(DWORD dpi);
    ScreenDpi(const ScreenDpi&) = delete;
    ScreenDpi& operator=(const ScreenDpi&) = delete;
    ScreenDpi(ScreenDpi&&) = delete;
    ScreenDpi& operator=(ScreenDpi&&) = delete;
    ~ScreenDpi();

  private:
    bool had_value_ = false;
    DWORD old_dpi_ = 0;
};

// BeamTailor.exe, started from beside this driver; terminated if a test leaves it running.
class RunningProgram {
  public:
    RunningProgram();
    RunningProgram(const RunningProgram&) = delete;
    RunningProgram& operator=(const RunningProgram&) = delete;
    RunningProgram(RunningProgram&&) = delete;
    RunningProgram& operator=(RunningProgram&&) = delete;
    ~RunningProgram();

    // The visible top-level windows of the program, topmost first.
    [[nodiscard]] std::vector<HWND> windows() const;
    // The visible window with this caption that is not a message box; null when there is none.
    [[nodiscard]] HWND window(const std::wstring& caption) const;
    [[nodiscard]] HWND message_box() const;
    // Waits for them; null after the timeout.
    [[nodiscard]] HWND wait_for_window(const std::wstring& caption) const;
    [[nodiscard]] HWND wait_for_message_box() const;

    // The active window, the focus and the caret of the program's one user-interface thread.
    [[nodiscard]] GUITHREADINFO input_state() const;
    [[nodiscard]] bool wait_for_focus(HWND control) const;

    // Whether the program ended in time, with exit code 0.
    [[nodiscard]] bool ends_cleanly() const;
    [[nodiscard]] bool is_running() const;

  private:
    Handle process_;
    Handle thread_;
    DWORD process_id_ = 0;
    DWORD thread_id_ = 0;
};

// Presses a button as a mouse click would, without waiting for what the click opens.
void click(HWND button);
// The window's close box.
void close_by_close_box(HWND window);
// The message box's text and OK.
std::wstring message_box_text(HWND box);
void press_ok(HWND box);
// Whether the box shows an icon: a visible icon control that holds one.
bool shows_icon(HWND box);

}  // namespace beam::testing
