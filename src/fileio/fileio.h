#pragma once

// The few file operations that differ between operating systems. Paths and texts are UTF-8; every
// operation throws beam::Failure naming the path concerned, and refuses a path with a NUL byte (from
// a hand-edited path file), which the system would cut short there, as an invalid name.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <utility>

#include "fileio/failure.h"

namespace beam::fileio {

// Failures in the system's own numbers and words (errno; GetLastError on Windows): for an error
// number, the last system call's error, memory that ran out (naming no path), the end of a file, and
// a path longer than kLongestPath, the longest the system takes in bytes (of UTF-8 or the code page).
Failure os_failure(int error_number, std::string path);
Failure last_os_failure(std::string path);
Failure out_of_memory_failure();
Failure end_of_file_failure(std::string path);
extern const std::size_t kLongestPath;
Failure name_too_long_failure(std::string path);

enum class OpenMode {
    append,  // create if missing; every write goes to the end
    read,    // the file must exist
    write,   // create if missing; its bytes stay until overwrite replaces them
};

// An open file, closed when it goes out of scope.
class File {
  public:
    File() = default;
    File(const std::string& path, OpenMode mode);
    // Takes over a descriptor or HANDLE that the caller opened; path names it in failures.
    File(std::intptr_t native_handle, std::string path) : handle_(native_handle), path_(std::move(path)) {}
    File(const File&) = delete;
    File& operator=(const File&) = delete;
    File(File&& other) noexcept { *this = std::move(other); }
    File& operator=(File&& other) noexcept {
        std::swap(handle_, other.handle_);  // other closes what this held
        std::swap(path_, other.path_);
        return *this;
    }
    ~File() { close(); }

    [[nodiscard]] bool is_open() const { return handle_ != kNoHandle; }
    [[nodiscard]] std::intptr_t native_handle() const { return handle_; }
    [[nodiscard]] const std::string& path() const { return path_; }
    void close() noexcept;
    // Closes and reports a write that fails only at the close (NFS writes back then).
    void finish();

    // Fills as much of buffer as the file has left; 0 at its end.
    std::size_t read_some(std::span<char> buffer);
    void write_all(std::string_view bytes);
    // Replaces the file's bytes with these. Their room is taken first, so that a full disk, a quota
    // or a file-size limit leaves the file as it was.
    void overwrite(std::string_view bytes);
    // The file's last bytes, at most count of them: fewer, or none, when it is shorter.
    std::string last_bytes(std::size_t count);
    void flush_to_disk();  // fsync; FlushFileBuffers on Windows

  private:
    static bool close_native(std::intptr_t handle) noexcept;  // close or CloseHandle: false when it fails
    std::uint64_t size_in_bytes();
    // Fills as much of buffer as the file holds from offset on; 0 at its end.
    std::size_t read_at(std::span<char> buffer, std::uint64_t offset);

    static constexpr std::intptr_t kNoHandle = -1;  // an invalid descriptor and INVALID_HANDLE_VALUE alike
    std::intptr_t handle_ = kNoHandle;
    std::string path_;
};

// Copies the rest of from into to, through a buffer sized for speed.
void copy_through_buffer(File& from, File& to);

// The path file's text encoding: the ANSI code page on Windows, UTF-8 elsewhere. On Windows, a
// folder the code page cannot spell is written as its short 8.3 name where it has one the code page
// can spell; otherwise the conversion fails (1113, naming path) before anything is written.
std::string to_file_text(std::string_view utf8, const std::string& path);
std::string from_file_text(std::string_view bytes);

// Puts a byte-for-byte copy of source in place of target, which must exist, by a rename: target
// holds its old bytes or the whole copy, with its mode, group and ACL as far as the system lets this
// user give them. A source that is target itself (a hard link) is copied all the same. A second swap
// of target waits for this one; a killed swap's copy is taken over. Failures name source for its
// read, the copy's folder for the copy's steps, and target where it is missing or cannot be replaced.
void replace_with_copy(const std::string& source, const std::string& target);

// The one name of the copy beside target; it does not end in ".pk3", so the game never loads it.
std::string copy_name_beside(const std::string& target);

// The folder part of path ("." when it has none).
std::string folder_of(const std::string& path);

}  // namespace beam::fileio
