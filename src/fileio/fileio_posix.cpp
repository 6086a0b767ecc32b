#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <vector>

#include "fileio/fileio.h"

namespace beam::fileio {

Failure os_failure(int error_number, std::string path) {
    return Failure{error_number, std::strerror(error_number), std::move(path)};
}

Failure last_os_failure(std::string path) {
    return os_failure(errno, std::move(path));
}

Failure out_of_memory_failure() {
    return os_failure(ENOMEM, {});
}

Failure end_of_file_failure(std::string path) {
    return os_failure(ENODATA, std::move(path));
}

const std::size_t kLongestPath = PATH_MAX - 1;  // PATH_MAX counts the terminating NUL

Failure name_too_long_failure(std::string path) {
    return os_failure(ENAMETOOLONG, std::move(path));
}

namespace {

int open_flags(OpenMode mode) {
    switch (mode) {
        case OpenMode::append:
            return O_RDWR | O_APPEND | O_CREAT;  // read too, to look at the last byte
        case OpenMode::read:
            return O_RDONLY;
        case OpenMode::write:
            return O_WRONLY | O_CREAT;
    }
    return O_RDONLY;
}

int descriptor(std::intptr_t handle) {
    return static_cast<int>(handle);
}

// The path as the system takes it. A NUL byte (from a hand-edited path file) would cut the path
// short there and name another file, so such a path is refused as the invalid name it is.
const char* system_path(const std::string& path) {
    if (path.find('\0') != std::string::npos) {
        throw os_failure(EINVAL, path);
    }
    return path.c_str();
}

}  // namespace

File::File(const std::string& path, OpenMode mode) : path_(path) {
    const int fd = ::open(system_path(path), open_flags(mode) | O_CLOEXEC, 0666);
    if (fd < 0) {
        throw last_os_failure(path);
    }
    handle_ = fd;
}

void File::close() noexcept {
    if (is_open()) {
        ::close(descriptor(std::exchange(handle_, kNoHandle)));
    }
}

void File::finish() {
    // The descriptor is gone whatever close answers, so it is never closed twice.
    if (is_open() && ::close(descriptor(std::exchange(handle_, kNoHandle))) != 0) {
        throw last_os_failure(path_);
    }
}

std::size_t File::read_some(std::span<char> buffer) {
    for (;;) {
        const ssize_t count = ::read(descriptor(handle_), buffer.data(), buffer.size());
        if (count >= 0) {
            return static_cast<std::size_t>(count);
        }
        if (errno != EINTR) {
            throw last_os_failure(path_);
        }
    }
}

void File::write_all(std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t count = ::write(descriptor(handle_), bytes.data(), bytes.size());
        if (count < 0 && errno != EINTR) {
            throw last_os_failure(path_);
        }
        bytes.remove_prefix(count < 0 ? 0 : static_cast<std::size_t>(count));
    }
}

void File::overwrite(std::string_view bytes) {
    const int fd = descriptor(handle_);
    const auto old_size = static_cast<off_t>(size_in_bytes());
    const auto new_size = static_cast<off_t>(bytes.size());
    if (new_size > old_size) {
        if (const int error = ::posix_fallocate(fd, old_size, new_size - old_size); error != 0) {
            // Gives back what was taken before it failed; the failure to report is this one.
            [[maybe_unused]] const int given_back = ::ftruncate(fd, old_size);
            throw os_failure(error, path_);
        }
    }
    if (::lseek(fd, 0, SEEK_SET) != 0) {
        throw last_os_failure(path_);
    }
    write_all(bytes);
    if (::ftruncate(fd, new_size) != 0) {
        throw last_os_failure(path_);
    }
}

std::uint64_t File::size_in_bytes() {
    struct stat status = {};
    if (::fstat(descriptor(handle_), &status) != 0) {
        throw last_os_failure(path_);
    }
    return static_cast<std::uint64_t>(status.st_size);
}

std::size_t File::read_at(std::span<char> buffer, std::uint64_t offset) {
    std::size_t filled = 0;
    while (filled < buffer.size()) {
        const ssize_t count =
            ::pread(descriptor(handle_), &buffer[filled], buffer.size() - filled, static_cast<off_t>(offset + filled));
        if (count == 0) {
            break;
        }
        if (count < 0 && errno != EINTR) {
            throw last_os_failure(path_);
        }
        filled += count < 0 ? 0 : static_cast<std::size_t>(count);
    }
    return filled;
}

void File::flush_to_disk() {
    if (::fsync(descriptor(handle_)) != 0) {
        throw last_os_failure(path_);
    }
}

std::string to_file_text(std::string_view utf8, const std::string& /*path*/) {
    return std::string(utf8);
}

std::string from_file_text(std::string_view bytes) {
    return std::string(bytes);
}

namespace {

// Copies the rest of from into to inside the kernel, which shares the blocks where the file
// system can (a reflink on XFS or Btrfs), or else through a buffer. The kernel's copy does not
// tell whether reading or writing failed it, so after any failure the buffer takes over: its
// read or write fails in turn and names the file concerned.
void copy_contents(File& from, File& to) {
    const int from_fd = descriptor(from.native_handle());
    const int to_fd = descriptor(to.native_handle());
    for (;;) {
        const ssize_t count = ::copy_file_range(from_fd, nullptr, to_fd, nullptr, std::size_t{1} << 30, 0);
        if (count == 0) {
            return;
        }
        if (count < 0 && errno != EINTR) {
            break;  // both offsets have moved on by what was copied, so the loop below takes over
        }
    }
    copy_through_buffer(from, to);
}

// Opens the copy's fixed name for writing and takes its exclusive flock, which a running swap holds
// until after its rename or removal of the copy: a second swap waits here, and a killed swap's copy,
// which nothing holds, is taken over. The lock is on the file, not the name, so the name is then
// checked to still be the locked file: a swap that held it has moved it over the pack or removed
// it meanwhile, and the name is opened afresh. On a file system without locks it stays unlocked.
// What is truncated is only ever a plain file of that one name: anything else there (a FIFO,
// opened without blocking; a hard link to another file) is unlinked and the name made afresh.
File take_copy(const std::string& copy_name, const std::string& folder) {
    for (;;) {
        int fd = ::open(copy_name.c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0666);
        const int open_error = errno;
        bool writable = fd >= 0;
        if (!writable && (open_error == EACCES || open_error == ENXIO)) {
            // A killed swap's read-only copy, or a FIFO without a reader.
            fd = ::open(copy_name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        }
        if (fd < 0) {
            throw os_failure(open_error, folder);  // the folder refused it, not the pack
        }
        File copy(fd, folder);
        ::flock(fd, LOCK_EX);
        struct stat held = {};
        struct stat named = {};
        if (::fstat(fd, &held) != 0 || ::stat(copy_name.c_str(), &named) != 0 || held.st_ino != named.st_ino ||
            held.st_dev != named.st_dev) {
            continue;
        }
        writable = writable && S_ISREG(held.st_mode) && held.st_nlink == 1;
        if (writable) {
            return copy;
        }
        if (::unlink(copy_name.c_str()) != 0) {  // then made afresh, writable
            throw last_os_failure(folder);
        }
    }
}

// Whether the system refuses to give a file a group, mode or ACL, rather than failing: this user
// may not give it (EPERM), the id it names means nothing here (EINVAL: a user namespace, such as
// toolbox, rootless podman or Flatpak make, that does not map it), or the file system keeps no
// ACLs (EOPNOTSUPP).
bool is_refused(int error) {
    return error == EPERM || error == EINVAL || error == EOPNOTSUPP;
}

// The copy takes the old pack's place, so it takes who may read it: made under this process's
// umask and without the pack's group and ACL, it could shut out a game server that runs as
// another user. What the system refuses to carry over leaves the copy as it was made.
void carry_permissions(const std::string& target, const struct stat& target_status, File& copy) {
    constexpr const char* kAccessAcl = "system.posix_acl_access";
    const int copy_fd = descriptor(copy.native_handle());
    if (::fchown(copy_fd, static_cast<uid_t>(-1), target_status.st_gid) != 0 && !is_refused(errno)) {
        throw last_os_failure(copy.path());
    }
    if (::fchmod(copy_fd, target_status.st_mode & 07777U) != 0 && !is_refused(errno)) {
        throw last_os_failure(copy.path());
    }
    // A pack without an ACL (ENODATA), or on a file system without them, has its mode alone.
    const ssize_t size = ::getxattr(target.c_str(), kAccessAcl, nullptr, 0);
    if (size <= 0) {
        return;
    }
    std::vector<char> acl(static_cast<std::size_t>(size));
    const ssize_t read = ::getxattr(target.c_str(), kAccessAcl, acl.data(), acl.size());
    if (read > 0 && ::fsetxattr(copy_fd, kAccessAcl, acl.data(), static_cast<std::size_t>(read), 0) != 0 &&
        !is_refused(errno)) {
        throw last_os_failure(copy.path());
    }
}

}  // namespace

void replace_with_copy(const std::string& source, const std::string& target) {
    struct stat target_status = {};
    if (::stat(system_path(target), &target_status) != 0) {
        throw last_os_failure(target);
    }
    File from(source, OpenMode::read);

    const std::string temporary = copy_name_beside(target);
    File to = take_copy(temporary, folder_of(target));
    struct RemoveUnlessRenamed {
        const std::string& path;
        bool renamed = false;
        ~RemoveUnlessRenamed() {
            if (!renamed) {
                ::unlink(path.c_str());
            }
        }
    } cleanup{temporary};
    if (::ftruncate(descriptor(to.native_handle()), 0) != 0) {
        throw last_os_failure(to.path());
    }
    carry_permissions(target, target_status, to);
    copy_contents(from, to);
    to.flush_to_disk();
    if (::rename(temporary.c_str(), target.c_str()) != 0) {
        throw last_os_failure(target);
    }
    cleanup.renamed = true;
    to.close();  // locked until now; its flush has reported what the close would

    // The rename itself is on disk only once the folder is. The pack is switched already, so
    // this is done as well as the folder allows: one that may be written but not read (mode
    // 0333) cannot be opened for it, and that is no failed swap.
    const int folder_fd = ::open(folder_of(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder_fd >= 0) {
        ::fsync(folder_fd);
        ::close(folder_fd);
    }
}

}  // namespace beam::fileio
