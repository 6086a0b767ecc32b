// Keeps Wine's desktop open while the window tests run. Wine closes the desktop a second after
// the last program on it has ended, and opening it again for the next program takes seconds on a
// busy machine, sometimes more than a test waits for a window.

#include <windows.h>

// The command line names a file to create once the desktop is open.
int WINAPI wWinMain(HINSTANCE /*instance*/, HINSTANCE /*previous*/, PWSTR ready_file, int /*show*/) {
    GetDesktopWindow();
    CloseHandle(CreateFileW(ready_file, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    MSG message{};
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    }
    return 0;
}
