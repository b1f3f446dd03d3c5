// The NT status values of platform/ddk/ntstatus.h as the platform's I/O code uses them, and
// their Win32 errors: the one table of the layer (RtlNtStatusToDosError).
#pragma once

#include <cstdint>

#include "platform/ddk/ntstatus.h"

namespace platform {

constexpr uint32_t kStatusSuccess = static_cast<uint32_t>(STATUS_SUCCESS);
constexpr uint32_t kStatusPending = static_cast<uint32_t>(STATUS_PENDING);
constexpr uint32_t kStatusUnsuccessful = static_cast<uint32_t>(STATUS_UNSUCCESSFUL);
constexpr uint32_t kStatusNotImplemented = static_cast<uint32_t>(STATUS_NOT_IMPLEMENTED);
constexpr uint32_t kStatusInvalidHandle = static_cast<uint32_t>(STATUS_INVALID_HANDLE);
constexpr uint32_t kStatusInvalidParameter = static_cast<uint32_t>(STATUS_INVALID_PARAMETER);
constexpr uint32_t kStatusInvalidDeviceRequest =
    static_cast<uint32_t>(STATUS_INVALID_DEVICE_REQUEST);
constexpr uint32_t kStatusEndOfFile = static_cast<uint32_t>(STATUS_END_OF_FILE);
constexpr uint32_t kStatusNoMemory = static_cast<uint32_t>(STATUS_NO_MEMORY);
constexpr uint32_t kStatusAccessDenied = static_cast<uint32_t>(STATUS_ACCESS_DENIED);
constexpr uint32_t kStatusBufferTooSmall = static_cast<uint32_t>(STATUS_BUFFER_TOO_SMALL);
constexpr uint32_t kStatusObjectTypeMismatch = static_cast<uint32_t>(STATUS_OBJECT_TYPE_MISMATCH);
constexpr uint32_t kStatusObjectNameInvalid = static_cast<uint32_t>(STATUS_OBJECT_NAME_INVALID);
constexpr uint32_t kStatusObjectNameNotFound = static_cast<uint32_t>(STATUS_OBJECT_NAME_NOT_FOUND);
constexpr uint32_t kStatusObjectNameCollision = static_cast<uint32_t>(STATUS_OBJECT_NAME_COLLISION);
constexpr uint32_t kStatusObjectPathNotFound = static_cast<uint32_t>(STATUS_OBJECT_PATH_NOT_FOUND);
constexpr uint32_t kStatusSharingViolation = static_cast<uint32_t>(STATUS_SHARING_VIOLATION);
constexpr uint32_t kStatusLockNotGranted = static_cast<uint32_t>(STATUS_LOCK_NOT_GRANTED);
constexpr uint32_t kStatusRangeNotLocked = static_cast<uint32_t>(STATUS_RANGE_NOT_LOCKED);
constexpr uint32_t kStatusDiskFull = static_cast<uint32_t>(STATUS_DISK_FULL);
constexpr uint32_t kStatusDeviceDataError = static_cast<uint32_t>(STATUS_DEVICE_DATA_ERROR);
constexpr uint32_t kStatusDeviceNotConnected = static_cast<uint32_t>(STATUS_DEVICE_NOT_CONNECTED);
constexpr uint32_t kStatusIoTimeout = static_cast<uint32_t>(STATUS_IO_TIMEOUT);
constexpr uint32_t kStatusFileIsADirectory = static_cast<uint32_t>(STATUS_FILE_IS_A_DIRECTORY);
constexpr uint32_t kStatusNotSupported = static_cast<uint32_t>(STATUS_NOT_SUPPORTED);
constexpr uint32_t kStatusBadNetworkPath = static_cast<uint32_t>(STATUS_BAD_NETWORK_PATH);
constexpr uint32_t kStatusNotSameDevice = static_cast<uint32_t>(STATUS_NOT_SAME_DEVICE);
constexpr uint32_t kStatusCancelled = static_cast<uint32_t>(STATUS_CANCELLED);
constexpr uint32_t kStatusIoDeviceError = static_cast<uint32_t>(STATUS_IO_DEVICE_ERROR);

// Errors and warnings (the top bit) fail the operation; success and information values do not.
inline bool nt_failed(uint32_t status) {
    return (status & 0x80000000u) != 0;
}

// The Win32 error that GetLastError reports for a status (RtlNtStatusToDosError).
uint32_t nt_status_to_error(uint32_t status);

}  // namespace platform
