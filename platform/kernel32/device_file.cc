#include "platform/kernel32/device_file.h"

#include "platform/kernel32/names.h"
#include "platform/kernel32/overlapped.h"
#include "platform/ntoskrnl/io/io.h"
#include "platform/ntoskrnl/ke/thread.h"
#include "platform/ntoskrnl/ob/object.h"
#include "platform/ntoskrnl/rtl/text.h"

namespace platform {
namespace {

BOOL fail(NTSTATUS status) {
    SetLastError(RtlNtStatusToDosError(status));
    return FALSE;
}

// Where a call into the kernel returns to user mode.
void return_to_user_mode() {
    ntoskrnl::require_no_saved_extended_state(
        ntoskrnl::current_thread(), "a thread returned to user mode with extended state saved");
}

// Sends request on file as kernel32 does: with an OVERLAPPED record as the status block (its
// offset for reads and writes, its event signalled at the end), or else waits for the end itself.
BOOL call(PFILE_OBJECT file, ntoskrnl::io::Request& request, LPDWORD transferred,
          LPOVERLAPPED overlapped) {
    request.mode = UserMode;
    IO_STATUS_BLOCK iosb{};
    KEVENT done;
    if (overlapped) {
        overlapped_begin(overlapped);
        request.iosb = reinterpret_cast<PIO_STATUS_BLOCK>(&overlapped->Internal);
        request.user_event = overlapped->hEvent;
        if (request.major == IRP_MJ_READ || request.major == IRP_MJ_WRITE)
            request.offset = static_cast<LONGLONG>(
                static_cast<uint64_t>(overlapped->OffsetHigh) << 32 | overlapped->Offset);
    } else {
        request.iosb = &iosb;
        KeInitializeEvent(&done, NotificationEvent, FALSE);
        request.event = &done;
    }
    NTSTATUS status = ntoskrnl::io::issue(file, request);
    return_to_user_mode();
    if (overlapped) {
        if (!NT_SUCCESS(status) || status == STATUS_PENDING) return fail(status);
        if (transferred) *transferred = static_cast<DWORD>(overlapped->InternalHigh);
        return TRUE;
    }
    if (status == STATUS_PENDING) {
        KeWaitForSingleObject(&done, UserRequest, UserMode, FALSE, nullptr);
        status = iosb.Status;
    }
    // A warning (STATUS_BUFFER_OVERFLOW) fails the call but delivers the count; an error does not.
    if (!NT_ERROR(status) && transferred) *transferred = static_cast<DWORD>(iosb.Information);
    return NT_SUCCESS(status) ? TRUE : fail(status);
}

}  // namespace

DeviceFile::DeviceFile(PFILE_OBJECT file) : file_(file) {
    ntoskrnl::ob::handle_opened(file_);
}

DeviceFile::~DeviceFile() {
    if (!closed_) ntoskrnl::ob::handle_closed(file_);
    ntoskrnl::ob::dereference(file_);
}

BOOL DeviceFile::close() {
    if (ntoskrnl::io::close_refused(file_)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    closed_ = true;
    ntoskrnl::ob::handle_closed(file_);
    return_to_user_mode();
    return TRUE;
}

BOOL DeviceFile::device_io_control(DWORD code, LPVOID in, DWORD in_size, LPVOID out, DWORD out_size,
                                   LPDWORD returned, LPOVERLAPPED overlapped) {
    if (!overlapped && !returned) return fail(STATUS_INVALID_PARAMETER);
    ntoskrnl::io::Request request;
    request.major = DEVICE_TYPE_FROM_CTL_CODE(code) == FILE_DEVICE_FILE_SYSTEM
                        ? IRP_MJ_FILE_SYSTEM_CONTROL
                        : IRP_MJ_DEVICE_CONTROL;
    request.code = code;
    request.input = in;
    request.input_length = in_size;
    request.output = out;
    request.output_length = out_size;
    return call(file_, request, returned, overlapped);
}

BOOL DeviceFile::transfer(bool write, LPVOID buffer, DWORD length, LPDWORD transferred,
                          LPOVERLAPPED overlapped) {
    ntoskrnl::io::Request request;
    request.major = write ? IRP_MJ_WRITE : IRP_MJ_READ;
    (write ? request.input : request.output) = buffer;
    (write ? request.input_length : request.output_length) = length;
    return call(file_, request, transferred, overlapped);
}

bool DeviceFile::wait(DWORD timeout_ms) {
    LARGE_INTEGER timeout;
    timeout.QuadPart = -static_cast<LONGLONG>(timeout_ms) * 10000;
    return KeWaitForSingleObject(&file_->Event, UserRequest, UserMode, FALSE,
                                 timeout_ms == INFINITE ? nullptr : &timeout) == STATUS_SUCCESS;
}

HANDLE open_device(const std::string& nt_path, DWORD access, DWORD share, DWORD disposition,
                   DWORD flags) {
    ntoskrnl::io::OpenParameters parameters;
    parameters.access = access;
    parameters.share = share;
    parameters.disposition = nt_disposition(disposition);
    parameters.options = FILE_NON_DIRECTORY_FILE |
                         (flags & FILE_FLAG_OVERLAPPED ? 0 : FILE_SYNCHRONOUS_IO_NONALERT) |
                         (flags & FILE_FLAG_NO_BUFFERING ? FILE_NO_INTERMEDIATE_BUFFERING : 0) |
                         (flags & FILE_FLAG_WRITE_THROUGH ? FILE_WRITE_THROUGH : 0);
    parameters.attributes = flags & 0xFFFF;
    parameters.mode = UserMode;
    PFILE_OBJECT file = nullptr;
    ULONG_PTR information = 0;
    const NTSTATUS status = ntoskrnl::io::open_file(ntoskrnl::utf8_to_utf16(nt_path), nullptr,
                                                    parameters, &file, &information);
    return_to_user_mode();
    if (!NT_SUCCESS(status)) {
        fail(status);
        return INVALID_HANDLE_VALUE;
    }
    SetLastError(ERROR_SUCCESS);
    return handle_insert(std::make_shared<DeviceFile>(file));
}

}  // namespace platform
