// hold_file PATH READY RELEASE MILLISECONDS: holds PATH open as a running game holds its pack, for
// reading and sharing reading only, so that no other process may delete or replace it. Sets the
// named event READY once it holds the file, and lets go after MILLISECONDS or as soon as the
// named event RELEASE is set, whichever comes first.

#include <windows.h>

#include <cwchar>
#include <memory>

namespace {

struct HandleCloser {
    void operator()(HANDLE handle) const { CloseHandle(handle); }
};
using OwnedHandle = std::unique_ptr<void, HandleCloser>;

OwnedHandle owned(HANDLE handle) {
    return OwnedHandle(handle == INVALID_HANDLE_VALUE ? nullptr : handle);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 5) {
        return 2;
    }
    const OwnedHandle held = owned(
        CreateFileW(argv[1], GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    const OwnedHandle ready = owned(OpenEventW(EVENT_MODIFY_STATE, FALSE, argv[2]));
    const OwnedHandle release = owned(OpenEventW(SYNCHRONIZE, FALSE, argv[3]));
    if (!held || !ready || !release) {
        return 1;
    }
    SetEvent(ready.get());
    WaitForSingleObject(release.get(), static_cast<DWORD>(std::wcstoul(argv[4], nullptr, 10)));
    return 0;
}
