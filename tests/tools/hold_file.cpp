// hold_file PATH READY RELEASE MILLISECONDS: holds PATH open as a running game holds its pack, for
// reading and sharing reading only, so that no other process may delete or replace it. Sets the
// named event READY once it holds the file, and lets go after MILLISECONDS or as soon as the
// named event RELEASE is set, whichever comes first.

#include <windows.h>

#include <cwchar>

int wmain(int argc, wchar_t** argv) {
    if (argc != 5) {
        return 2;
    }
    HANDLE held =
        CreateFileW(argv[1], GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    HANDLE ready = OpenEventW(EVENT_MODIFY_STATE, FALSE, argv[2]);
    HANDLE release = OpenEventW(SYNCHRONIZE, FALSE, argv[3]);
    if (held == INVALID_HANDLE_VALUE || ready == nullptr || release == nullptr) {
        return 1;
    }
    SetEvent(ready);
    WaitForSingleObject(release, static_cast<DWORD>(std::wcstoul(argv[4], nullptr, 10)));
    CloseHandle(held);
    return 0;
}
