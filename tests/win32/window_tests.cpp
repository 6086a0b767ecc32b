// BeamTailor.exe as its user meets it: its windows, its keys and its clicks, on the real path
// file and real skin files.

#include <gtest/gtest.h>
#include <oleacc.h>

#include <array>
#include <filesystem>
#include <span>
#include <string>

#include "driver.h"

namespace beam::testing {
namespace {

namespace fs = std::filesystem;

constexpr const char* kDefaultLine = "c:/program files/Quake III Arena\r\n";
const std::wstring kDefaultFolder = L"c:/program files/Quake III Arena";
const std::wstring kPromptCaption = L"Note";
const std::wstring kChooserCaption = L"Beam Tailor";

// A control as the user should see it: class, text and box in twips.
struct ExpectedControl {
    std::wstring class_name;
    std::wstring text;
    int left;
    int top;
    int width;
    int height;
};

const std::wstring kCredit =
    L"Beam Tailor for GV 1.0,1.1 and 2.0 by Kestrel" + std::wstring(25, L' ') + L"https://grimvolt.example.org/";

// In the order the window keeps its controls: labels first, so that screen readers name the field
// after the label before it, then the others in tab order.
const std::array<ExpectedControl, 3> kPromptControls{{
    {L"Static", L"Please enter Quake 3 Path", 240, 240, 3615, 495},
    {L"Edit", kDefaultFolder, 240, 720, 3135, 375},
    {L"Button", L"ok", 240, 1320, 1095, 375},
}};
const std::array<ExpectedControl, 4> kChooserControls{{
    {L"Static", kCredit, 2160, 240, 2775, 1095},
    {L"Button", L"Old Q3 Skin", 240, 120, 1455, 495},
    {L"Button", L"GV skin", 240, 720, 1455, 495},
    {L"Button", L"Metal Skin", 240, 1320, 1455, 495},
}};

struct PromptControls {
    HWND label;
    HWND field;
    HWND ok;
};
PromptControls prompt_controls(HWND prompt) {
    const std::vector<HWND> controls = children(prompt);
    return {controls.at(0), controls.at(1), controls.at(2)};
}

// "Old Q3 Skin", "GV skin" and "Metal Skin", for rows 1 to 3.
std::array<HWND, 3> skin_buttons(HWND chooser) {
    const std::vector<HWND> controls = children(chooser);
    return {controls.at(1), controls.at(2), controls.at(3)};
}

void release(IAccessible* object) {
    object->Release();
}
using Accessible = win32::Owned<IAccessible*, &release>;
using String = win32::Owned<BSTR, &SysFreeString>;

int pixels(int twips, int dpi) {
    return MulDiv(twips, dpi, 1440);
}

// The program's class names may carry the common controls' version in front.
std::wstring plain_class_name(HWND window) {
    const std::wstring name = class_name(window);
    return name.substr(name.find(L'!') + 1);
}

// Each test starts the program on a fresh path file and a game folder holding the active pack
// and three skin sources, each with different bytes.
class BeamTailorExe : public ::testing::Test {
  protected:
    void SetUp() override {
        fs::remove_all(kPathFile);
        fs::remove_all(game_);
        fs::create_directories(mod_);
        write_file(pack_, "active pack\r\n\x1a as the player last left it");
        for (int row = 1; row <= 3; ++row) {
            write_file(source(row),
                       "skin source " + std::to_string(row) + std::string(row * 1000, static_cast<char>(row)));
        }
    }
    void TearDown() override {
        fs::remove_all(kPathFile);
        fs::remove_all(game_);
    }

    [[nodiscard]] std::wstring source(int row) const {
        return (mod_ / ("skindata" + std::to_string(row) + ".ncx")).wstring();
    }
    // The game folder as a player types it, with forward slashes.
    [[nodiscard]] std::string game_folder() const { return game_.generic_string(); }

    static void expect_laid_out(HWND window,
                                int client_width,
                                int client_height,
                                std::span<const ExpectedControl> expected,
                                int dpi) {
        RECT client{};
        GetClientRect(window, &client);
        EXPECT_EQ(client.right, pixels(client_width, dpi));
        EXPECT_EQ(client.bottom, pixels(client_height, dpi));
        const auto style = static_cast<DWORD>(GetWindowLongW(window, GWL_STYLE));
        EXPECT_EQ(style & WS_OVERLAPPEDWINDOW, static_cast<DWORD>(WS_OVERLAPPEDWINDOW)) << "sizable, with every box";

        const std::vector<HWND> controls = children(window);
        ASSERT_EQ(controls.size(), expected.size());
        for (std::size_t index = 0; index < expected.size(); ++index) {
            const ExpectedControl& control = expected[index];
            SCOPED_TRACE(to_utf8(control.text));
            EXPECT_EQ(plain_class_name(controls[index]), control.class_name);
            EXPECT_EQ(window_text(controls[index]), control.text);
            const RECT box = rect_in_parent(controls[index]);
            EXPECT_EQ(box.left, pixels(control.left, dpi));
            EXPECT_EQ(box.top, pixels(control.top, dpi));
            EXPECT_EQ(box.right - box.left, pixels(control.width, dpi));
            EXPECT_EQ(box.bottom - box.top, pixels(control.height, dpi));
            const auto control_style = static_cast<DWORD>(GetWindowLongW(controls[index], GWL_STYLE));
            EXPECT_EQ((control_style & WS_TABSTOP) != 0, control.class_name != L"Static") << "labels take no focus";
            if (control.class_name == L"Button") {
                EXPECT_EQ(control_style & BS_TYPEMASK, static_cast<DWORD>(BS_PUSHBUTTON)) << "no default button";
            }
        }
    }

    void expect_both_windows_laid_out_at(int dpi) {
        const RunningProgram program;
        HWND prompt = program.wait_for_window(kPromptCaption);
        HWND chooser = program.wait_for_window(kChooserCaption);
        ASSERT_NE(prompt, nullptr);
        ASSERT_NE(chooser, nullptr);
        expect_laid_out(prompt, 4380, 2085, kPromptControls, dpi);
        expect_laid_out(chooser, 5535, 2610, kChooserControls, dpi);
    }

    fs::path game_ = fs::temp_directory_path() / "beam-tailor-game";
    fs::path mod_ = game_ / "grimvolt";
    std::wstring pack_ = (mod_ / "pakskin.pk3").wstring();
};

TEST_F(BeamTailorExe, StartsWithThePromptOnTopOfTheChooserAndTheCaretInTheField) {
    const RunningProgram program;
    HWND prompt = program.wait_for_window(kPromptCaption);
    HWND chooser = program.wait_for_window(kChooserCaption);
    ASSERT_NE(prompt, nullptr);
    ASSERT_NE(chooser, nullptr);
    EXPECT_TRUE(is_above(prompt, chooser));
    HWND field = prompt_controls(prompt).field;
    EXPECT_TRUE(program.wait_for_focus(field));
    const GUITHREADINFO input = program.input_state();
    EXPECT_EQ(input.hwndActive, prompt);
    EXPECT_EQ(input.hwndCaret, field);
    EXPECT_EQ(window_text(field), kDefaultFolder);
    EXPECT_GE(SendMessageW(field, EM_GETLIMITTEXT, 0, 0), 0x7FFFFFFE) << "the field takes text of any length";
    EXPECT_EQ(file_bytes(kPathFile), kDefaultLine) << "the first start creates the path file";
}

TEST_F(BeamTailorExe, ScreenReadersNameTheFieldAfterItsLabel) {
    if (sizeof(void*) == 8) {
        GTEST_SKIP() << "wine64 answers AccessibleObjectFromWindow with E_NOINTERFACE; the 32-bit build checks this";
    }
    const RunningProgram program;
    HWND prompt = program.wait_for_window(kPromptCaption);
    ASSERT_NE(prompt, nullptr);
    ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
    void* object = nullptr;
    ASSERT_EQ(AccessibleObjectFromWindow(prompt_controls(prompt).field, static_cast<DWORD>(OBJID_CLIENT),
                                         IID_IAccessible, &object),
              S_OK);
    const Accessible field(static_cast<IAccessible*>(object));
    VARIANT self{};
    self.vt = VT_I4;
    self.lVal = CHILDID_SELF;
    BSTR text = nullptr;
    field.get()->get_accName(self, &text);
    const String name(text);
    EXPECT_EQ(std::wstring(name ? name.get() : L""), L"Please enter Quake 3 Path");
}

TEST_F(BeamTailorExe, LaysOutBothWindowsInTwipsAt96Dpi) {
    const ScreenDpi dpi(96);
    expect_both_windows_laid_out_at(96);
}

TEST_F(BeamTailorExe, LaysOutBothWindowsInTwipsAt144Dpi) {
    const ScreenDpi dpi(144);
    expect_both_windows_laid_out_at(144);
}

TEST_F(BeamTailorExe, ResizingAWindowMovesNoControl) {
    const RunningProgram program;
    HWND chooser = program.wait_for_window(kChooserCaption);
    ASSERT_NE(chooser, nullptr);
    std::vector<RECT> before;
    for (HWND control : children(chooser)) {
        before.push_back(rect_in_parent(control));
    }
    SetWindowPos(chooser, nullptr, 0, 0, 900, 700, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    ASSERT_TRUE(wait_until([&] {
        RECT client{};
        GetClientRect(chooser, &client);
        return client.right > 600;
    }));
    const std::vector<HWND> controls = children(chooser);
    for (std::size_t index = 0; index < controls.size(); ++index) {
        const RECT after = rect_in_parent(controls[index]);
        EXPECT_TRUE(EqualRect(&after, &before[index]) != FALSE) << to_utf8(window_text(controls[index]));
    }
}

TEST_F(BeamTailorExe, TabMovesThroughFieldAndButtonsInOrderSkippingLabels) {
    const RunningProgram program;
    HWND prompt = program.wait_for_window(kPromptCaption);
    HWND chooser = program.wait_for_window(kChooserCaption);
    ASSERT_NE(prompt, nullptr);
    ASSERT_NE(chooser, nullptr);
    const PromptControls controls = prompt_controls(prompt);
    ASSERT_TRUE(program.wait_for_focus(controls.field));
    press_key(VK_TAB);
    EXPECT_TRUE(program.wait_for_focus(controls.ok));
    press_key(VK_TAB);
    EXPECT_TRUE(program.wait_for_focus(controls.field));
    press_shift_tab();
    EXPECT_TRUE(program.wait_for_focus(controls.ok));

    // The chooser had the focus on its first button before the prompt came up, and gets it back.
    close_by_close_box(prompt);
    const std::array<HWND, 3> buttons = skin_buttons(chooser);
    ASSERT_TRUE(program.wait_for_focus(buttons[0]));
    EXPECT_EQ(program.input_state().hwndActive, chooser);
    for (HWND next : {buttons[1], buttons[2], buttons[0]}) {
        press_key(VK_TAB);
        EXPECT_TRUE(program.wait_for_focus(next)) << to_utf8(window_text(next));
    }
}

TEST_F(BeamTailorExe, OkSavesTheFieldAtOnceAndClosesOnlyThePrompt) {
    const RunningProgram program;
    HWND prompt = program.wait_for_window(kPromptCaption);
    ASSERT_NE(prompt, nullptr);
    const std::wstring typed = L" d:/Games/Q3 , second field ";
    SendMessageW(prompt_controls(prompt).field, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(typed.c_str()));
    click(prompt_controls(prompt).ok);

    ASSERT_TRUE(wait_until([&] { return IsWindow(prompt) == FALSE; }));
    EXPECT_EQ(file_bytes(kPathFile), " d:/Games/Q3 , second field \r\n") << "on disk while the program runs";
    HWND chooser = program.window(kChooserCaption);
    ASSERT_NE(chooser, nullptr);
    EXPECT_TRUE(IsWindowEnabled(chooser));
    EXPECT_TRUE(program.is_running());

    close_by_close_box(chooser);
    EXPECT_TRUE(program.ends_cleanly()) << "the last window closed";
    EXPECT_EQ(file_bytes(kPathFile), " d:/Games/Q3 , second field \r\n");
}

TEST_F(BeamTailorExe, OkOnAnEmptyFieldSavesAnEmptyLine) {
    const RunningProgram program;
    HWND prompt = program.wait_for_window(kPromptCaption);
    ASSERT_NE(prompt, nullptr);
    SendMessageW(prompt_controls(prompt).field, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L""));
    click(prompt_controls(prompt).ok);
    ASSERT_TRUE(wait_until([&] { return IsWindow(prompt) == FALSE; }));
    EXPECT_EQ(file_bytes(kPathFile), "\r\n");
}

TEST_F(BeamTailorExe, ClosingThePromptSavesNothingAndTheChooserLastEndsTheProgram) {
    write_file(kPathFile, "d:/games/q3\r\n");
    const RunningProgram program;
    HWND prompt = program.wait_for_window(kPromptCaption);
    HWND chooser = program.wait_for_window(kChooserCaption);
    ASSERT_NE(prompt, nullptr);
    ASSERT_NE(chooser, nullptr);
    EXPECT_EQ(window_text(prompt_controls(prompt).field), L"d:/games/q3");
    SendMessageW(prompt_controls(prompt).field, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"typed, never saved"));

    close_by_close_box(prompt);
    ASSERT_TRUE(wait_until([&] { return IsWindow(prompt) == FALSE; }));
    EXPECT_TRUE(IsWindowVisible(chooser));
    EXPECT_TRUE(program.is_running());
    close_by_close_box(chooser);
    EXPECT_TRUE(program.ends_cleanly());
    EXPECT_EQ(file_bytes(kPathFile), std::string("d:/games/q3\r\n") + kDefaultLine);
}

TEST_F(BeamTailorExe, ClosingTheChooserFirstLeavesThePromptWhoseOkEndsTheProgram) {
    const RunningProgram program;
    HWND prompt = program.wait_for_window(kPromptCaption);
    HWND chooser = program.wait_for_window(kChooserCaption);
    ASSERT_NE(prompt, nullptr);
    ASSERT_NE(chooser, nullptr);
    close_by_close_box(chooser);
    ASSERT_TRUE(wait_until([&] { return IsWindow(chooser) == FALSE; }));
    EXPECT_TRUE(IsWindowVisible(prompt));
    EXPECT_TRUE(program.is_running());

    SendMessageW(prompt_controls(prompt).field, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"e:/q3"));
    click(prompt_controls(prompt).ok);
    EXPECT_TRUE(program.ends_cleanly());
    EXPECT_EQ(file_bytes(kPathFile), "e:/q3\r\n");
}

TEST_F(BeamTailorExe, EachSkinButtonSwapsThePackAndConfirmsInAnApplicationModalBox) {
    write_file(kPathFile, game_folder() + "\r\n");
    const RunningProgram program;
    HWND prompt = program.wait_for_window(kPromptCaption);
    HWND chooser = program.wait_for_window(kChooserCaption);
    ASSERT_NE(prompt, nullptr);
    ASSERT_NE(chooser, nullptr);
    const std::array<HWND, 3> buttons = skin_buttons(chooser);
    const std::array<std::wstring, 3> confirmations{L"Old Q3 Skin selected", L"Gv Skin selected",
                                                    L"Metal Skins selected"};

    for (int row : {3, 1, 2, 2}) {
        SCOPED_TRACE("row " + std::to_string(row));
        click(buttons[row - 1]);
        HWND box = program.wait_for_message_box();
        ASSERT_NE(box, nullptr);
        EXPECT_EQ(window_text(box), L"Beam Tailor");
        EXPECT_EQ(message_box_text(box), confirmations[row - 1]);
        EXPECT_FALSE(shows_icon(box));
        EXPECT_FALSE(IsWindowEnabled(prompt)) << "no window takes input while the box is up";
        EXPECT_FALSE(IsWindowEnabled(chooser));
        EXPECT_EQ(file_bytes(pack_), file_bytes(source(row))) << "swapped before the confirmation";

        press_ok(box);
        EXPECT_TRUE(wait_until([&] {
            return program.message_box() == nullptr && IsWindowEnabled(prompt) != FALSE &&
                   IsWindowEnabled(chooser) != FALSE;
        })) << "both windows take input again";
        EXPECT_EQ(window_text(prompt_controls(prompt).field), to_wide(game_folder())) << "the prompt is untouched";
    }
    EXPECT_EQ(file_bytes(kPathFile), game_folder() + "\r\n" + kDefaultLine);
}

TEST_F(BeamTailorExe, AFailedSwapReportsTheErrorKeepsThePackAndEndsTheProgram) {
    fs::remove(source(2));
    write_file(kPathFile, game_folder() + "\r\n");
    const std::string pack_before = file_bytes(pack_);
    const RunningProgram program;
    HWND prompt = program.wait_for_window(kPromptCaption);
    HWND chooser = program.wait_for_window(kChooserCaption);
    ASSERT_NE(chooser, nullptr);

    click(skin_buttons(chooser)[1]);
    HWND box = program.wait_for_message_box();
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(window_text(box), L"Beam Tailor");
    const std::string report = to_utf8(message_box_text(box));
    EXPECT_EQ(report.rfind("Error 2: ", 0), 0U) << report;
    EXPECT_NE(report.find("skindata2.ncx"), std::string::npos) << report;
    EXPECT_FALSE(IsWindowEnabled(prompt));
    EXPECT_FALSE(IsWindowEnabled(chooser));

    press_ok(box);
    EXPECT_TRUE(program.ends_cleanly()) << "the error report ends the program";
    EXPECT_EQ(file_bytes(pack_), pack_before);
    EXPECT_EQ(std::distance(fs::directory_iterator(mod_), fs::directory_iterator()), 3) << "no copy left behind";
}

TEST_F(BeamTailorExe, AStartThatCannotSeedThePathFileShowsOnlyTheErrorReport) {
    fs::create_directory(kPathFile);  // a folder where the path file should be
    const RunningProgram program;
    HWND box = program.wait_for_message_box();
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(program.windows(), std::vector<HWND>{box}) << "no window is shown";
    EXPECT_EQ(to_utf8(message_box_text(box)).rfind("Error ", 0), 0U);
    press_ok(box);
    EXPECT_TRUE(program.ends_cleanly());
}

TEST_F(BeamTailorExe, EnterInTheFieldPressesNothingButEnterAndSpaceOnAFocusedButtonPressIt) {
    write_file(kPathFile, game_folder() + "\r\n");
    const RunningProgram program;
    HWND prompt = program.wait_for_window(kPromptCaption);
    ASSERT_NE(prompt, nullptr);
    const PromptControls controls = prompt_controls(prompt);
    ASSERT_TRUE(program.wait_for_focus(controls.field));

    press_key(VK_RETURN);
    press_key(VK_ESCAPE);
    type_character(L'x');
    // Keys are taken in order: once the x is in, Enter and Esc have had their effect.
    ASSERT_TRUE(wait_until([&] { return window_text(controls.field).find(L'x') != std::wstring::npos; }));
    EXPECT_TRUE(IsWindowVisible(prompt));
    EXPECT_EQ(program.message_box(), nullptr);
    EXPECT_EQ(file_bytes(kPathFile), game_folder() + "\r\n" + kDefaultLine) << "nothing saved";

    press_key(VK_BACK);
    ASSERT_TRUE(wait_until([&] { return window_text(controls.field) == to_wide(game_folder()); }));
    press_key(VK_TAB);
    ASSERT_TRUE(program.wait_for_focus(controls.ok));
    press_key(VK_RETURN);
    ASSERT_TRUE(wait_until([&] { return IsWindow(prompt) == FALSE; }));
    EXPECT_EQ(file_bytes(kPathFile), game_folder() + "\r\n");

    // Back on the chooser, the focus is on "Old Q3 Skin", given back on activation rather than
    // reached by Tab: Enter presses it all the same. Then Tab and Space press "GV skin".
    HWND chooser = program.window(kChooserCaption);
    ASSERT_NE(chooser, nullptr);
    const std::array<HWND, 3> buttons = skin_buttons(chooser);
    ASSERT_TRUE(program.wait_for_focus(buttons[0]));
    for (const auto& [key, row] : {std::pair{VK_RETURN, 1}, std::pair{VK_SPACE, 2}}) {
        if (row == 2) {
            press_key(VK_TAB);
            ASSERT_TRUE(program.wait_for_focus(buttons[1]));
        }
        press_key(static_cast<WORD>(key));
        HWND box = program.wait_for_message_box();
        ASSERT_NE(box, nullptr) << "row " << row;
        EXPECT_EQ(file_bytes(pack_), file_bytes(source(row)));
        press_ok(box);
        ASSERT_TRUE(program.wait_for_focus(buttons[row - 1])) << "the focus comes back to the button";
    }
}

}  // namespace
}  // namespace beam::testing
