// NT status values of the platform's I/O, and their Win32 errors: the one table of the layer.
#pragma once

#include <cstdint>

namespace platform {

constexpr uint32_t kStatusSuccess = 0x00000000;
constexpr uint32_t kStatusPending = 0x00000103;
constexpr uint32_t kStatusUnsuccessful = 0xC0000001;
constexpr uint32_t kStatusNotImplemented = 0xC0000002;
constexpr uint32_t kStatusInvalidHandle = 0xC0000008;
constexpr uint32_t kStatusInvalidParameter = 0xC000000D;
constexpr uint32_t kStatusInvalidDeviceRequest = 0xC0000010;
constexpr uint32_t kStatusEndOfFile = 0xC0000011;
constexpr uint32_t kStatusNoMemory = 0xC0000017;
constexpr uint32_t kStatusAccessDenied = 0xC0000022;
constexpr uint32_t kStatusBufferTooSmall = 0xC0000023;
constexpr uint32_t kStatusObjectTypeMismatch = 0xC0000024;
constexpr uint32_t kStatusObjectNameInvalid = 0xC0000033;
constexpr uint32_t kStatusObjectNameNotFound = 0xC0000034;
constexpr uint32_t kStatusObjectNameCollision = 0xC0000035;
constexpr uint32_t kStatusObjectPathNotFound = 0xC000003A;
constexpr uint32_t kStatusSharingViolation = 0xC0000043;
constexpr uint32_t kStatusLockNotGranted = 0xC0000055;
constexpr uint32_t kStatusRangeNotLocked = 0xC000007E;
constexpr uint32_t kStatusDiskFull = 0xC000007F;
constexpr uint32_t kStatusDeviceDataError = 0xC000009C;
constexpr uint32_t kStatusDeviceNotConnected = 0xC000009D;
constexpr uint32_t kStatusIoTimeout = 0xC00000B5;
constexpr uint32_t kStatusFileIsADirectory = 0xC00000BA;
constexpr uint32_t kStatusNotSupported = 0xC00000BB;
constexpr uint32_t kStatusBadNetworkPath = 0xC00000BE;
constexpr uint32_t kStatusNotSameDevice = 0xC00000D4;
constexpr uint32_t kStatusCancelled = 0xC0000120;
constexpr uint32_t kStatusIoDeviceError = 0xC0000185;

// Errors and warnings (the top bit) fail the operation; success and information values do not.
inline bool nt_failed(uint32_t status) {
    return (status & 0x80000000u) != 0;
}

// The Win32 error that GetLastError reports for a status (RtlNtStatusToDosError).
uint32_t nt_status_to_error(uint32_t status);

}  // namespace platform
