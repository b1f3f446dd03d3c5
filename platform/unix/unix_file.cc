#include "platform/unix/unix_file.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <limits>

#include "base/byte_access.h"
#include "platform/ddk/ntstatus.h"

namespace platform::unix_file {
namespace {

constexpr uint64_t kEpochDifference = 11644473600ull;  // seconds from 1601 to 1970
constexpr char kAttributesName[] = "user.halden.attributes";

NTSTATUS status_from_errno(int error) {
    switch (error) {
        case ENOENT:
            return STATUS_OBJECT_NAME_NOT_FOUND;
        case ENOTDIR:
            return STATUS_OBJECT_PATH_NOT_FOUND;
        case EEXIST:
            return STATUS_OBJECT_NAME_COLLISION;
        case EACCES:
        case EPERM:
        case EROFS:
        case ETXTBSY:
            return STATUS_ACCESS_DENIED;
        case EISDIR:
            return STATUS_FILE_IS_A_DIRECTORY;
        case ENOSPC:
        case EDQUOT:
            return STATUS_DISK_FULL;
        case EXDEV:
            return STATUS_NOT_SAME_DEVICE;
        case ENAMETOOLONG:
            return STATUS_OBJECT_NAME_INVALID;
        case ENOMEM:
            return STATUS_NO_MEMORY;
        case EAGAIN:
            return STATUS_LOCK_NOT_GRANTED;
        case EIO:
            return STATUS_IO_DEVICE_ERROR;
        case EINVAL:
        case EFBIG:
        case EOVERFLOW:
            return STATUS_INVALID_PARAMETER;
        default:
            return STATUS_UNSUCCESSFUL;
    }
}

uint64_t file_time(const timespec& t) {
    return (static_cast<uint64_t>(t.tv_sec) + kEpochDifference) * 10000000ull +
           static_cast<uint64_t>(t.tv_nsec) / 100;
}

void fill(const struct stat& st, Status* out) {
    out->identity = {static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
    out->size = static_cast<uint64_t>(st.st_size);
    out->allocated = static_cast<uint64_t>(st.st_blocks) * 512;
    out->links = static_cast<uint32_t>(st.st_nlink);
    out->directory = S_ISDIR(st.st_mode);
    out->read_only = (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0;
    out->owner = static_cast<uint32_t>(st.st_uid);
    out->group = static_cast<uint32_t>(st.st_gid);
    out->permissions = static_cast<uint32_t>(st.st_mode & 0777);
    out->access_time = file_time(st.st_atim);
    out->write_time = file_time(st.st_mtim);
    out->creation_time = out->write_time;
}

// statx's birth time where the file system keeps one.
void fill_creation_time(int dirfd, const char* path, int flags, Status* out) {
    struct statx sx;
    if (statx(dirfd, path, flags, STATX_BTIME, &sx) == 0 && (sx.stx_mask & STATX_BTIME))
        out->creation_time = file_time(
            {static_cast<time_t>(sx.stx_btime.tv_sec), static_cast<long>(sx.stx_btime.tv_nsec)});
}

constexpr uint64_t kMaxOffset = static_cast<uint64_t>(std::numeric_limits<off_t>::max());

// Moves length bytes at offset with pread or pwrite, through short counts and interruptions, until
// all are moved or the call moves none (a read at the end of the file).
template <class Call, class Byte>
NTSTATUS move_at(Call call, int fd, Byte* bytes, size_t length, uint64_t offset, size_t* done) {
    while (*done < length) {
        const ssize_t moved =
            call(fd, bytes + *done, length - *done, static_cast<off_t>(offset + *done));
        if (moved < 0) {
            if (errno == EINTR) continue;
            return status_from_errno(errno);
        }
        if (moved == 0) break;
        *done += static_cast<size_t>(moved);
    }
    return STATUS_SUCCESS;
}

}  // namespace

NTSTATUS open(const std::string& path, const OpenMode& mode, int* fd) {
    int flags = O_CLOEXEC | O_NOCTTY | (mode.write_through ? O_DSYNC : 0);
    if (mode.create) flags |= O_CREAT | O_EXCL;
    // Read and write where the host allows it: Windows lets any handle with data access take an
    // exclusive range lock, and the host wants a writable descriptor for that.
    // Chosen permissions from the start (the umask can only take from them), so that no one
    // else can open the file before fchmod below.
    const mode_t create_mode =
        mode.permissions >= 0 ? static_cast<mode_t>(mode.permissions & 0777) : 0666;
    int result = ::open(path.c_str(), flags | O_RDWR, create_mode);
    if (result < 0 && !mode.write && (errno == EACCES || errno == EROFS || errno == ETXTBSY))
        result = ::open(path.c_str(), flags | O_RDONLY, create_mode);
    if (result < 0) return status_from_errno(errno);
    // Chosen permissions hold as they are, whatever the process's umask took from them.
    if (mode.create && mode.permissions >= 0 &&
        fchmod(result, static_cast<mode_t>(mode.permissions & 0777)) != 0) {
        const NTSTATUS status = status_from_errno(errno);
        ::close(result);
        unlink(path.c_str());
        return status;
    }
    *fd = result;
    return STATUS_SUCCESS;
}

void close(int fd) {
    ::close(fd);
}

NTSTATUS status(int fd, Status* out) {
    struct stat st;
    if (fstat(fd, &st) != 0) return status_from_errno(errno);
    fill(st, out);
    fill_creation_time(fd, "", AT_EMPTY_PATH, out);
    return STATUS_SUCCESS;
}

NTSTATUS status(const std::string& path, Status* out) {
    struct stat st;
    if (stat(path.c_str(), &st) != 0) return status_from_errno(errno);
    fill(st, out);
    fill_creation_time(AT_FDCWD, path.c_str(), 0, out);
    return STATUS_SUCCESS;
}

NTSTATUS read_at(int fd, void* buffer, size_t length, uint64_t offset, size_t* done) {
    *done = 0;
    if (offset >= kMaxOffset) return STATUS_SUCCESS;  // nothing is stored that far
    if (length > kMaxOffset - offset) length = static_cast<size_t>(kMaxOffset - offset);
    return move_at(pread, fd, static_cast<char*>(buffer), length, offset, done);
}

NTSTATUS write_at(int fd, const void* buffer, size_t length, uint64_t offset, size_t* done) {
    *done = 0;
    if (length > 0 && (offset > kMaxOffset || length > kMaxOffset - offset))
        return STATUS_DISK_FULL;
    return move_at(pwrite, fd, static_cast<const char*>(buffer), length, offset, done);
}

NTSTATUS truncate(int fd, uint64_t size) {
    if (size > kMaxOffset) return STATUS_DISK_FULL;
    return ftruncate(fd, static_cast<off_t>(size)) == 0 ? STATUS_SUCCESS : status_from_errno(errno);
}

NTSTATUS get_attributes(int fd, uint32_t* attributes) {
    uint8_t value[4];
    const ssize_t got = fgetxattr(fd, kAttributesName, value, sizeof value);
    if (got < 0) {
        *attributes = 0;
        return errno == ENODATA || errno == ENOTSUP ? STATUS_SUCCESS : status_from_errno(errno);
    }
    if (got != sizeof value) return STATUS_UNSUCCESSFUL;
    *attributes = bytes::load_le32(value);
    return STATUS_SUCCESS;
}

NTSTATUS set_attributes(int fd, uint32_t attributes) {
    uint8_t value[4];
    bytes::store_le32(value, attributes);
    if (fsetxattr(fd, kAttributesName, value, sizeof value, 0) == 0) return STATUS_SUCCESS;
    return errno == ENOTSUP ? STATUS_NOT_SUPPORTED : status_from_errno(errno);
}

NTSTATUS sync(int fd) {
    return fsync(fd) == 0 ? STATUS_SUCCESS : status_from_errno(errno);
}

void sync_path(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return;
    fsync(fd);
    ::close(fd);
}

NTSTATUS remove_file(const std::string& path) {
    return unlink(path.c_str()) == 0 ? STATUS_SUCCESS : status_from_errno(errno);
}

NTSTATUS rename_file(const std::string& from, const std::string& to) {
    return renameat(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str()) == 0 ? STATUS_SUCCESS
                                                                       : status_from_errno(errno);
}

bool lock_held_elsewhere(int fd, uint64_t offset) {
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    lock.l_start = static_cast<off_t>(offset);
    lock.l_len = 1;
    return fcntl(fd, F_OFD_GETLK, &lock) == 0 && lock.l_type != F_UNLCK;
}

NTSTATUS set_lock(int fd, uint64_t start, uint64_t length, LockType type, bool wait) {
    struct flock lock {};
    lock.l_type = type == LockType::kUnlock   ? F_UNLCK
                  : type == LockType::kShared ? F_RDLCK
                                              : F_WRLCK;
    lock.l_whence = SEEK_SET;
    lock.l_start = static_cast<off_t>(start);
    lock.l_len = static_cast<off_t>(length);
    for (;;) {
        if (fcntl(fd, wait ? F_OFD_SETLKW : F_OFD_SETLK, &lock) == 0) return STATUS_SUCCESS;
        if (errno == EINTR) continue;
        // A descriptor the host opened read-only cannot hold a write lock.
        if (errno == EBADF) return STATUS_ACCESS_DENIED;
        return errno == EACCES ? STATUS_LOCK_NOT_GRANTED : status_from_errno(errno);
    }
}

}  // namespace platform::unix_file
