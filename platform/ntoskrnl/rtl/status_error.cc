#include "platform/ntoskrnl/rtl/status_error.h"

#include "platform/wdm.h"
#include "platform/win32.h"

namespace ntoskrnl {

// RtlNtStatusToDosError's table for the statuses that occur here, as Windows maps them; any other
// status gives ERROR_MR_MID_NOT_FOUND, as there.
uint32_t nt_status_to_error(NTSTATUS status) {
    // A Win32 error carried as a status (FACILITY_NTWIN32) is that error.
    const uint32_t bits = static_cast<uint32_t>(status);
    if ((bits & 0xFFFF0000u) == 0xC0070000u) return bits & 0xFFFFu;
    switch (status) {
        case STATUS_SUCCESS:
            return ERROR_SUCCESS;
        case STATUS_ALERTED:
            return 739;  // ERROR_ALERTED
        case STATUS_TIMEOUT:
        case STATUS_IO_OPERATION_TIMEOUT:
            return ERROR_TIMEOUT;
        case STATUS_PENDING:
            return ERROR_IO_PENDING;
        case STATUS_OBJECT_NAME_EXISTS:
            return 698;  // ERROR_OBJECT_NAME_EXISTS
        case STATUS_BUFFER_OVERFLOW:
        case STATUS_MORE_PROCESSING_REQUIRED:
            return ERROR_MORE_DATA;
        case STATUS_DEVICE_BUSY:
            return ERROR_BUSY;
        case STATUS_NO_MORE_ENTRIES:
            return ERROR_NO_MORE_ITEMS;
        case STATUS_UNSUCCESSFUL:
            return ERROR_GEN_FAILURE;
        case STATUS_NOT_IMPLEMENTED:
        case STATUS_INVALID_DEVICE_REQUEST:
            return ERROR_INVALID_FUNCTION;
        case STATUS_INVALID_INFO_CLASS:
        case STATUS_INVALID_PARAMETER:
            return ERROR_INVALID_PARAMETER;
        case STATUS_INFO_LENGTH_MISMATCH:
            return ERROR_BAD_LENGTH;
        case STATUS_ACCESS_VIOLATION:
            return ERROR_NOACCESS;
        case STATUS_INVALID_HANDLE:
        case STATUS_OBJECT_TYPE_MISMATCH:
        case STATUS_FILE_CLOSED:
            return ERROR_INVALID_HANDLE;
        case STATUS_NO_SUCH_DEVICE:
            return ERROR_NO_SUCH_DEVICE;
        case STATUS_NO_SUCH_FILE:
        case STATUS_OBJECT_NAME_NOT_FOUND:
            return ERROR_FILE_NOT_FOUND;
        case STATUS_END_OF_FILE:
            return ERROR_HANDLE_EOF;
        case STATUS_NO_MEDIA_IN_DEVICE:
            return ERROR_NOT_READY;
        case STATUS_NO_MEMORY:
            return ERROR_NOT_ENOUGH_MEMORY;
        case STATUS_ACCESS_DENIED:
        case STATUS_FILE_IS_A_DIRECTORY:
        case STATUS_DELETE_PENDING:
            return ERROR_ACCESS_DENIED;
        case STATUS_BUFFER_TOO_SMALL:
            return ERROR_INSUFFICIENT_BUFFER;
        case STATUS_OBJECT_NAME_INVALID:
            return ERROR_INVALID_NAME;
        case STATUS_OBJECT_NAME_COLLISION:
            return ERROR_ALREADY_EXISTS;
        case STATUS_OBJECT_PATH_INVALID:
        case STATUS_OBJECT_PATH_SYNTAX_BAD:
            return ERROR_BAD_PATHNAME;
        case STATUS_OBJECT_PATH_NOT_FOUND:
            return ERROR_PATH_NOT_FOUND;
        case STATUS_SHARING_VIOLATION:
            return ERROR_SHARING_VIOLATION;
        case STATUS_LOCK_NOT_GRANTED:
            return ERROR_LOCK_VIOLATION;
        case STATUS_NOT_LOCKED:
        case STATUS_RANGE_NOT_LOCKED:
            return ERROR_NOT_LOCKED;
        case STATUS_DISK_FULL:
            return ERROR_DISK_FULL;
        case STATUS_INSUFFICIENT_RESOURCES:
            return ERROR_NO_SYSTEM_RESOURCES;
        case STATUS_DEVICE_DATA_ERROR:
            return ERROR_CRC;
        case STATUS_DEVICE_NOT_CONNECTED:
            return ERROR_DEVICE_NOT_CONNECTED;
        case STATUS_IO_TIMEOUT:
            return ERROR_SEM_TIMEOUT;
        case STATUS_NOT_SUPPORTED:
            return ERROR_NOT_SUPPORTED;
        case STATUS_BAD_NETWORK_PATH:
            return ERROR_BAD_NETPATH;
        case STATUS_NOT_SAME_DEVICE:
            return ERROR_NOT_SAME_DEVICE;
        case STATUS_INVALID_USER_BUFFER:
            return ERROR_INVALID_USER_BUFFER;
        case STATUS_NOT_A_DIRECTORY:
            return ERROR_DIRECTORY;
        case STATUS_IMAGE_ALREADY_LOADED:
            return ERROR_SERVICE_ALREADY_RUNNING;
        case STATUS_CANCELLED:
            return ERROR_OPERATION_ABORTED;
        case STATUS_IO_DEVICE_ERROR:
            return ERROR_IO_DEVICE;
        case STATUS_UNRECOGNIZED_VOLUME:
            return ERROR_UNRECOGNIZED_VOLUME;
        case STATUS_UNKNOWN_REVISION:
            return ERROR_UNKNOWN_REVISION;
        case STATUS_REVISION_MISMATCH:
            return ERROR_REVISION_MISMATCH;
        case STATUS_INVALID_ACL:
            return ERROR_INVALID_ACL;
        case STATUS_INVALID_SID:
            return ERROR_INVALID_SID;
        case STATUS_INVALID_SECURITY_DESCR:
            return ERROR_INVALID_SECURITY_DESCR;
        case STATUS_ALLOTTED_SPACE_EXCEEDED:
            return ERROR_ALLOTTED_SPACE_EXCEEDED;
        default:
            return ERROR_MR_MID_NOT_FOUND;
    }
}

}  // namespace ntoskrnl

extern "C" ULONG NTAPI RtlNtStatusToDosError(NTSTATUS Status) {
    return ntoskrnl::nt_status_to_error(Status);
}
