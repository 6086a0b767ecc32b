#include <windows.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <memory>
#include <optional>
#include <vector>

#include "fileio/fileio.h"
#include "fileio/wide_text.h"

namespace beam {

namespace {

// bytes of a code page in UTF-16; nothing where flags make the conversion refuse them.
std::optional<std::wstring> widened(UINT code_page, DWORD flags, std::string_view bytes) {
    if (bytes.empty()) {
        return std::wstring();
    }
    const int size = static_cast<int>(bytes.size());
    const int length = MultiByteToWideChar(code_page, flags, bytes.data(), size, nullptr, 0);
    if (length == 0) {
        return std::nullopt;
    }
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(code_page, flags, bytes.data(), size, wide.data(), length);
    return wide;
}

// UTF-16 in a code page; nothing where a code page other than UTF-8 lacks some of its characters.
std::optional<std::string> narrowed(UINT code_page, std::wstring_view wide) {
    if (wide.empty()) {
        return std::string();
    }
    const int size = static_cast<int>(wide.size());
    const bool utf8 = code_page == CP_UTF8;  // which takes neither the flag nor the question
    BOOL lost = FALSE;
    const DWORD flags = utf8 ? 0 : WC_NO_BEST_FIT_CHARS;
    const int length =
        WideCharToMultiByte(code_page, flags, wide.data(), size, nullptr, 0, nullptr, utf8 ? nullptr : &lost);
    std::string bytes(static_cast<std::size_t>(length), '\0');
    WideCharToMultiByte(code_page, flags, wide.data(), size, bytes.data(), length, nullptr, nullptr);
    return lost ? std::nullopt : std::optional(std::move(bytes));
}

// The short 8.3 form of an existing path, if the file system keeps short names.
std::optional<std::wstring> short_path_of(const std::wstring& path) {
    if (path.find(L'\0') != std::wstring::npos) {
        return std::nullopt;
    }
    const DWORD size = GetShortPathNameW(path.c_str(), nullptr, 0);
    std::wstring short_path(size, L'\0');
    const DWORD length = size == 0 ? 0 : GetShortPathNameW(path.c_str(), short_path.data(), size);
    if (length == 0 || length >= size) {
        return std::nullopt;
    }
    short_path.resize(length);
    return short_path;
}

}  // namespace

std::wstring to_wide(std::string_view utf8) {
    return widened(CP_UTF8, 0, utf8).value_or(std::wstring());
}

std::string to_utf8(std::wstring_view wide) {
    return narrowed(CP_UTF8, wide).value_or(std::string());
}

namespace fileio {

namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

HANDLE handle_of(std::intptr_t native_handle) {
    return reinterpret_cast<HANDLE>(native_handle);
}

std::intptr_t native(HANDLE handle) {
    return reinterpret_cast<std::intptr_t>(handle);
}

// The path as the W API takes it, refused where a NUL would cut it short.
std::wstring system_path(const std::string& path) {
    if (path.find('\0') != std::string::npos) {
        throw os_failure(ERROR_INVALID_NAME, path);
    }
    return to_wide(path);
}

// The system's description of an error number, CR LF trimmed. Wine's messages lack 6009, a
// read-only pack's number.
std::string system_text(DWORD error_number) {
    wchar_t* buffer = nullptr;
    const DWORD length =
        FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                       nullptr, error_number, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    const std::unique_ptr<wchar_t, decltype(&LocalFree)> owned(buffer, &LocalFree);
    std::wstring_view description(buffer, length);
    while (!description.empty() && (description.back() == L'\n' || description.back() == L'\r')) {
        description.remove_suffix(1);
    }
    if (!description.empty()) {
        return to_utf8(description);
    }
    return error_number == ERROR_FILE_READ_ONLY ? "The specified file is read only." : "Unknown error";
}

// FileRenameInfoEx (Windows 10 1607), which the headers declare only for programs that need that
// Windows, and its flags REPLACE_IF_EXISTS | POSIX_SEMANTICS in place of ReplaceIfExists.
constexpr auto kFileRenameInfoEx = static_cast<FILE_INFO_BY_HANDLE_CLASS>(22);
constexpr DWORD kReplaceIfExistsWithPosixSemantics = 0x1 | 0x2;

// Renames the copy over to, once; false with the error left for GetLastError. FileRenameInfoEx on
// the copy's handle replaces a target that others hold sharing deletion (a virus scanner, a sync
// client), who go on reading its old bytes. Where it is not supported (87 or 50: before Windows 10
// 1607, FAT, Wine), MoveFileExW renames, which any other handle on the target refuses.
bool renamed_over(const File& copy, const std::wstring& from, const std::wstring& to) {
    const std::size_t name_bytes = (to.size() + 1) * sizeof(wchar_t);
    std::vector<std::byte> rename(offsetof(FILE_RENAME_INFO, FileName) + name_bytes);
    std::memcpy(rename.data(), &kReplaceIfExistsWithPosixSemantics, sizeof(DWORD));
    auto* info = reinterpret_cast<FILE_RENAME_INFO*>(rename.data());
    info->FileNameLength = static_cast<DWORD>(name_bytes - sizeof(wchar_t));
    std::memcpy(rename.data() + offsetof(FILE_RENAME_INFO, FileName), to.c_str(), name_bytes);
    if (SetFileInformationByHandle(handle_of(copy.native_handle()), kFileRenameInfoEx, info,
                                   static_cast<DWORD>(rename.size())) != FALSE) {
        return true;
    }
    const DWORD error = GetLastError();
    return (error == ERROR_INVALID_PARAMETER || error == ERROR_NOT_SUPPORTED) &&
           MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != FALSE;
}

// The error with which path refuses an opening for DELETE, as a rename over it needs; 0 when it opens.
DWORD deletion_refused(const std::wstring& path) {
    HANDLE opened =
        CreateFileW(path.c_str(), DELETE, kShareAll, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    const DWORD error = opened == INVALID_HANDLE_VALUE ? GetLastError() : ERROR_SUCCESS;
    const File probe(native(opened), {});
    return error;
}

// Sleeps 100 ms, then peeks at the thread's message queue (PM_NOREMOVE): Windows marks a program's
// windows "Not Responding" after 5 s without a look, and a click left in the queue starts no action.
void pause_looking_at_messages() {
    Sleep(100);
    MSG message{};
    PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE);
}

constexpr ULONGLONG kWaitMilliseconds = 6000;  // for another program that holds the copy or the pack

// Opens the copy's fixed name sharing reading (a virus scanner looks into a fresh file) and deletion
// (MoveFileExW needs it) but not writing: another swap's opening fails with 32 until this one closes
// the copy after its rename or deletion, and waits as the rename waits for a holder. A killed swap's
// copy, which nothing holds, is taken over.
File take_copy(const std::wstring& copy_name, const std::string& folder) {
    const ULONGLONG start = GetTickCount64();
    for (;;) {
        HANDLE copy = CreateFileW(copy_name.c_str(), GENERIC_WRITE | DELETE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                  nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (copy != INVALID_HANDLE_VALUE) {
            return {native(copy), folder};
        }
        if (GetLastError() != ERROR_SHARING_VIOLATION) {
            throw last_os_failure(folder);  // the folder refused it, not the pack
        }
        if (GetTickCount64() - start >= kWaitMilliseconds) {
            throw os_failure(ERROR_SHARING_VIOLATION, to_utf8(copy_name));
        }
        pause_looking_at_messages();
    }
}

// Renames the copy over to, waiting while another program holds either file (a virus scanner, a
// sync client). A holder that stays is reported as 32 with the file it holds, never as "access
// denied", which would send the player looking at permissions; a pack this user may not delete is
// reported at once.
void move_over(const File& copy, const std::wstring& from, const std::wstring& to, const std::string& target) {
    const ULONGLONG start = GetTickCount64();
    while (!renamed_over(copy, from, to)) {
        const DWORD error = GetLastError();
        if (error != ERROR_ACCESS_DENIED && error != ERROR_SHARING_VIOLATION) {
            throw os_failure(static_cast<int>(error), target);
        }
        // Opened for DELETE, the pack tells which: a holder not sharing deletion (the game) refuses it
        // with 32, missing rights with 5; where it opens, a holder shares deletion or holds the copy.
        const DWORD refused = deletion_refused(to);
        if (refused != ERROR_SUCCESS && refused != ERROR_SHARING_VIOLATION) {
            throw os_failure(static_cast<int>(refused), target);
        }
        if (GetTickCount64() - start >= kWaitMilliseconds) {
            const bool copy_held = refused == ERROR_SUCCESS && error == ERROR_SHARING_VIOLATION;
            throw os_failure(ERROR_SHARING_VIOLATION, copy_held ? to_utf8(from) : target);
        }
        pause_looking_at_messages();
    }
}

}  // namespace

Failure os_failure(int error_number, std::string path) {
    return Failure{error_number, system_text(static_cast<DWORD>(error_number)), std::move(path)};
}

Failure last_os_failure(std::string path) {
    return os_failure(static_cast<int>(GetLastError()), std::move(path));
}

Failure out_of_memory_failure() {
    return os_failure(ERROR_NOT_ENOUGH_MEMORY, {});
}

Failure end_of_file_failure(std::string path) {
    return os_failure(ERROR_HANDLE_EOF, std::move(path));
}

// 32767 UTF-16 units, each at most 3 bytes of UTF-8.
const std::size_t kLongestPath = 3 * 32767;

Failure name_too_long_failure(std::string path) {
    return os_failure(ERROR_FILENAME_EXCED_RANGE, std::move(path));
}

File::File(const std::string& path, OpenMode mode) : path_(path) {
    // Shared in every way: the slot stays open after each step, and meanwhile a second copy of
    // the program must be able to seed the file and an editor to save it. Writing opens it as it
    // is, for overwrite: CREATE_ALWAYS refuses a hidden file, and a player may have hidden it.
    const DWORD access = mode == OpenMode::read    ? GENERIC_READ
                         : mode == OpenMode::write ? GENERIC_WRITE | FILE_READ_ATTRIBUTES  // its size, for overwrite
                                                   : GENERIC_READ | FILE_APPEND_DATA;      // every write at the end
    handle_ = native(CreateFileW(system_path(path).c_str(), access, kShareAll, nullptr,
                                 mode == OpenMode::read ? OPEN_EXISTING : OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!is_open()) {  // INVALID_HANDLE_VALUE
        throw last_os_failure(path);
    }
}

bool File::close_native(std::intptr_t handle) noexcept {
    return CloseHandle(handle_of(handle)) != FALSE;
}

std::size_t File::read_some(std::span<char> buffer) {
    DWORD count = 0;
    const auto wanted = static_cast<DWORD>(std::min<std::size_t>(buffer.size(), std::size_t{1} << 30));
    if (!ReadFile(handle_of(handle_), buffer.data(), wanted, &count, nullptr)) {
        throw last_os_failure(path_);
    }
    return count;
}

void File::write_all(std::string_view bytes) {
    while (!bytes.empty()) {
        DWORD count = 0;
        const auto wanted = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), std::size_t{1} << 30));
        if (!WriteFile(handle_of(handle_), bytes.data(), wanted, &count, nullptr)) {
            throw last_os_failure(path_);
        }
        bytes.remove_prefix(count);
    }
}

void File::overwrite(std::string_view bytes) {
    const HANDLE file = handle_of(handle_);
    // The new end first: NTFS gives a file that grows the room up to its end at once, or fails
    // with the file as it was (Wine 8 has no FileAllocationInfo to take the room alone).
    LARGE_INTEGER end{};
    end.QuadPart = static_cast<LONGLONG>(bytes.size());
    if (bytes.size() > size_in_bytes() && !(SetFilePointerEx(file, end, nullptr, FILE_BEGIN) && SetEndOfFile(file))) {
        throw last_os_failure(path_);
    }
    if (!SetFilePointerEx(file, LARGE_INTEGER{}, nullptr, FILE_BEGIN)) {
        throw last_os_failure(path_);
    }
    write_all(bytes);
    if (!SetEndOfFile(file)) {
        throw last_os_failure(path_);
    }
}

std::uint64_t File::size_in_bytes() {
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(handle_of(handle_), &size)) {
        throw last_os_failure(path_);
    }
    return static_cast<std::uint64_t>(size.QuadPart);
}

std::size_t File::read_at(std::span<char> buffer, std::uint64_t offset) {
    OVERLAPPED at_offset{};
    at_offset.Offset = static_cast<DWORD>(offset);
    at_offset.OffsetHigh = static_cast<DWORD>(offset >> 32U);
    DWORD count = 0;
    if (!ReadFile(handle_of(handle_), buffer.data(), static_cast<DWORD>(buffer.size()), &count, &at_offset) &&
        GetLastError() != ERROR_HANDLE_EOF) {
        throw last_os_failure(path_);
    }
    return count;
}

void File::flush_to_disk() {
    if (!FlushFileBuffers(handle_of(handle_))) {
        throw last_os_failure(path_);
    }
}

std::string to_file_text(std::string_view utf8, const std::string& path) {
    const std::wstring wide = to_wide(utf8);
    std::optional<std::string> bytes = narrowed(GetACP(), wide);
    // Writing '?' in place of letters the code page lacks would store a folder that does not
    // exist; an existing folder's short name names the same folder in letters the code page has.
    if (const std::optional<std::wstring> short_path = bytes ? std::nullopt : short_path_of(wide)) {
        bytes = narrowed(GetACP(), *short_path);
    }
    if (!bytes) {
        throw os_failure(ERROR_NO_UNICODE_TRANSLATION, path);
    }
    return *std::move(bytes);
}

std::string from_file_text(std::string_view bytes) {
    // Notepad saves UTF-8 (since Windows 10 1903): a field that is valid UTF-8 is taken as such
    // (plain ASCII reads alike in both), any other in the code page the program writes.
    if (widened(CP_UTF8, MB_ERR_INVALID_CHARS, bytes)) {
        return std::string(bytes);
    }
    return to_utf8(widened(CP_ACP, 0, bytes).value_or(std::wstring()));
}

void replace_with_copy(const std::string& source, const std::string& target) {
    const std::wstring wide_target = system_path(target);
    BY_HANDLE_FILE_INFORMATION target_information{};
    if (const File pack(native(CreateFileW(wide_target.c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING,
                                           FILE_ATTRIBUTE_NORMAL, nullptr)),
                        target);
        !pack.is_open() || !GetFileInformationByHandle(handle_of(pack.native_handle()), &target_information)) {
        throw last_os_failure(target);
    }
    File from(source, OpenMode::read);
    // Windows does not rename over a read-only file (Wine does): said at once, before anything is
    // written, and in words that say why, where "access denied" would send the user to permissions.
    if ((target_information.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0) {
        throw os_failure(ERROR_FILE_READ_ONLY, target);
    }
    const std::wstring copy_name = to_wide(copy_name_beside(target));
    File copy = take_copy(copy_name, folder_of(target));
    try {
        if (!SetEndOfFile(handle_of(copy.native_handle()))) {  // at its start: a killed swap's bytes go
            throw last_os_failure(copy.path());
        }
        copy_through_buffer(from, copy);
        copy.flush_to_disk();
        // The source may be the pack itself, by a hard link: a handle left open on it would refuse
        // MoveFileExW.
        from.close();
        move_over(copy, copy_name, wide_target, target);
    } catch (...) {
        DeleteFileW(copy_name.c_str());  // gone once the copy, which shares deletion, is closed next
        throw;
    }
}

}  // namespace fileio

}  // namespace beam
