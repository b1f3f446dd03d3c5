// kernel32's calls on file names, over the Linux file system with drive paths mapped.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "platform/core/paths.h"
#include "platform/core/trace.h"
#include "platform/win32.h"

#undef rename

namespace {

DWORD error_from_errno(int error) {
    switch (error) {
        case ENOENT:
            return ERROR_FILE_NOT_FOUND;
        case ENOTDIR:
            return ERROR_PATH_NOT_FOUND;
        case EACCES:
        case EPERM:
        case EISDIR:
            return ERROR_ACCESS_DENIED;
        case EEXIST:
            return ERROR_ALREADY_EXISTS;
        default:
            return ERROR_GEN_FAILURE;
    }
}

void sync_path(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

std::string parent_folder(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

bool exists(const std::string& path) {
    FILE* file = ::fopen(path.c_str(), "rb");
    if (!file) return errno != ENOENT;
    std::fclose(file);
    return true;
}

}  // namespace

extern "C" BOOL WINAPI MoveFileExA(LPCSTR existing, LPCSTR new_name, DWORD flags) {
    TRACE("kernel32", "MoveFileExA(\"%s\", \"%s\", %#x)", existing ? existing : "(null)",
          new_name ? new_name : "(null)", flags);
    if (!existing || !new_name) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const std::string from = platform::map_path(existing);
    const std::string to = platform::map_path(new_name);
    if (!(flags & MOVEFILE_REPLACE_EXISTING) && exists(to)) {
        SetLastError(ERROR_ALREADY_EXISTS);
        return FALSE;
    }
    // Write-through: the data is on disk before the name points at it, and the name after.
    const bool write_through = (flags & MOVEFILE_WRITE_THROUGH) != 0;
    if (write_through) sync_path(from);
    // rename replaces the target in one step, so a reader sees the old file or the new one.
    if (::rename(from.c_str(), to.c_str()) != 0) {
        SetLastError(error_from_errno(errno));
        return FALSE;
    }
    if (write_through) sync_path(parent_folder(to));
    return TRUE;
}

extern "C" BOOL WINAPI DeleteFileA(LPCSTR name) {
    TRACE("kernel32", "DeleteFileA(\"%s\")", name ? name : "(null)");
    if (!name) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (::unlink(platform::map_path(name).c_str()) != 0) {
        SetLastError(error_from_errno(errno));
        return FALSE;
    }
    return TRUE;
}
