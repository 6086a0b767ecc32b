// BeamTailor.exe, started from beside this test, worked through the window system alone on real files.

#undef _WIN32_WINNT
#define _WIN32_WINNT 0x0A00  // the calls Windows 10 brought, to ask the program as that Windows does

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <filesystem>
#include <functional>

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
    const LRESULT length = SendMessageW(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()));
    text.resize(static_cast<std::size_t>(length));
    return text;
}
// A window's controls in the order it keeps them: each label before its field, which a screen reader names after it;
// the rest in tab order.
std::vector<HWND> controls_of(HWND window) {
    std::vector<HWND> controls;
    for (HWND child = GetWindow(window, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
        controls.push_back(child);
    }
    return controls;
}
// A window's client size, and its controls' texts and boxes.
using Control = std::pair<std::wstring, std::array<int, 4>>;
using Layout = std::pair<std::array<int, 2>, std::vector<Control>>;
Layout layout_of(HWND window) {
    RECT client{};
    GetClientRect(window, &client);
    Layout layout{{client.right, client.bottom}, {}};
    for (HWND control : controls_of(window)) {
        RECT box{};
        GetWindowRect(control, &box);
        MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&box), 2);
        const std::array<int, 4> shown{box.left, box.top, box.right - box.left, box.bottom - box.top};
        layout.second.emplace_back(text_of(control), shown);
    }
    return layout;
}
// A layout given in twips, in pixels at dpi.
Layout in_pixels(Layout layout, int dpi) {
    const auto scale = [dpi](int& twips) { twips = MulDiv(twips, dpi, 1440); };
    std::ranges::for_each(layout.first, scale);
    for (auto& [text, box] : layout.second) {
        std::ranges::for_each(box, scale);
    }
    return layout;
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
// The message box: the program's title and a text from head to tail, while neither window takes input; OK.
void answer_box(const std::wstring& head, const std::string& tail = "") {
    ASSERT_TRUE(wait_until([] { return shown(nullptr) != nullptr; }));
    HWND box = shown(nullptr);
    EXPECT_EQ(text_of(box), L"Beam Tailor");
    const std::wstring text = text_of(GetDlgItem(box, 0xFFFF));
    EXPECT_TRUE(text.starts_with(head) && text.ends_with(to_wide(tail))) << to_utf8(text);
    EXPECT_FALSE(IsWindowEnabled(shown(L"Note")) || IsWindowEnabled(shown(L"Beam Tailor")));
    PostMessageW(box, WM_COMMAND, IDOK, 0);
}
// The active window, focus and caret of the thread in the foreground: the program's, when it is.
GUITHREADINFO input() {
    GUITHREADINFO state{};
    state.cbSize = sizeof state;
    GetGUIThreadInfo(0, &state);
    return state;
}

// Each test starts with no path file and a game folder of an active pack and three skin sources.
class BeamTailorExe : public ::testing::Test {
  protected:
    void SetUp() override {
        GetDesktopWindow();  // Wine keeps its desktop open for as long as this process runs
        SetProcessDPIAware();
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
TEST_F(BeamTailorExe, LayoutInTwipsAResizeMovesNothingAndADpiChangeScalesBoxesAndText) {
    const auto dpi = static_cast<int>(GetDpiForSystem());
    ASSERT_STREQ(std::to_string(dpi).c_str(), std::getenv("BEAM_TEST_DPI"));
    start();
    ASSERT_TRUE(prompt && chooser);
    HWND field = controls_of(prompt).at(1);

    const std::wstring credit =
        L"Beam Tailor for GV 1.0,1.1 and 2.0 by Kestrel" + std::wstring(25, L' ') + L"https://grimvolt.example.org/";
    // clang-format off
    const std::pair<HWND, Layout> windows[] = {
        {prompt, {{4380, 2085}, {{L"Please enter Quake 3 Path", {240, 240, 3615, 495}},
                                 {L"c:/program files/Quake III Arena", {240, 720, 3135, 375}},
                                 {L"ok", {240, 1320, 1095, 375}}}}},
        {chooser, {{5535, 2610}, {{credit, {2160, 240, 2775, 1095}},
                                  {L"Old Q3 Skin", {240, 120, 1455, 495}},
                                  {L"GV skin", {240, 720, 1455, 495}},
                                  {L"Metal Skin", {240, 1320, 1455, 495}}}}}};
    // clang-format on
    RECT suggested{40, 60, 700, 420};  // in the program's memory: Wine passes the pointer on as it is
    void* remote = VirtualAllocEx(process_.get(), nullptr, sizeof suggested, MEM_COMMIT, PAGE_READWRITE);
    for (const auto& [window, in_twips] : windows) {
        const Layout layout = in_pixels(in_twips, dpi);
        EXPECT_EQ(layout_of(window), layout);
        // Asked its size at a DPI to come (Windows 10 1703 on), it answers the one that holds its twips exactly.
        const int other = dpi * 7 / 4;
        RECT exact{0, 0, in_pixels(in_twips, other).first[0], in_pixels(in_twips, other).first[1]};
        AdjustWindowRectExForDpi(&exact, WS_OVERLAPPEDWINDOW, FALSE, 0, other);
        EXPECT_TRUE(SendMessageW(window, WM_GETDPISCALEDSIZE, other, reinterpret_cast<LPARAM>(remote)));
        SIZE answer{};
        ASSERT_TRUE(ReadProcessMemory(process_.get(), remote, &answer, sizeof answer, nullptr));
        EXPECT_EQ(std::pair(answer.cx, answer.cy), std::pair(exact.right - exact.left, exact.bottom - exact.top));
        // Twice as wide: the controls stay, and a theme change and a change of the system's font keep the size.
        SetWindowPos(window, nullptr, 0, 0, layout.first[0] * 2, layout.first[1], SWP_NOMOVE | SWP_NOZORDER);
        EXPECT_TRUE(wait_until([&] { return layout_of(window).first[0] > layout.first[0]; }));
        const Layout resized{layout_of(window).first, layout.second};
        SendMessageW(window, WM_THEMECHANGED, 0, 0);
        SendMessageW(window, WM_SETTINGCHANGE, SPI_SETNONCLIENTMETRICS, 0);
        EXPECT_EQ(layout_of(window), resized);
    }

    // A DPI change, sent as Windows would (Wine never sends it), gives the window the suggested rectangle and
    // scales boxes and text; a change of the system's font or theme lays both out again at the window's own DPI.
    const auto text_end = [&] { return LOWORD(SendMessageW(field, EM_POSFROMCHAR, 31, 0)); };  // its last letter
    const int text_width = text_end();
    ASSERT_TRUE(WriteProcessMemory(process_.get(), remote, &suggested, sizeof suggested, nullptr));
    for (const UINT change : {WM_SETTINGCHANGE, WM_THEMECHANGED}) {
        SendMessageW(prompt, WM_DPICHANGED, MAKEWPARAM(dpi * 3 / 2, dpi * 3 / 2), reinterpret_cast<LPARAM>(remote));
        RECT box{};
        GetWindowRect(prompt, &box);
        EXPECT_TRUE(EqualRect(&box, &suggested));
        EXPECT_EQ(layout_of(prompt).second, in_pixels(windows[0].second, dpi * 3 / 2).second);
        EXPECT_NEAR(text_end() / static_cast<double>(text_width), 1.5, 0.1);
        SendMessageW(prompt, change, SPI_SETNONCLIENTMETRICS, 0);
        EXPECT_EQ(layout_of(prompt).second, in_pixels(windows[0].second, dpi).second) << change;
        EXPECT_NEAR(text_end() / static_cast<double>(text_width), 1.0, 0.1) << change;
    }

    // The prompt's close box saves nothing and leaves the chooser, whose close box ends the program.
    SendMessageW(field, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"typed, never saved"));
    PostMessageW(prompt, WM_SYSCOMMAND, SC_CLOSE, 0);
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
    const std::vector<HWND> on_prompt = controls_of(prompt);
    // Enter and Esc in the field press nothing: once the Tab after them has moved the focus, nothing is saved.
    ASSERT_TRUE(wait_until([&] { return input().hwndFocus == on_prompt[1]; }));
    press({VK_RETURN, VK_ESCAPE, VK_TAB});
    EXPECT_TRUE(wait_until([&] { return input().hwndFocus == on_prompt[2]; }));
    press({VK_TAB});  // past the label
    EXPECT_TRUE(wait_until([&] { return input().hwndFocus == on_prompt[1]; }));
    EXPECT_EQ(bytes_of(kPathFile), kGame + "\r\n" + kDefaultLine);

    // A button focused by a click or by Tab is pressed by Space and Enter; after the box, the focus is back on it.
    const std::vector<HWND> buttons = controls_of(chooser);
    const auto swapped_to = [&](int row, const wchar_t* confirmation) {
        answer_box(confirmation);
        EXPECT_EQ(bytes_of(kPack), bytes_of(source(row)));
        EXPECT_TRUE(wait_until(
            [&] { return IsWindowEnabled(prompt) && IsWindowEnabled(chooser) && input().hwndFocus == buttons[row]; }));
    };
    PostMessageW(buttons[1], BM_CLICK, 0, 0);  // posted: a send would return after the box only
    swapped_to(1, L"Old Q3 Skin selected");
    press({VK_RETURN});  // on the button clicked
    swapped_to(1, L"Old Q3 Skin selected");
    press({VK_TAB, VK_SPACE});
    swapped_to(2, L"Gv Skin selected");
    press({VK_TAB, VK_RETURN});
    swapped_to(3, L"Metal Skins selected");

    // The chooser's close box leaves the prompt, whose "ok" saves the field and ends the program.
    PostMessageW(chooser, WM_SYSCOMMAND, SC_CLOSE, 0);
    ASSERT_TRUE(wait_until([&] { return !IsWindow(chooser); }));
    SendMessageW(on_prompt[1], WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L" e:/q3 , x"));
    PostMessageW(on_prompt[2], BM_CLICK, 0, 0);
    EXPECT_EQ(exit_code(), 0U);
    EXPECT_EQ(bytes_of(kPathFile), " e:/q3 , x\r\n");
}

// Each report ends the program: a pack a scanner holds, sharing deletion, past the swap's wait; a failed start.
TEST_F(BeamTailorExe, StartedMaximizedThePromptOnTopAndEachFailureReportedThenTheEnd) {
    put(kPathFile, kGame + "\r\n");
    start(SW_SHOWMAXIMIZED);  // as a shortcut may ask: the chooser, shown first, maximized
    ASSERT_TRUE(prompt && chooser);
    EXPECT_TRUE(IsZoomed(chooser) && !IsZoomed(prompt));
    EXPECT_TRUE(wait_until([&] { return input().hwndActive == prompt; })) << "shown last, so active and on top";
    const HeldFile scanner = held_as_a_scanner_does(kPack);
    PostMessageW(controls_of(chooser)[2], BM_CLICK, 0, 0);
    // The windows answer while the swap waits: Windows calls one that has not for five seconds hung.
    EXPECT_TRUE(wait_until([&] { return IsHungAppWindow(chooser) || shown(nullptr); }));
    EXPECT_FALSE(IsHungAppWindow(chooser));
    answer_box(L"Error 32: ", "\n" + kPack);
    EXPECT_EQ(exit_code(), 0U);

    fs::remove_all(kPathFile);
    fs::create_directory(kPathFile);  // where the path file goes
    start();
    EXPECT_FALSE(prompt || chooser);
    answer_box(L"Error ", "\nc:/q3path.cfg");
    EXPECT_EQ(exit_code(), 0U);
}

}  // namespace
}  // namespace beam
