// What user mode hands the disk driver: its two control codes and fileDescriptor, the 537-byte
// packed record that comes with IOCTL_ORVIK_OPEN_IMAGE. The record's integers are little-endian;
// readers and writers go field by field at these offsets.
#pragma once

#include <cstdint>

// FILE_DEVICE_DISK, METHOD_BUFFERED, read and write access; functions 0x900 and 0x901.
constexpr uint32_t IOCTL_ORVIK_OPEN_IMAGE = 0x0007E400;
constexpr uint32_t IOCTL_ORVIK_CLOSE_IMAGE = 0x0007E404;

namespace file_descriptor {

// szFileName: "\??\" and the image path; the driver takes exactly wFileNameLength bytes of it.
constexpr uint32_t kFileName = 0;
constexpr uint32_t kFileNameSize = 240;
constexpr uint32_t kGuard1 = 240;  // dwGuard1
// szDevicePath: "\GLOBAL??\" and the card's interface path, NUL-terminated within the field.
constexpr uint32_t kDevicePath = 244;
constexpr uint32_t kDevicePathSize = 240;
constexpr uint32_t kGuard2 = 484;            // dwGuard2
constexpr uint32_t kFileNameLength = 488;    // wFileNameLength, u16
constexpr uint32_t kDevicePathLength = 490;  // wDevicePathLength, u16
constexpr uint32_t kChunkSize = 492;         // dwChunkSize, u32
constexpr uint32_t kFileSize = 496;          // llFileSize, i64: size of an image to create
constexpr uint32_t kSoft = 504;              // bSoft, u8: nonzero selects software mode
constexpr uint32_t kKey1 = 505;              // key1: XTS data key
constexpr uint32_t kKey2 = 521;              // key2: XTS tweak key
constexpr uint32_t kKeySize = 16;
constexpr uint32_t kSize = 537;

constexpr uint32_t kGuardValue = 0xCCCCCCCC;

// In card mode the driver holds szDevicePath, up to its NUL, as UTF-16 in a buffer of
// kHeldDevicePathBytes: at most kMaxHeldDevicePath characters and the terminator. An OPEN with a
// longer one is refused.
constexpr uint32_t kHeldDevicePathBytes = 240;
constexpr uint32_t kMaxHeldDevicePath = kHeldDevicePathBytes / 2 - 1;
static_assert(kMaxHeldDevicePath == 119);

static_assert(kGuard1 == kFileName + kFileNameSize);
static_assert(kGuard2 == kDevicePath + kDevicePathSize);
static_assert(kKey2 == kKey1 + kKeySize);
static_assert(kSize == kKey2 + kKeySize);

}  // namespace file_descriptor
