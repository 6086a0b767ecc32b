#pragma once

// The few file operations that differ between operating systems. Paths and texts are UTF-8;
// every operation throws beam::Failure naming the path concerned.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <utility>

#include "fileio/failure.h"

namespace beam::fileio {

// The failure for an error number of the operating system (errno, or GetLastError on Windows).
Failure os_failure(int error_number, std::string path);

// The failure for the error the last system call left behind.
Failure last_os_failure(std::string path);

// The failure for memory that ran out, in the system's words; it concerns no file.
Failure out_of_memory_failure();

// The failure for a file that holds fewer bytes than it is read for, by the system's own number
// for the end of a file (ENODATA; ERROR_HANDLE_EOF on Windows).
Failure end_of_file_failure(std::string path);

// The longest path, in bytes of UTF-8 or of the code page, that the system takes, and the
// failure for a longer one (ENAMETOOLONG; ERROR_FILENAME_EXCED_RANGE on Windows).
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
    File(File&& other) noexcept : handle_(std::exchange(other.handle_, kNoHandle)), path_(std::move(other.path_)) {}
    File& operator=(File&& other) noexcept {
        if (this != &other) {
            close();
            handle_ = std::exchange(other.handle_, kNoHandle);
            path_ = std::move(other.path_);
        }
        return *this;
    }
    ~File() { close(); }

    [[nodiscard]] bool is_open() const { return handle_ != kNoHandle; }
    [[nodiscard]] std::intptr_t native_handle() const { return handle_; }
    [[nodiscard]] const std::string& path() const { return path_; }
    void close() noexcept;
    // Closes the file and reports a write that the system fails only at the close: an NFS home
    // writes back then, and over its quota the close is the first step to fail.
    void finish();

    // Fills as much of buffer as the file has left; 0 at its end.
    std::size_t read_some(std::span<char> buffer);
    void write_all(std::string_view bytes);
    // Replaces the file's bytes with these. Room for them is taken before any old byte changes, so
    // that a full disk, a quota or a file-size limit leaves the file as it was.
    void overwrite(std::string_view bytes);
    // The file's last bytes, at most count of them: fewer, or none, when it is shorter.
    std::string last_bytes(std::size_t count);
    // Hands everything written to the disk, so that neither a crash nor a power cut loses it.
    void flush_to_disk();

  private:
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
// folder whose name the code page cannot spell is written as its short 8.3 name when it exists
// and has one the code page can spell; otherwise the conversion fails (1113, naming path) before
// anything is written.
std::string to_file_text(std::string_view utf8, const std::string& path);
std::string from_file_text(std::string_view bytes);

// Puts a byte-for-byte copy of source in place of target, which must exist. The copy is made
// under copy_name_beside(target), flushed to disk and renamed over target in one step, so target
// always holds either its old bytes or the whole copy; on failure it is left untouched and the
// copy removed. A source that is target itself (a hard link) is copied all the same, which changes
// no byte. The copy takes target's mode, group and access ACL, as far as the system lets this user
// give them. A failed read is reported against source; a failure of the copy's own steps against
// its folder, whose room, quota or disk it is; a pack that is missing or cannot be replaced
// against target. A swap holds its copy until after its rename: another swap of the same pack
// waits for it, and takes over the copy a killed swap left.
void replace_with_copy(const std::string& source, const std::string& target);

// The one name of the copy beside target: target's with ".tmp" after it, which does not end in
// ".pk3", so the game never loads a killed swap's copy as a pack.
std::string copy_name_beside(const std::string& target);

// The folder part of path ("." when it has none).
std::string folder_of(const std::string& path);

}  // namespace beam::fileio
