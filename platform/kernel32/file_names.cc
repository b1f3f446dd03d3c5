// kernel32's calls on file names, over the Linux file system with drive paths mapped.
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
    // rename replaces the target in one step, so a reader sees the old file or the new one.
    if (::rename(from.c_str(), to.c_str()) != 0) {
        SetLastError(error_from_errno(errno));
        return FALSE;
    }
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
