// NT status values that the platform's I/O completions carry, and their Win32 errors.
#pragma once

#include <cstdint>

#include "platform/win32.h"

namespace platform {

constexpr uint32_t kStatusSuccess = 0x00000000;
constexpr uint32_t kStatusPending = 0x00000103;
constexpr uint32_t kStatusUnsuccessful = 0xC0000001;
constexpr uint32_t kStatusNotImplemented = 0xC0000002;
constexpr uint32_t kStatusInvalidDeviceRequest = 0xC0000010;
constexpr uint32_t kStatusInvalidParameter = 0xC000000D;
constexpr uint32_t kStatusAccessDenied = 0xC0000022;
constexpr uint32_t kStatusBufferTooSmall = 0xC0000023;
constexpr uint32_t kStatusDeviceNotConnected = 0xC000009D;
constexpr uint32_t kStatusIoTimeout = 0xC00000B5;
constexpr uint32_t kStatusCancelled = 0xC0000120;
constexpr uint32_t kStatusDeviceDataError = 0xC000009C;

// Errors and warnings (the top bit) fail the operation; success and information values do not.
inline bool nt_failed(uint32_t status) {
    return (status & 0x80000000u) != 0;
}

// The Win32 error that GetLastError reports for a completion status.
DWORD nt_status_to_error(uint32_t status);

}  // namespace platform
