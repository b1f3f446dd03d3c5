// kernel32's calls on file names, over the NT file services.
#include "platform/core/trace.h"
#include "platform/kernel32/names.h"
#include "platform/ntoskrnl/fs/file.h"
#include "platform/ntoskrnl/rtl/status_error.h"

using ntoskrnl::nt_status_to_error;

using namespace platform;
using namespace ntoskrnl::fs;

namespace {

// MOVEFILE_COPY_ALLOWED is taken, but no copy is made: drives do not share a volume, so a move
// between them fails.
constexpr DWORD kMoveFileCopyAllowed = 0x2;
constexpr DWORD kMoveFlags =
    MOVEFILE_REPLACE_EXISTING | kMoveFileCopyAllowed | MOVEFILE_WRITE_THROUGH;

BOOL result(NTSTATUS status) {
    if (status == STATUS_SUCCESS) return TRUE;
    SetLastError(nt_status_to_error(status));
    return FALSE;
}

}  // namespace

extern "C" BOOL WINAPI MoveFileExA(LPCSTR existing, LPCSTR new_name, DWORD flags) {
    TRACE("kernel32", "MoveFileExA(\"%s\", \"%s\", %#x)", existing ? existing : "(null)",
          new_name ? new_name : "(null)", flags);
    if (flags & ~kMoveFlags) return result(STATUS_INVALID_PARAMETER);
    NtName from, to;
    if (!win32_name_to_nt(existing, &from)) return FALSE;
    if (!win32_name_to_nt(new_name, &to)) return FALSE;
    return result(nt_rename_file(from.path, to.path, (flags & MOVEFILE_REPLACE_EXISTING) != 0,
                                 (flags & MOVEFILE_WRITE_THROUGH) != 0));
}

extern "C" BOOL WINAPI DeleteFileA(LPCSTR name) {
    TRACE("kernel32", "DeleteFileA(\"%s\")", name ? name : "(null)");
    NtName nt;
    if (!win32_name_to_nt(name, &nt)) return FALSE;
    return result(nt_delete_file(nt.path));
}
