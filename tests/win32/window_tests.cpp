// BeamTailor.exe, started from beside this test, worked through the window system alone on real files.

// The calls Windows 10 brought, to ask the program as that Windows does.
#undef _WIN32_WINNT
#define _WIN32_WINNT 0x0A00

#include <gtest/gtest.h>
#include <oleacc.h>
#include <windows.h>

#include <array>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <tuple>

#include "file_bytes.h"
#include "fileio/wide_text.h"
#include "ui/win32/owned.h"

namespace beam {
namespace {

namespace fs = std::filesystem;

const fs::path kPathFile = "c:/q3path.cfg";
const std::string kDefaultLine = "c:/program files/Quake III Arena\r\n";
// The pack's path past 260 characters, as Wine allows, in a mod folder within them, as the C runtime needs.
const std::string kGame = (fs::temp_directory_path() / std::string(240, 'g')).generic_string().substr(0, 240);
const std::string kPack = kGame + "/grimvolt/pakskin.pk3";
const wchar_t* const kConfirmations[] = {L"Old Q3 Skin selected", L"Gv Skin selected", L"Metal Skins selected"};

std::string source(int row) {
    return kGame + "/grimvolt/skindata" + std::to_string(row) + ".ncx";
}
// Whether holds() comes true within about ten seconds.
bool wait_until(const std::function<bool()>& holds) {
    for (int tries = 0; tries < 500 && !holds(); ++tries) {
        Sleep(20);
    }
    return holds();
}
// WM_GETTEXT reads another process's controls, where GetWindowText does not.
std::wstring text_of(HWND window) {
    std::wstring text(4096, L'\0');
    text.resize(
        static_cast<std::size_t>(SendMessageW(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()))));
    return text;
}
std::wstring class_of(HWND window) {
    std::wstring name(64, L'\0');
    name.resize(static_cast<std::size_t>(GetClassNameW(window, name.data(), 64)));
    return name.substr(name.find(L'!') + 1);  // the common controls' version may precede it
}
// A control's name as Windows' accessibility gives it to a screen reader.
std::wstring accessible_name(HWND control) {
    IAccessible* object = nullptr;
    BSTR name = nullptr;
    VARIANT self{};
    self.vt = VT_I4;  // CHILDID_SELF
    if (SUCCEEDED(
            AccessibleObjectFromWindow(control, OBJID_CLIENT, IID_IAccessible, reinterpret_cast<void**>(&object)))) {
        object->get_accName(self, &name);
        object->Release();
    }
    std::wstring text = name != nullptr ? name : L"(none)";
    SysFreeString(name);
    return text;
}
// A window's controls in the order it keeps them: labels first, then the rest in tab order.
std::vector<HWND> controls_of(HWND window) {
    std::vector<HWND> controls;
    for (HWND child = GetWindow(window, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
        controls.push_back(child);
    }
    return controls;
}
// The program's visible window of that caption, or without one its message box.
HWND shown(const wchar_t* caption) {
    HWND window = FindWindowW(caption != nullptr ? L"BeamTailorForm" : L"#32770", caption);
    return IsWindowVisible(window) != FALSE ? window : nullptr;
}
void press(const std::vector<BYTE>& keys) {
    for (const BYTE key : keys) {
        keybd_event(key, 0, 0, 0);
        keybd_event(key, 0, KEYEVENTF_KEYUP, 0);
    }
}
// Posted, not sent: a click that opens a message box returns only once the box is closed.
void click(HWND control) {
    PostMessageW(control, BM_CLICK, 0, 0);
}
// The message box: the program's title and a text from head to tail, while neither window takes input; OK.
void answer_box(const std::wstring& head, const std::string& tail = "") {
    ASSERT_TRUE(wait_until([] { return shown(nullptr) != nullptr; }));
    HWND box = shown(nullptr);
    EXPECT_EQ(text_of(box), L"Beam Tailor");
    const std::wstring text = text_of(GetDlgItem(box, 0xFFFF));
    EXPECT_TRUE(text.starts_with(head) && text.ends_with(to_wide(tail))) << to_utf8(text);
    for (HWND window : {shown(L"Note"), shown(L"Beam Tailor")}) {
        EXPECT_FALSE(window != nullptr && IsWindowEnabled(window)) << to_utf8(text_of(window));
    }
    PostMessageW(box, WM_COMMAND, IDOK, 0);
}

// Each test starts with no path file and a game folder of an active pack and three skin sources.
class BeamTailorExe : public ::testing::Test {
  protected:
    void SetUp() override {
        GetDesktopWindow();  // Wine keeps its desktop open for as long as this process runs
        SetProcessDPIAware();
        CoInitialize(nullptr);
        fs::remove_all(kPathFile);
        fs::remove_all(kGame);
        put(kPack, "active pack\r\n\x1a as the player left it");
        for (int row = 1; row <= 3; ++row) {
            put(source(row), std::string(1000U * static_cast<unsigned>(row), static_cast<char>('0' + row)));
        }
    }
    void TearDown() override {
        TerminateProcess(process_.get(), 1);
        WaitForSingleObject(process_.get(), 10000);
    }

    // Starts the program, found first beside this test, as a shortcut set to show would.
    void start(WORD show = SW_SHOWNORMAL) {
        std::wstring command = L"BeamTailor.exe";
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESHOWWINDOW;
        startup.wShowWindow = show;
        PROCESS_INFORMATION started{};
        ASSERT_TRUE(
            CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &started));
        process_ = decltype(process_)(started.hProcess);
        CloseHandle(started.hThread);
        wait_until([] { return shown(nullptr) || (shown(L"Note") && shown(L"Beam Tailor")); });  // or an error
        prompt = shown(L"Note");
        chooser = shown(L"Beam Tailor");
    }
    // The active window, focus and caret of the thread in the foreground: the program's, when it is.
    [[nodiscard]] static GUITHREADINFO input() {
        GUITHREADINFO state{};
        state.cbSize = sizeof state;
        GetGUIThreadInfo(0, &state);
        return state;
    }
    [[nodiscard]] bool focus_on(HWND control) const {
        return wait_until([&] { return input().hwndFocus == control; });
    }
    [[nodiscard]] DWORD exit_code() const {
        DWORD code = STILL_ACTIVE;
        WaitForSingleObject(process_.get(), 10000);
        GetExitCodeProcess(process_.get(), &code);
        return code;
    }

    win32::Owned<HANDLE, &CloseHandle> process_;
    HWND prompt = nullptr;
    HWND chooser = nullptr;
};

// At the DPI of the Wine session that tests/win32/at-dpi starts and names.
TEST_F(BeamTailorExe, LayoutInTwipsThePromptOnTopWithTheCaretAResizeMovesNothingAndADpiChangeScalesBoxesAndText) {
    const auto dpi = static_cast<int>(GetDpiForSystem());
    ASSERT_STREQ(std::to_string(dpi).c_str(), std::getenv("BEAM_TEST_DPI"));
    start();
    ASSERT_TRUE(prompt && chooser);
    HWND field = controls_of(prompt).at(1);
    EXPECT_TRUE(wait_until([&] { return input().hwndActive == prompt; })) << "shown last, so active and on top";
    EXPECT_TRUE(wait_until([&] { return input().hwndCaret == field; })) << "the caret in the field";

    const std::wstring credit =
        L"Beam Tailor for GV 1.0,1.1 and 2.0 by Kestrel" + std::wstring(25, L' ') + L"https://grimvolt.example.org/";
    // Each window, its client size and its controls' classes, texts and boxes, in twips.
    using Control = std::tuple<std::wstring, std::wstring, std::array<int, 4>>;
    // clang-format off
    const std::tuple<HWND, int, int, std::vector<Control>> windows[] = {
        {prompt, 4380, 2085, {{L"Static", L"Please enter Quake 3 Path", {240, 240, 3615, 495}},
                              {L"Edit", L"c:/program files/Quake III Arena", {240, 720, 3135, 375}},
                              {L"Button", L"ok", {240, 1320, 1095, 375}}}},
        {chooser, 5535, 2610, {{L"Static", credit, {2160, 240, 2775, 1095}},
                               {L"Button", L"Old Q3 Skin", {240, 120, 1455, 495}},
                               {L"Button", L"GV skin", {240, 720, 1455, 495}},
                               {L"Button", L"Metal Skin", {240, 1320, 1455, 495}}}}};
    // clang-format on
    const auto pixels = [dpi](int twips) { return MulDiv(twips, dpi, 1440); };
    RECT suggested{40, 60, 700, 420};  // in the program's memory: Wine passes the pointer on as it is
    void* remote = VirtualAllocEx(process_.get(), nullptr, sizeof suggested, MEM_COMMIT, PAGE_READWRITE);
    for (const auto& [window, width, height, controls] : windows) {
        RECT client{};
        GetClientRect(window, &client);
        EXPECT_EQ(std::pair(client.right, client.bottom), (std::pair<LONG, LONG>(pixels(width), pixels(height))));
        // Asked its size at a DPI to come (Windows 10 1703 on), it answers the one that holds its twips exactly.
        const int other = dpi * 7 / 4;
        RECT exact{0, 0, MulDiv(width, other, 1440), MulDiv(height, other, 1440)};
        AdjustWindowRectExForDpi(&exact, WS_OVERLAPPEDWINDOW, FALSE, 0, other);
        SIZE answer{};
        EXPECT_TRUE(SendMessageW(window, WM_GETDPISCALEDSIZE, other, reinterpret_cast<LPARAM>(remote)) &&
                    ReadProcessMemory(process_.get(), remote, &answer, sizeof answer, nullptr));
        EXPECT_EQ(std::pair(answer.cx, answer.cy), std::pair(exact.right - exact.left, exact.bottom - exact.top));
        for (const bool resized : {false, true}) {
            if (resized) {  // wider and lower, a size that a theme change and a change of the system's font keep
                SetWindowPos(window, nullptr, 0, 0, pixels(width) * 2, pixels(height), SWP_NOMOVE | SWP_NOZORDER);
                EXPECT_TRUE(wait_until([&] { return GetClientRect(window, &client) && client.right > pixels(width); }));
                for (const UINT change : {WM_THEMECHANGED, WM_SETTINGCHANGE}) {
                    RECT now{};
                    SendMessageW(window, change, SPI_SETNONCLIENTMETRICS, 0);
                    EXPECT_TRUE(GetClientRect(window, &now) && EqualRect(&now, &client)) << change;
                }
            }
            ASSERT_EQ(controls_of(window).size(), controls.size());
            for (std::size_t at = 0; at < controls.size(); ++at) {
                const auto& [kind, text, twips] = controls[at];
                HWND control = controls_of(window)[at];
                RECT box{};
                GetWindowRect(control, &box);
                MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&box), 2);
                const std::array<int, 4> shown{box.left, box.top, box.right - box.left, box.bottom - box.top};
                const std::array expected{pixels(twips[0]), pixels(twips[1]), pixels(twips[2]), pixels(twips[3])};
                EXPECT_EQ(Control(class_of(control), text_of(control), shown), Control(kind, text, expected))
                    << (resized ? "after a resize" : "");
                // A screen reader names the field after the label before it, the others after their text.
                EXPECT_EQ(accessible_name(control), kind == L"Edit" ? L"Please enter Quake 3 Path" : text);
            }
        }
    }

    // A DPI change, sent as Windows would (Wine never sends it), gives the window the suggested rectangle and
    // scales boxes and text; a change of the system's font or theme lays both out again at the window's own DPI.
    const auto text_end = [&] { return LOWORD(SendMessageW(field, EM_POSFROMCHAR, 31, 0)); };  // its last letter
    const int text_width = text_end();
    ASSERT_TRUE(WriteProcessMemory(process_.get(), remote, &suggested, sizeof suggested, nullptr));
    for (const auto& [message, now] : {std::pair<UINT, int>{WM_DPICHANGED, dpi * 3 / 2},
                                       {WM_SETTINGCHANGE, dpi},
                                       {WM_DPICHANGED, dpi * 3 / 2},
                                       {WM_THEMECHANGED, dpi}}) {
        const bool dpi_changed = message == WM_DPICHANGED;
        SendMessageW(prompt, message, dpi_changed ? MAKEWPARAM(now, now) : SPI_SETNONCLIENTMETRICS,
                     dpi_changed ? reinterpret_cast<LPARAM>(remote) : 0);
        RECT box{};
        EXPECT_TRUE(!dpi_changed ||
                    wait_until([&] { return GetWindowRect(prompt, &box) && EqualRect(&box, &suggested); }));
        EXPECT_TRUE(GetWindowRect(field, &box) && box.right - box.left == MulDiv(3135, now, 1440)) << message;
        EXPECT_NEAR(text_end() / static_cast<double>(text_width), now / static_cast<double>(dpi), 0.1) << message;
    }

    // The prompt's close box saves nothing and leaves the chooser, whose close box ends the program.
    SendMessageW(field, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"typed, never saved"));
    PostMessageW(prompt, WM_SYSCOMMAND, SC_CLOSE, 0);  // its close box
    ASSERT_TRUE(wait_until([&] { return !IsWindow(prompt); }));
    EXPECT_TRUE(IsWindowVisible(chooser));
    PostMessageW(chooser, WM_SYSCOMMAND, SC_CLOSE, 0);
    EXPECT_EQ(exit_code(), 0U);
    EXPECT_EQ(bytes_of(kPathFile), kDefaultLine);
}

TEST_F(BeamTailorExe, KeysAndClicksSwapAndConfirmWhileNeitherWindowTakesInput) {
    put(kPathFile, kGame + "\r\n");
    start();
    ASSERT_TRUE(prompt && chooser);
    const std::vector<HWND> on_prompt = controls_of(prompt), buttons = controls_of(chooser);
    // Enter and Esc in the field press nothing: once the Tab after them has moved the focus, nothing is saved.
    ASSERT_TRUE(focus_on(on_prompt[1]));
    press({VK_RETURN, VK_ESCAPE});
    for (HWND next : {on_prompt[2], on_prompt[1]}) {
        press({VK_TAB});
        EXPECT_TRUE(focus_on(next));
    }
    EXPECT_EQ(bytes_of(kPathFile), kGame + "\r\n" + kDefaultLine);

    // A button focused by a click or by Tab is pressed by Space and Enter.
    for (const auto& [row, keys] : std::vector<std::pair<int, std::vector<BYTE>>>{
             {1, {}}, {1, {VK_SPACE}}, {2, {VK_TAB, VK_RETURN}}, {3, {}}, {3, {VK_RETURN}}}) {
        if (keys.empty()) {
            click(buttons.at(static_cast<std::size_t>(row)));
        }
        press(keys);
        answer_box(kConfirmations[row - 1]);
        EXPECT_EQ(bytes_of(kPack), bytes_of(source(row)));
        EXPECT_TRUE(wait_until([&] { return IsWindowEnabled(prompt) && IsWindowEnabled(chooser); }));
    }

    // The chooser's close box leaves the prompt, whose "ok" saves the field and ends the program.
    PostMessageW(chooser, WM_SYSCOMMAND, SC_CLOSE, 0);
    ASSERT_TRUE(wait_until([&] { return !IsWindow(chooser); }));
    SendMessageW(on_prompt[1], WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L" e:/q3 , x"));
    click(on_prompt[2]);
    EXPECT_EQ(exit_code(), 0U);
    EXPECT_EQ(bytes_of(kPathFile), " e:/q3 , x\r\n");
}

// A pack a scanner holds, sharing deletion, past the swap's wait (the windows answer meanwhile), and a folder where
// the path file goes: each report ends the program. The chooser, shown first, follows the shortcut's "Run" setting.
TEST_F(BeamTailorExe, FailuresReportTheErrorAndEndTheProgram) {
    put(kPathFile, kGame + "\r\n");
    start(SW_SHOWMAXIMIZED);
    ASSERT_TRUE(prompt && chooser);
    EXPECT_TRUE(IsZoomed(chooser) && !IsZoomed(prompt) && wait_until([&] { return input().hwndActive == prompt; }));
    const win32::Owned<HANDLE, &CloseHandle> scanner(CreateFileW(to_wide(kPack).c_str(), GENERIC_READ,
                                                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                                                 nullptr, OPEN_EXISTING, 0, nullptr));
    click(controls_of(chooser).at(2));
    EXPECT_TRUE(wait_until([&] { return IsHungAppWindow(chooser) || shown(nullptr); }) && !IsHungAppWindow(chooser));
    answer_box(L"Error 32: ", "\n" + kPack);
    EXPECT_EQ(exit_code(), 0U);

    fs::remove_all(kPathFile);
    fs::create_directory(kPathFile);
    start();
    EXPECT_FALSE(prompt || chooser);
    answer_box(L"Error ", "\nc:/q3path.cfg");
    EXPECT_EQ(exit_code(), 0U);
}

}  // namespace
}  // namespace beam
