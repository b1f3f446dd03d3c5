#include "platform/ntdll/ntstatus.h"

#include "platform/win32.h"

namespace platform {

uint32_t nt_status_to_error(uint32_t status) {
    switch (status) {
        case kStatusSuccess:
            return ERROR_SUCCESS;
        case kStatusPending:
            return ERROR_IO_PENDING;
        case kStatusUnsuccessful:
            return ERROR_GEN_FAILURE;
        case kStatusNotImplemented:
        case kStatusInvalidDeviceRequest:
            return ERROR_INVALID_FUNCTION;
        case kStatusInvalidHandle:
        case kStatusObjectTypeMismatch:
            return ERROR_INVALID_HANDLE;
        case kStatusInvalidParameter:
            return ERROR_INVALID_PARAMETER;
        case kStatusEndOfFile:
            return ERROR_HANDLE_EOF;
        case kStatusNoMemory:
            return ERROR_NOT_ENOUGH_MEMORY;
        case kStatusAccessDenied:
        case kStatusFileIsADirectory:
            return ERROR_ACCESS_DENIED;
        case kStatusBufferTooSmall:
            return ERROR_INSUFFICIENT_BUFFER;
        case kStatusObjectNameInvalid:
            return ERROR_INVALID_NAME;
        case kStatusObjectNameNotFound:
            return ERROR_FILE_NOT_FOUND;
        case kStatusObjectNameCollision:
            return ERROR_ALREADY_EXISTS;
        case kStatusObjectPathNotFound:
            return ERROR_PATH_NOT_FOUND;
        case kStatusSharingViolation:
            return ERROR_SHARING_VIOLATION;
        case kStatusLockNotGranted:
            return ERROR_LOCK_VIOLATION;
        case kStatusRangeNotLocked:
            return ERROR_NOT_LOCKED;
        case kStatusDiskFull:
            return ERROR_DISK_FULL;
        case kStatusDeviceDataError:
            return ERROR_CRC;
        case kStatusDeviceNotConnected:
            return ERROR_DEVICE_NOT_CONNECTED;
        case kStatusIoTimeout:
            return ERROR_SEM_TIMEOUT;
        case kStatusNotSupported:
            return ERROR_NOT_SUPPORTED;
        case kStatusBadNetworkPath:
            return ERROR_BAD_NETPATH;
        case kStatusNotSameDevice:
            return ERROR_NOT_SAME_DEVICE;
        case kStatusCancelled:
            return ERROR_OPERATION_ABORTED;
        case kStatusIoDeviceError:
            return ERROR_IO_DEVICE;
        default:
            return ERROR_GEN_FAILURE;
    }
}

}  // namespace platform
