#include <windows.h>

#include <algorithm>
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

// UTF-16 in a code page; lost_characters (only for a code page other than UTF-8) says whether it lacks some.
std::string narrowed(UINT code_page, DWORD flags, std::wstring_view wide, BOOL* lost_characters) {
    if (wide.empty()) {
        return {};
    }
    const int size = static_cast<int>(wide.size());
    const int length = WideCharToMultiByte(code_page, flags, wide.data(), size, nullptr, 0, nullptr, lost_characters);
    std::string bytes(static_cast<std::size_t>(length), '\0');
    WideCharToMultiByte(code_page, flags, wide.data(), size, bytes.data(), length, nullptr, nullptr);
    return bytes;
}

}  // namespace

std::wstring to_wide(std::string_view utf8) {
    return widened(CP_UTF8, 0, utf8).value_or(std::wstring());
}

std::string to_utf8(std::wstring_view wide) {
    return narrowed(CP_UTF8, 0, wide, nullptr);
}

namespace fileio {

namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

struct LocalFreeDeleter {
    void operator()(wchar_t* text) const { LocalFree(text); }
};

HANDLE handle_of(std::intptr_t native_handle) {
    return reinterpret_cast<HANDLE>(native_handle);
}

std::intptr_t native(HANDLE handle) {
    return reinterpret_cast<std::intptr_t>(handle);
}

// The path as the W API takes it. A NUL character (from a hand-edited path file) would cut the
// path short there and name another file, so such a path is refused as the invalid name it is.
std::wstring system_path(const std::string& path) {
    if (path.find('\0') != std::string::npos) {
        throw os_failure(ERROR_INVALID_NAME, path);
    }
    return to_wide(path);
}

// The system's description of an error number, CR LF trimmed; empty where it has none.
std::string system_text(DWORD error_number) {
    wchar_t* buffer = nullptr;
    const DWORD length =
        FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                       nullptr, error_number, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    const std::unique_ptr<wchar_t, LocalFreeDeleter> owned(buffer);
    std::wstring_view description(buffer, length);
    while (!description.empty() && (description.back() == L'\n' || description.back() == L'\r')) {
        description.remove_suffix(1);
    }
    return to_utf8(description);
}

}  // namespace

Failure os_failure(int error_number, std::string path) {
    std::string description = system_text(static_cast<DWORD>(error_number));
    return Failure{error_number, description.empty() ? "Unknown error" : std::move(description), std::move(path)};
}

Failure last_os_failure(std::string path) {
    return os_failure(static_cast<int>(GetLastError()), std::move(path));
}

Failure out_of_memory_failure() {
    return os_failure(ERROR_NOT_ENOUGH_MEMORY, {});
}

File::File(const std::string& path, OpenMode mode) : path_(path) {
    const std::wstring wide_path = system_path(path);
    // Shared in every way: the slot stays open after each step, and meanwhile a second copy of
    // the program must be able to seed the file and an editor to save it.
    HANDLE handle = INVALID_HANDLE_VALUE;
    switch (mode) {
        case OpenMode::append:
            handle = CreateFileW(wide_path.c_str(), GENERIC_READ | GENERIC_WRITE, kShareAll, nullptr, OPEN_ALWAYS,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
            break;
        case OpenMode::read:
            handle = CreateFileW(wide_path.c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
            break;
        case OpenMode::write:
            // Opened as it is, for overwrite: CREATE_ALWAYS refuses an existing hidden or system
            // file with access denied, and a player may have hidden the path file.
            handle = CreateFileW(wide_path.c_str(), GENERIC_WRITE, kShareAll, nullptr, OPEN_ALWAYS,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
            break;
    }
    if (handle == INVALID_HANDLE_VALUE) {
        throw last_os_failure(path);
    }
    handle_ = native(handle);
    if (mode == OpenMode::append && !SetFilePointerEx(handle, LARGE_INTEGER{}, nullptr, FILE_END)) {
        Failure failure = last_os_failure(path);
        close();  // no destructor runs for an object whose constructor throws
        throw failure;
    }
}

void File::close() noexcept {
    if (is_open()) {
        CloseHandle(handle_of(std::exchange(handle_, kNoHandle)));
    }
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
    // The new end first: Windows gives a file that grows the room up to its end at once (Wine's
    // Windows 8 lacks FileAllocationInfo), or fails with the file as it was.
    LARGE_INTEGER end{};
    end.QuadPart = static_cast<LONGLONG>(bytes.size());
    if ((bytes.size() > size_in_bytes() && !(SetFilePointerEx(file, end, nullptr, FILE_BEGIN) && SetEndOfFile(file))) ||
        !SetFilePointerEx(file, LARGE_INTEGER{}, nullptr, FILE_BEGIN)) {
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
    const auto wanted = static_cast<DWORD>(std::min<std::size_t>(buffer.size(), std::size_t{1} << 30));
    if (!ReadFile(handle_of(handle_), buffer.data(), wanted, &count, &at_offset) &&
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

namespace {

// The text in the ANSI code page, if the code page has every one of its characters.
std::optional<std::string> to_code_page(std::wstring_view wide) {
    BOOL lost_characters = FALSE;
    std::string bytes = narrowed(CP_ACP, WC_NO_BEST_FIT_CHARS, wide, &lost_characters);
    if (lost_characters) {
        return std::nullopt;
    }
    return bytes;
}

// The short 8.3 form of an existing path, if the file system keeps short names.
std::optional<std::wstring> short_path_of(const std::wstring& path) {
    if (path.find(L'\0') != std::wstring::npos) {
        return std::nullopt;
    }
    const DWORD size = GetShortPathNameW(path.c_str(), nullptr, 0);
    if (size == 0) {
        return std::nullopt;
    }
    std::wstring short_path(size, L'\0');
    const DWORD length = GetShortPathNameW(path.c_str(), short_path.data(), size);
    if (length == 0 || length >= size) {
        return std::nullopt;
    }
    short_path.resize(length);
    return short_path;
}

}  // namespace

std::string to_file_text(std::string_view utf8, const std::string& path) {
    if (GetACP() == CP_UTF8) {
        return std::string(utf8);
    }
    const std::wstring wide = to_wide(utf8);
    if (std::optional<std::string> bytes = to_code_page(wide)) {
        return *std::move(bytes);
    }
    // Writing '?' in place of letters the code page lacks would store a folder that does not
    // exist; an existing folder's short name names the same folder in letters the code page has.
    if (const std::optional<std::wstring> short_path = short_path_of(wide)) {
        if (std::optional<std::string> bytes = to_code_page(*short_path)) {
            return *std::move(bytes);
        }
    }
    throw os_failure(ERROR_NO_UNICODE_TRANSLATION, path);
}

std::string from_file_text(std::string_view bytes) {
    // Notepad saves UTF-8 (since Windows 10 1903): a field that is valid UTF-8, and not plain
    // ASCII, which both read alike, is taken as such; any other as the code page written here.
    if (std::any_of(bytes.begin(), bytes.end(), [](char c) { return (static_cast<unsigned char>(c) & 0x80U) != 0; }) &&
        widened(CP_UTF8, MB_ERR_INVALID_CHARS, bytes)) {
        return std::string(bytes);
    }
    return to_utf8(widened(CP_ACP, 0, bytes).value_or(std::wstring()));
}

namespace {

// Which file a path names: its volume and its index there.
BY_HANDLE_FILE_INFORMATION identity_of(const std::wstring& path, DWORD access, const std::string& path_in_failure) {
    File file(native(CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr)),
              path_in_failure);
    BY_HANDLE_FILE_INFORMATION identity{};
    if (!file.is_open() || !GetFileInformationByHandle(handle_of(file.native_handle()), &identity)) {
        throw last_os_failure(path_in_failure);
    }
    return identity;
}

bool is_same_file(const BY_HANDLE_FILE_INFORMATION& one, const BY_HANDLE_FILE_INFORMATION& other) {
    return one.dwVolumeSerialNumber == other.dwVolumeSerialNumber && one.nFileIndexHigh == other.nFileIndexHigh &&
           one.nFileIndexLow == other.nFileIndexLow;
}

// A copy of the source keeps its read-only attribute, which would stand in the way of its removal.
void delete_file(const std::wstring& path) {
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileW(path.c_str());
}

struct FindCloser {
    void operator()(HANDLE search) const { FindClose(search); }
};

// Deletes a file that no program holds open: opened for deletion without sharing, it refuses
// while any other handle is open on it, as a running swap holds its copy.
void delete_unless_open(const std::wstring& path) {
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);  // a read-only file refuses deletion
    HANDLE file = CreateFileW(path.c_str(), DELETE, 0, nullptr, OPEN_EXISTING, FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        CloseHandle(file);
    }
}

// A swap killed between making its copy and renaming it leaves the copy behind; without this,
// every such kill would leave another pack-sized file in the mod folder. A running swap holds
// its copy open until after the rename, and that copy stays.
void remove_leftover_copies(const std::string& target) {
    WIN32_FIND_DATAW found{};
    HANDLE first = FindFirstFileW(to_wide(target + ".*.tmp").c_str(), &found);
    if (first == INVALID_HANDLE_VALUE) {
        return;
    }
    const std::unique_ptr<void, FindCloser> search(first);
    const std::string folder = folder_of(target);
    const std::string_view target_name = name_of(target);
    do {
        const std::string name = to_utf8(found.cFileName);
        if (is_temporary_copy_of(name, target_name)) {
            delete_unless_open(to_wide(folder + "/" + name));
        }
    } while (FindNextFileW(search.get(), &found));
}

// Replacing a file that another program holds open fails as "access denied", which would send
// the user looking at permissions. Asking for the right to delete it tells the two apart: a file
// held without sharing deletion refuses that as a sharing violation ("in use by another process").
DWORD why_not_replaced(const std::wstring& target, DWORD error) {
    if (error != ERROR_ACCESS_DENIED) {
        return error;
    }
    HANDLE probe = CreateFileW(target.c_str(), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (probe != INVALID_HANDLE_VALUE) {
        CloseHandle(probe);
        return error;
    }
    return GetLastError() == ERROR_SHARING_VIOLATION ? ERROR_SHARING_VIOLATION : error;
}

// Runs step until it succeeds; ERROR_SUCCESS, or why not. A virus scanner or an indexer may hold
// a fresh file for a moment: a step refused as access denied or a sharing violation is retried
// for about a second.
template <typename Step>
DWORD retried_while_held(Step step) {
    constexpr int kAttempts = 10;
    constexpr DWORD kPauseMilliseconds = 100;
    for (int attempt = 1;; ++attempt) {
        if (step()) {
            return ERROR_SUCCESS;
        }
        const DWORD error = GetLastError();
        if (attempt == kAttempts || (error != ERROR_ACCESS_DENIED && error != ERROR_SHARING_VIOLATION)) {
            return error;
        }
        Sleep(kPauseMilliseconds);
    }
}

// Renames from over to; ERROR_SUCCESS, or why not.
DWORD move_over(const std::wstring& from, const std::wstring& to) {
    const DWORD error = retried_while_held(
        [&] { return MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH); });
    return error == ERROR_SUCCESS ? error : why_not_replaced(to, error);
}

// CopyFileW fails alike for a failed read of the source and a failed write of the copy. Reading
// the source through tells the two apart: a failure there is the source's and names it.
void read_through(const std::string& source) {
    File from(source, OpenMode::read);
    std::vector<char> buffer(std::size_t{1} << 16);
    while (from.read_some(buffer) != 0) {
    }
}

// Copies source to a fresh name beside target and reopens the copy, to flush it and to hold it:
// while a swap holds its copy, no other swap removes it as a leftover, and while CopyFileW
// writes it, its own handle does the same. The copy is returned closed when another swap took
// it in the moment between the two.
File held_copy_beside(const std::string& source,
                      const std::wstring& wide_source,
                      const std::string& target,
                      std::wstring& temporary) {
    for (;;) {
        temporary = to_wide(temporary_name_beside(target));
        if (CopyFileW(wide_source.c_str(), temporary.c_str(), TRUE)) {
            break;
        }
        if (GetLastError() != ERROR_FILE_EXISTS) {
            Failure failure = last_os_failure(target);
            delete_file(temporary);  // a failed copy can leave part of the file behind
            read_through(source);
            throw failure;
        }
    }
    // The copy carries the source's attributes along; a read-only pack would block the next swap.
    const DWORD attributes = GetFileAttributesW(temporary.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0) {
        SetFileAttributesW(temporary.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
    }
    // The reopen shares what a virus scanner that holds the fresh file may hold.
    HANDLE reopened = INVALID_HANDLE_VALUE;
    const DWORD error = retried_while_held([&] {
        reopened = CreateFileW(temporary.c_str(), GENERIC_WRITE, kShareAll, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
        return reopened != INVALID_HANDLE_VALUE;
    });
    if (error == ERROR_FILE_NOT_FOUND) {
        return {};
    }
    if (error != ERROR_SUCCESS) {
        delete_file(temporary);
        throw os_failure(static_cast<int>(error), target);
    }
    return {native(reopened), target};
}

}  // namespace

void replace_with_copy(const std::string& source, const std::string& target) {
    const std::wstring wide_target = system_path(target);
    const std::wstring wide_source = system_path(source);
    const BY_HANDLE_FILE_INFORMATION target_identity = identity_of(wide_target, FILE_READ_ATTRIBUTES, target);
    if (is_same_file(identity_of(wide_source, GENERIC_READ, source), target_identity)) {
        return;  // already in place; copying a file onto itself would only risk it
    }
    // Windows does not replace a read-only file (Wine does): said at once, before anything is
    // written, and in words that say why, where "access denied" would send the user looking
    // at permissions (Wine's messages have none for this number).
    if ((target_identity.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0) {
        std::string description = system_text(ERROR_FILE_READ_ONLY);
        throw Failure{ERROR_FILE_READ_ONLY, description.empty() ? "The specified file is read only." : description,
                      target};
    }

    remove_leftover_copies(target);
    // Another swap may take the fresh copy for a leftover in the moment before it is held; then
    // another copy is made.
    std::wstring temporary;
    File copy;
    for (int attempt = 1; attempt <= 3 && !copy.is_open(); ++attempt) {
        copy = held_copy_beside(source, wide_source, target, temporary);
    }
    if (!copy.is_open()) {
        throw os_failure(ERROR_FILE_NOT_FOUND, target);
    }
    struct RemoveUnlessMoved {
        File& copy;
        const std::wstring& path;
        bool moved = false;
        ~RemoveUnlessMoved() {
            if (!moved) {
                copy.close();
                delete_file(path);
            }
        }
    } cleanup{copy, temporary};

    copy.flush_to_disk();
    // Held open through the rename, which its sharing of deletion allows, so that no other swap
    // takes it for a leftover.
    if (const DWORD error = move_over(temporary, wide_target); error != ERROR_SUCCESS) {
        throw os_failure(static_cast<int>(error), target);
    }
    cleanup.moved = true;
}

}  // namespace fileio

}  // namespace beam
