// kernel32's file calls: Win32 names and arguments turned into the NT file services' requests,
// and their statuses into last-error values.
#include "platform/ntoskrnl/fs/file.h"

#include <cstring>
#include <mutex>
#include <set>

#include "platform/core/object.h"
#include "platform/core/trace.h"
#include "platform/kernel32/device_file.h"
#include "platform/kernel32/file_access.h"
#include "platform/kernel32/names.h"
#include "platform/kernel32/overlapped.h"
#include "platform/ntdll/file_security.h"
#include "platform/ntoskrnl/rtl/status_error.h"
#include "platform/ntoskrnl/rtl/text.h"
#include "platform/unix/unix_name.h"
#include "platform/win32.h"

using ntoskrnl::nt_status_to_error;

namespace platform {

using namespace ntoskrnl::fs;

namespace {

BOOL fail(NTSTATUS status) {
    SetLastError(nt_status_to_error(status));
    return FALSE;
}

// For synchronous handles an OVERLAPPED record only carries the offset, and takes the result.
void complete(LPOVERLAPPED overlapped, NTSTATUS status, DWORD done) {
    if (overlapped) overlapped_complete(overlapped, status, done);
}

uint64_t overlapped_offset(const OVERLAPPED* overlapped) {
    return static_cast<uint64_t>(overlapped->OffsetHigh) << 32 | overlapped->Offset;
}

// ReadFile and WriteFile (which passes its buffer on unwritten).
BOOL transfer(const char* routine, HANDLE handle, bool write, LPVOID buffer, DWORD length,
              LPDWORD transferred, LPOVERLAPPED overlapped) {
    TRACE("kernel32", "%s(%p, %p, %u, %p, %p)", routine, handle, buffer, length,
          static_cast<void*>(transferred), static_cast<void*>(overlapped));
    if (transferred) *transferred = 0;
    if ((!transferred && !overlapped) || (!buffer && length)) return fail(STATUS_INVALID_PARAMETER);
    if (auto device = std::dynamic_pointer_cast<DeviceFile>(handle_lookup(handle)))
        return device->transfer(write, buffer, length, transferred, overlapped);
    auto file = handle_get<File>(handle);
    if (!file) return FALSE;
    const uint64_t offset = overlapped ? overlapped_offset(overlapped) : 0;
    const uint64_t* at = overlapped ? &offset : nullptr;
    uint32_t done = 0;
    NTSTATUS status =
        write ? file->write(buffer, length, at, &done) : file->read(buffer, length, at, &done);
    complete(overlapped, status, done);
    // At the end of the file a plain read succeeds with nothing; one at an offset fails.
    if (!write && status == STATUS_END_OF_FILE && !overlapped) status = STATUS_SUCCESS;
    if (transferred) *transferred = done;
    return status == STATUS_SUCCESS ? TRUE : fail(status);
}

// The files CreateFileA refuses (platform/kernel32/file_access.h), by upper-cased NT name.
struct DeniedFiles {
    std::mutex lock;
    std::set<std::u16string> names;
};

DeniedFiles& denied_files() {
    static DeniedFiles* instance = new DeniedFiles;
    return *instance;
}

std::u16string denial_key(const std::string& nt_path) {
    return ntoskrnl::upcase(ntoskrnl::utf8_to_utf16(nt_path));
}

bool access_denied(const std::string& nt_path) {
    auto& d = denied_files();
    std::lock_guard guard(d.lock);
    return !d.names.empty() && d.names.count(denial_key(nt_path)) != 0;
}

}  // namespace

uint32_t nt_disposition(DWORD disposition) {
    switch (disposition) {
        case CREATE_NEW:
            return kFileCreate;
        case CREATE_ALWAYS:
            return kFileOverwriteIf;
        case OPEN_EXISTING:
            return kFileOpen;
        case OPEN_ALWAYS:
            return kFileOpenIf;
        default:
            return kFileOverwrite;  // TRUNCATE_EXISTING
    }
}

void deny_file_access(const std::string& nt_path) {
    auto& d = denied_files();
    std::lock_guard guard(d.lock);
    d.names.insert(denial_key(nt_path));
}

void allow_all_file_access() {
    auto& d = denied_files();
    std::lock_guard guard(d.lock);
    d.names.clear();
}

}  // namespace platform

using namespace platform;

extern "C" HANDLE WINAPI CreateFileA(LPCSTR name, DWORD access, DWORD share,
                                     LPSECURITY_ATTRIBUTES security, DWORD disposition, DWORD flags,
                                     HANDLE template_file) {
    (void)template_file;
    TRACE("kernel32", "CreateFileA(\"%s\", %#x, %#x, %u, %#x)", name ? name : "(null)", access,
          share, disposition, flags);
    NtName nt;
    if (!win32_name_to_nt(name, &nt)) return INVALID_HANDLE_VALUE;
    if (disposition < CREATE_NEW || disposition > TRUNCATE_EXISTING) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    if (!nt_name_is_file(nt.path)) return open_device(nt.path, access, share, disposition, flags);
    if (flags & FILE_FLAG_OVERLAPPED) {
        TRACE("kernel32", "overlapped plain files are not provided");
        SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
        return INVALID_HANDLE_VALUE;
    }
    FileOpenRequest request;
    if (security && security->lpSecurityDescriptor &&
        !file_permissions_from_descriptor(security->lpSecurityDescriptor, &request.permissions)) {
        SetLastError(ERROR_INVALID_SECURITY_DESCR);
        return INVALID_HANDLE_VALUE;
    }
    if (access_denied(nt.path)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    request.access = map_generic_file_access(access);
    request.share = share;
    request.disposition = nt_disposition(disposition);
    request.no_buffering = (flags & FILE_FLAG_NO_BUFFERING) != 0;
    request.write_through = (flags & FILE_FLAG_WRITE_THROUGH) != 0;
    request.attributes = flags & 0xFFFF;
    std::shared_ptr<File> file;
    uint32_t information = 0;
    const NTSTATUS status = nt_open_file(nt.path, request, &file, &information);
    if (status != STATUS_SUCCESS) {
        // CreateFile reports a name that is taken as "file exists", not "already exists".
        SetLastError(status == STATUS_OBJECT_NAME_COLLISION ? ERROR_FILE_EXISTS
                                                            : nt_status_to_error(status));
        return INVALID_HANDLE_VALUE;
    }
    const bool existed = information != kFileCreated;
    SetLastError((disposition == CREATE_ALWAYS || disposition == OPEN_ALWAYS) && existed
                     ? ERROR_ALREADY_EXISTS
                     : ERROR_SUCCESS);
    return handle_insert(std::move(file));
}

extern "C" BOOL WINAPI ReadFile(HANDLE handle, LPVOID buffer, DWORD length, LPDWORD read,
                                LPOVERLAPPED overlapped) {
    return transfer("ReadFile", handle, false, buffer, length, read, overlapped);
}

extern "C" BOOL WINAPI WriteFile(HANDLE handle, LPCVOID buffer, DWORD length, LPDWORD written,
                                 LPOVERLAPPED overlapped) {
    return transfer("WriteFile", handle, true, const_cast<LPVOID>(buffer), length, written,
                    overlapped);
}

extern "C" BOOL WINAPI SetFilePointerEx(HANDLE handle, LARGE_INTEGER distance,
                                        PLARGE_INTEGER new_position, DWORD method) {
    TRACE("kernel32", "SetFilePointerEx(%p, %lld, %p, %u)", handle,
          static_cast<long long>(distance.QuadPart), static_cast<void*>(new_position), method);
    auto file = handle_get<File>(handle);
    if (!file) return FALSE;
    int64_t base = 0;
    if (method == FILE_CURRENT) {
        base = static_cast<int64_t>(file->position());
    } else if (method == FILE_END) {
        unix_file::Status status;
        if (NTSTATUS result = file->query(&status); result != STATUS_SUCCESS) return fail(result);
        base = static_cast<int64_t>(status.size);
    } else if (method != FILE_BEGIN) {
        return fail(STATUS_INVALID_PARAMETER);
    }
    int64_t position = 0;
    if (__builtin_add_overflow(base, distance.QuadPart, &position))
        return fail(STATUS_INVALID_PARAMETER);
    if (position < 0) {
        SetLastError(ERROR_NEGATIVE_SEEK);
        return FALSE;
    }
    file->set_position(static_cast<uint64_t>(position));
    if (new_position) new_position->QuadPart = position;
    return TRUE;
}

extern "C" BOOL WINAPI GetFileSizeEx(HANDLE handle, PLARGE_INTEGER size) {
    TRACE("kernel32", "GetFileSizeEx(%p, %p)", handle, static_cast<void*>(size));
    auto file = handle_get<File>(handle);
    if (!file) return FALSE;
    if (!size) return fail(STATUS_INVALID_PARAMETER);
    unix_file::Status status;
    if (NTSTATUS result = file->query(&status); result != STATUS_SUCCESS) return fail(result);
    size->QuadPart = static_cast<LONGLONG>(status.size);
    return TRUE;
}

extern "C" BOOL WINAPI FlushFileBuffers(HANDLE handle) {
    TRACE("kernel32", "FlushFileBuffers(%p)", handle);
    auto file = handle_get<File>(handle);
    if (!file) return FALSE;
    const NTSTATUS status = file->flush();
    return status == STATUS_SUCCESS ? TRUE : fail(status);
}

extern "C" BOOL WINAPI SetEndOfFile(HANDLE handle) {
    TRACE("kernel32", "SetEndOfFile(%p)", handle);
    auto file = handle_get<File>(handle);
    if (!file) return FALSE;
    const NTSTATUS status = file->set_end_of_file();
    return status == STATUS_SUCCESS ? TRUE : fail(status);
}

extern "C" BOOL WINAPI GetFileInformationByHandle(HANDLE handle,
                                                  LPBY_HANDLE_FILE_INFORMATION information) {
    TRACE("kernel32", "GetFileInformationByHandle(%p, %p)", handle,
          static_cast<void*>(information));
    auto file = handle_get<File>(handle);
    if (!file) return FALSE;
    if (!information) return fail(STATUS_INVALID_PARAMETER);
    unix_file::Status status;
    uint32_t attributes = 0;
    if (NTSTATUS result = file->query(&status); result != STATUS_SUCCESS) return fail(result);
    if (NTSTATUS result = file->attributes(&attributes); result != STATUS_SUCCESS)
        return fail(result);
    auto file_time = [](uint64_t t) {
        return FILETIME{static_cast<DWORD>(t), static_cast<DWORD>(t >> 32)};
    };
    information->dwFileAttributes = attributes;
    information->ftCreationTime = file_time(status.creation_time);
    information->ftLastAccessTime = file_time(status.access_time);
    information->ftLastWriteTime = file_time(status.write_time);
    // The host's device stands for the volume, its inode for the file's index on it.
    const uint64_t device = status.identity.device;
    information->dwVolumeSerialNumber = static_cast<DWORD>(device ^ (device >> 32));
    information->nFileSizeHigh = static_cast<DWORD>(status.size >> 32);
    information->nFileSizeLow = static_cast<DWORD>(status.size);
    information->nNumberOfLinks = status.links;
    information->nFileIndexHigh = static_cast<DWORD>(status.identity.inode >> 32);
    information->nFileIndexLow = static_cast<DWORD>(status.identity.inode);
    return TRUE;
}

extern "C" BOOL WINAPI LockFileEx(HANDLE handle, DWORD flags, DWORD reserved, DWORD length_low,
                                  DWORD length_high, LPOVERLAPPED overlapped) {
    TRACE("kernel32", "LockFileEx(%p, %#x, %u, %u, %u, %p)", handle, flags, reserved, length_low,
          length_high, static_cast<void*>(overlapped));
    if (reserved || !overlapped || (flags & ~(LOCKFILE_FAIL_IMMEDIATELY | LOCKFILE_EXCLUSIVE_LOCK)))
        return fail(STATUS_INVALID_PARAMETER);
    auto file = handle_get<File>(handle);
    if (!file) return FALSE;
    const uint64_t length = static_cast<uint64_t>(length_high) << 32 | length_low;
    const NTSTATUS status =
        file->lock(overlapped_offset(overlapped), length, (flags & LOCKFILE_EXCLUSIVE_LOCK) != 0,
                   (flags & LOCKFILE_FAIL_IMMEDIATELY) == 0);
    complete(overlapped, status, 0);
    return status == STATUS_SUCCESS ? TRUE : fail(status);
}

extern "C" BOOL WINAPI UnlockFileEx(HANDLE handle, DWORD reserved, DWORD length_low,
                                    DWORD length_high, LPOVERLAPPED overlapped) {
    TRACE("kernel32", "UnlockFileEx(%p, %u, %u, %u, %p)", handle, reserved, length_low, length_high,
          static_cast<void*>(overlapped));
    if (reserved || !overlapped) return fail(STATUS_INVALID_PARAMETER);
    auto file = handle_get<File>(handle);
    if (!file) return FALSE;
    const uint64_t length = static_cast<uint64_t>(length_high) << 32 | length_low;
    const NTSTATUS status = file->unlock(overlapped_offset(overlapped), length);
    return status == STATUS_SUCCESS ? TRUE : fail(status);
}
