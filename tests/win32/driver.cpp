#include "driver.h"

#include <bit>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace beam::testing {

namespace {

constexpr const wchar_t* kMessageBoxClass = L"#32770";
constexpr const wchar_t* kDesktopKey = L"Control Panel\\Desktop";

INPUT key_input(WORD key, DWORD flags) {
    INPUT input{};
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = key;
    input.ki.dwFlags = flags;
    return input;
}

// The driver measures windows in physical pixels, whatever the program's dots per inch.
const bool kDpiAware = [] {
    using SetAwareness = BOOL(WINAPI*)(HANDLE);
    const auto set_awareness =
        std::bit_cast<SetAwareness>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "SetProcessDpiAwarenessContext"));
    // DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2
    return set_awareness != nullptr ? set_awareness(reinterpret_cast<HANDLE>(-4)) != FALSE
                                    : SetProcessDPIAware() != FALSE;
}();

void send(std::vector<INPUT> inputs) {
    SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT));
}

}  // namespace

std::wstring program_path() {
    std::wstring path(MAX_PATH, L'\0');
    path.resize(GetModuleFileNameW(nullptr, path.data(), MAX_PATH));
    return path.substr(0, path.find_last_of(L"\\/") + 1) + L"BeamTailor.exe";
}

bool wait_until(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(20ms);
    }
    return true;
}

std::wstring window_text(HWND window) {
    // WM_GETTEXT reads a control's text across processes, where GetWindowText does not.
    DWORD_PTR length = 0;
    SendMessageTimeoutW(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 5000, &length);
    std::wstring text(length + 1, L'\0');
    DWORD_PTR copied = 0;
    SendMessageTimeoutW(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()), SMTO_ABORTIFHUNG, 5000,
                        &copied);
    text.resize(copied);
    return text;
}

std::wstring class_name(HWND window) {
    std::wstring name(256, L'\0');
    name.resize(static_cast<std::size_t>(GetClassNameW(window, name.data(), static_cast<int>(name.size()))));
    return name;
}

std::vector<HWND> children(HWND parent) {
    std::vector<HWND> found;
    for (HWND child = GetWindow(parent, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
        found.push_back(child);
    }
    return found;
}

RECT rect_in_parent(HWND control) {
    RECT rect{};
    GetWindowRect(control, &rect);
    MapWindowPoints(nullptr, GetParent(control), reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

bool is_above(HWND upper, HWND lower) {
    for (HWND window = GetWindow(upper, GW_HWNDNEXT); window != nullptr; window = GetWindow(window, GW_HWNDNEXT)) {
        if (window == lower) {
            return true;
        }
    }
    return false;
}

void press_key(WORD key) {
    send({key_input(key, 0), key_input(key, KEYEVENTF_KEYUP)});
}

void press_shift_tab() {
    send({key_input(VK_SHIFT, 0), key_input(VK_TAB, 0), key_input(VK_TAB, KEYEVENTF_KEYUP),
          key_input(VK_SHIFT, KEYEVENTF_KEYUP)});
}

void type_character(wchar_t character) {
    INPUT down = key_input(0, KEYEVENTF_UNICODE);
    down.ki.wScan = character;
    INPUT up = down;
    up.ki.dwFlags |= KEYEVENTF_KEYUP;
    send({down, up});
}

std::string file_bytes(const std::wstring& path) {
    std::ifstream file(std::filesystem::path(path), std::ios::binary);
    if (!file) {
        throw std::runtime_error("cannot read " + to_utf8(path));
    }
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

void write_file(const std::wstring& path, const std::string& bytes) {
    std::ofstream file(std::filesystem::path(path), std::ios::binary | std::ios::trunc);
    file << bytes;
    if (!file.flush()) {
        throw std::runtime_error("cannot write " + to_utf8(path));
    }
}

ScreenDpi::ScreenDpi(DWORD dpi) {
    DWORD size = sizeof old_dpi_;
    had_value_ = RegGetValueW(HKEY_CURRENT_USER, kDesktopKey, L"LogPixels", RRF_RT_REG_DWORD, nullptr, &old_dpi_,
                              &size) == ERROR_SUCCESS;
    RegSetKeyValueW(HKEY_CURRENT_USER, kDesktopKey, L"LogPixels", REG_DWORD, &dpi, sizeof dpi);
}

ScreenDpi::~ScreenDpi() {
    if (had_value_) {
        RegSetKeyValueW(HKEY_CURRENT_USER, kDesktopKey, L"LogPixels", REG_DWORD, &old_dpi_, sizeof old_dpi_);
    } else {
        RegDeleteKeyValueW(HKEY_CURRENT_USER, kDesktopKey, L"LogPixels");
    }
}

RunningProgram::RunningProgram() {
    const std::wstring path = program_path();
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started{};
    if (CreateProcessW(path.c_str(), nullptr, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &started) ==
        FALSE) {
        throw std::runtime_error("cannot start " + to_utf8(path));
    }
    process_ = Handle(started.hProcess);
    thread_ = Handle(started.hThread);
    process_id_ = started.dwProcessId;
    thread_id_ = started.dwThreadId;
    WaitForInputIdle(process_.get(), 10000);
}

RunningProgram::~RunningProgram() {
    if (is_running()) {
        TerminateProcess(process_.get(), 1);
        WaitForSingleObject(process_.get(), 10000);
    }
}

std::vector<HWND> RunningProgram::windows() const {
    struct Search {
        DWORD process_id;
        std::vector<HWND> found;
    } search{process_id_, {}};
    EnumWindows(
        [](HWND window, LPARAM data) WINAPI -> BOOL {
            auto* wanted = reinterpret_cast<Search*>(data);
            DWORD owner = 0;
            GetWindowThreadProcessId(window, &owner);
            if (owner == wanted->process_id && IsWindowVisible(window) != FALSE) {
                wanted->found.push_back(window);
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

HWND RunningProgram::window(const std::wstring& caption) const {
    for (HWND window : windows()) {
        if (class_name(window) != kMessageBoxClass && window_text(window) == caption) {
            return window;
        }
    }
    return nullptr;
}

HWND RunningProgram::message_box() const {
    for (HWND window : windows()) {
        if (class_name(window) == kMessageBoxClass) {
            return window;
        }
    }
    return nullptr;
}

HWND RunningProgram::wait_for_window(const std::wstring& caption) const {
    HWND found = nullptr;
    wait_until([&] { return (found = window(caption)) != nullptr; });
    return found;
}

HWND RunningProgram::wait_for_message_box() const {
    HWND found = nullptr;
    wait_until([&] { return (found = message_box()) != nullptr; });
    return found;
}

GUITHREADINFO RunningProgram::input_state() const {
    GUITHREADINFO state{};
    state.cbSize = sizeof state;
    GetGUIThreadInfo(thread_id_, &state);
    return state;
}

bool RunningProgram::wait_for_focus(HWND control) const {
    return wait_until([&] { return input_state().hwndFocus == control; });
}

bool RunningProgram::ends_cleanly() const {
    if (WaitForSingleObject(process_.get(), 10000) != WAIT_OBJECT_0) {
        return false;
    }
    DWORD exit_code = 1;
    GetExitCodeProcess(process_.get(), &exit_code);
    return exit_code == 0;
}

bool RunningProgram::is_running() const {
    return WaitForSingleObject(process_.get(), 0) == WAIT_TIMEOUT;
}

void click(HWND button) {
    // Posted, not sent: a click that opens a message box returns only once the box is closed.
    PostMessageW(button, BM_CLICK, 0, 0);
}

void close_by_close_box(HWND window) {
    PostMessageW(window, WM_SYSCOMMAND, SC_CLOSE, 0);
}

std::wstring message_box_text(HWND box) {
    // The message is the static control numbered 0xFFFF.
    return window_text(GetDlgItem(box, 0xFFFF));
}

void press_ok(HWND box) {
    PostMessageW(box, WM_COMMAND, IDOK, 0);
}

bool shows_icon(HWND box) {
    for (HWND child : children(box)) {
        const auto style = static_cast<DWORD>(GetWindowLongW(child, GWL_STYLE));
        if (IsWindowVisible(child) != FALSE && (style & SS_TYPEMASK) == SS_ICON && class_name(child) == L"Static" &&
            SendMessageW(child, STM_GETICON, 0, 0) != 0) {
            return true;
        }
    }
    return false;
}

}  // namespace beam::testing
