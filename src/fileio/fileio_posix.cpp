#include <fcntl.h>
#include <linux/limits.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
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

int descriptor(std::intptr_t handle) {
    return static_cast<int>(handle);
}

// The path as the system takes it, refused where a NUL would cut it short.
const char* system_path(const std::string& path) {
    if (path.find('\0') != std::string::npos) {
        throw os_failure(EINVAL, path);
    }
    return path.c_str();
}

// The count a read or write returns, called again while a signal interrupts it (EINTR).
template <typename ReadOrWrite>
std::size_t count_of(const ReadOrWrite& call, const std::string& path) {
    for (;;) {
        const ssize_t count = call();
        if (count >= 0) {
            return static_cast<std::size_t>(count);
        }
        if (errno != EINTR) {
            throw last_os_failure(path);
        }
    }
}

}  // namespace

File::File(const std::string& path, OpenMode mode) : path_(path) {
    const int flags = mode == OpenMode::read    ? O_RDONLY
                      : mode == OpenMode::write ? O_WRONLY | O_CREAT
                                                : O_RDWR | O_APPEND | O_CREAT;  // reads its last bytes too
    handle_ = ::open(system_path(path), flags | O_CLOEXEC, 0666);
    if (!is_open()) {
        throw last_os_failure(path);
    }
}

bool File::close_native(std::intptr_t handle) noexcept {
    return ::close(descriptor(handle)) == 0;
}

std::size_t File::read_some(std::span<char> buffer) {
    return count_of([&] { return ::read(descriptor(handle_), buffer.data(), buffer.size()); }, path_);
}

void File::write_all(std::string_view bytes) {
    while (!bytes.empty()) {
        bytes.remove_prefix(count_of([&] { return ::write(descriptor(handle_), bytes.data(), bytes.size()); }, path_));
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
    const auto read_rest = [&] {
        return ::pread(descriptor(handle_), &buffer[filled], buffer.size() - filled,
                       static_cast<off_t>(offset + filled));
    };
    while (filled < buffer.size()) {
        const std::size_t count = count_of(read_rest, path_);
        if (count == 0) {
            break;
        }
        filled += count;
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

// copy_file_range, which clones where the file system can (a reflink on XFS or Btrfs). It does not
// tell whether the read or the write failed, so the buffer goes on from where it stopped: its read
// or write fails in turn, naming the file concerned.
void copy_contents(File& from, File& to) {
    const int from_fd = descriptor(from.native_handle());
    const int to_fd = descriptor(to.native_handle());
    for (;;) {
        const ssize_t count = ::copy_file_range(from_fd, nullptr, to_fd, nullptr, std::size_t{1} << 30, 0);
        if (count == 0) {
            return;
        }
        if (count < 0 && errno != EINTR) {
            break;
        }
    }
    copy_through_buffer(from, to);
}

// Opens the copy's fixed name and takes its exclusive flock, held until after the copy's rename or
// unlink: another swap waits here, and a killed swap's copy, which nothing holds, is taken over.
// Only a plain file of one link that still bears the name is kept; anything else is unlinked.
File take_copy(const std::string& copy_name, const std::string& folder) {
    for (;;) {
        // Opened for writing, as NFS takes an exclusive flock only then; a killed swap's copy with a
        // read-only pack's mode (EACCES), or a FIFO (ENXIO; O_NONBLOCK), opens read-only, to be unlinked.
        int fd = ::open(copy_name.c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0666);
        const int open_error = errno;
        const bool writable = fd >= 0;
        if (!writable && (open_error == EACCES || open_error == ENXIO)) {
            fd = ::open(copy_name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        }
        if (fd < 0) {
            throw os_failure(open_error, folder);  // the folder refused it, not the pack
        }
        File copy(fd, folder);
        ::flock(fd, LOCK_EX);  // none on a file system without locks
        // The lock is on the file, not the name, which the swap that held it may have moved meanwhile.
        struct stat held = {};
        struct stat named = {};
        if (::fstat(fd, &held) != 0 || ::stat(copy_name.c_str(), &named) != 0 || held.st_ino != named.st_ino ||
            held.st_dev != named.st_dev) {
            continue;
        }
        if (writable && S_ISREG(held.st_mode) && held.st_nlink == 1) {
            return copy;
        }
        if (::unlink(copy_name.c_str()) != 0) {
            throw last_os_failure(folder);
        }
    }
}

// Whether the system refuses to give a file a group, mode or ACL, rather than failing: this user
// may not give it (EPERM), the id means nothing here (EINVAL: a user namespace, as toolbox, rootless
// podman or Flatpak make, that does not map it), or the file system keeps no ACLs (EOPNOTSUPP).
bool is_refused(int error) {
    return error == EPERM || error == EINVAL || error == EOPNOTSUPP;
}

// The copy takes the old pack's mode, group and access ACL: made under this process's umask and
// without them, it could shut out a game server that runs as another user. What the system refuses
// leaves the copy as it was made.
void carry_permissions(const std::string& target, const struct stat& target_status, File& copy) {
    const int copy_fd = descriptor(copy.native_handle());
    if (::fchown(copy_fd, static_cast<uid_t>(-1), target_status.st_gid) != 0 && !is_refused(errno)) {
        throw last_os_failure(copy.path());
    }
    if (::fchmod(copy_fd, target_status.st_mode & 07777U) != 0 && !is_refused(errno)) {
        throw last_os_failure(copy.path());
    }
    // A pack without an ACL (ENODATA), or on a file system without them, has its mode alone.
    constexpr const char* kAccessAcl = "system.posix_acl_access";
    std::vector<char> acl(XATTR_SIZE_MAX);
    const ssize_t size = ::getxattr(target.c_str(), kAccessAcl, acl.data(), acl.size());
    if (size > 0 && ::fsetxattr(copy_fd, kAccessAcl, acl.data(), static_cast<std::size_t>(size), 0) != 0 &&
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
    const std::string copy_name = copy_name_beside(target);
    File copy = take_copy(copy_name, folder_of(target));
    try {
        if (::ftruncate(descriptor(copy.native_handle()), 0) != 0) {  // a killed swap's bytes go
            throw last_os_failure(copy.path());
        }
        carry_permissions(target, target_status, copy);
        copy_contents(from, copy);
        copy.flush_to_disk();
        if (::rename(copy_name.c_str(), target.c_str()) != 0) {
            throw last_os_failure(target);
        }
    } catch (...) {
        ::unlink(copy_name.c_str());  // still locked: a waiting swap has not taken the name yet
        throw;
    }
    copy.close();  // its fsync has reported what the close would

    // The rename is on disk once the folder is fsynced. The pack is switched already, so a folder
    // that may be written but not read (mode 0333), which cannot be opened for it, fails nothing.
    const File folder(::open(folder_of(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC), {});
    if (folder.is_open()) {
        ::fsync(descriptor(folder.native_handle()));
    }
}

}  // namespace beam::fileio
