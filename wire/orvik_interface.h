// What user mode hands the disk driver: the names of its disks, its two control codes and
// fileDescriptor, the 537-byte packed record that comes with IOCTL_ORVIK_OPEN_IMAGE. The record's
// integers are little-endian; the mount step writes it and the driver reads it field by field at
// these offsets.
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/byte_access.h"

// FILE_DEVICE_DISK, METHOD_BUFFERED, read and write access; functions 0x900 and 0x901.
constexpr uint32_t IOCTL_ORVIK_OPEN_IMAGE = 0x0007E400;
constexpr uint32_t IOCTL_ORVIK_CLOSE_IMAGE = 0x0007E404;

namespace wire {

// The driver's directory; disk n (from 1) is "\Device\orvik\device<n>", n in decimal. The names
// are written in units of Char: char in user mode, the kernel's 16-bit WCHAR in the driver.
inline constexpr char kOrvikDirectory[] = "\\Device\\orvik";
inline constexpr char kOrvikDevicePrefix[] = "\\Device\\orvik\\device";
inline constexpr uint32_t kOrvikDirectoryUnits = sizeof kOrvikDirectory;           // and the NUL
inline constexpr uint32_t kOrvikDeviceNameUnits = sizeof kOrvikDevicePrefix + 10;  // and the NUL

// Copies the NUL-terminated text into out, the NUL included; returns the length without it.
template <typename Char>
constexpr uint32_t CopyName(Char* out, const char* text) {
    uint32_t length = 0;
    for (; text[length] != '\0'; ++length) out[length] = static_cast<Char>(text[length]);
    out[length] = 0;
    return length;
}

// Writes the directory's name into out (kOrvikDirectoryUnits units); returns its length.
template <typename Char>
constexpr uint32_t WriteOrvikDirectory(Char* out) {
    return CopyName(out, kOrvikDirectory);
}

// Writes the name of disk number into out (kOrvikDeviceNameUnits units); returns its length.
template <typename Char>
constexpr uint32_t WriteOrvikDeviceName(Char* out, uint32_t number) {
    uint32_t length = CopyName(out, kOrvikDevicePrefix);
    char digits[10];
    uint32_t count = 0;
    do {
        digits[count++] = static_cast<char>('0' + number % 10);
        number /= 10;
    } while (number != 0);
    while (count != 0) out[length++] = static_cast<Char>(digits[--count]);
    out[length] = 0;
    return length;
}

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

static_assert(kGuard1 == kFileName + kFileNameSize);
static_assert(kGuard2 == kDevicePath + kDevicePathSize);
static_assert(kFileNameLength == kGuard2 + 4 && kChunkSize == kDevicePathLength + 2);
static_assert(kFileSize == kChunkSize + 4 && kSoft == kFileSize + 8 && kKey1 == kSoft + 1);
static_assert(kKey2 == kKey1 + kKeySize);
static_assert(kSize == kKey2 + kKeySize);

inline constexpr char kImagePathPrefix[] = "\\??\\";
inline constexpr char kCardPathPrefix[] = "\\GLOBAL??\\";

// The longest paths that the two text fields hold behind their prefixes, with the NUL.
inline constexpr size_t kMaxImagePath = kFileNameSize - (sizeof kImagePathPrefix - 1) - 1;
inline constexpr size_t kMaxCardDevicePath = kDevicePathSize - (sizeof kCardPathPrefix - 1) - 1;
static_assert(kMaxImagePath == 235 && kMaxCardDevicePath == 229);

// In card mode the driver holds szDevicePath, up to its NUL, as UTF-16 in a buffer of
// kHeldDevicePathBytes: at most kMaxHeldDevicePath characters and the terminator. An OPEN with a
// longer one is refused.
constexpr uint32_t kHeldDevicePathBytes = 240;
constexpr uint32_t kMaxHeldDevicePath = kHeldDevicePathBytes / 2 - 1;
static_assert(kMaxHeldDevicePath == 119);
// So in card mode the card device path behind the prefix is shorter still.
inline constexpr size_t kMaxDriverCardDevicePath =
    kMaxHeldDevicePath - (sizeof kCardPathPrefix - 1);
static_assert(kMaxDriverCardDevicePath == 109);

inline constexpr size_t kVolumeKeySize = 2 * kKeySize;  // key1 (data key), then key2 (tweak key)

// What the mount step puts into the record.
struct Contents {
    const char* image_path;        // at most kMaxImagePath characters
    const char* card_device_path;  // at most kMaxCardDevicePath characters; may be empty
    int64_t file_size;             // of an image to create; 0: none is created
    uint32_t chunk_size;
    bool soft;
    const uint8_t* key;  // kVolumeKeySize bytes
};

// prefix then text into the zeroed field, which holds them and a NUL; returns their length.
constexpr uint16_t WriteTextField(uint8_t* field, const char* prefix, const char* text) {
    uint16_t length = 0;
    while (*prefix != '\0') field[length++] = static_cast<uint8_t>(*prefix++);
    while (*text != '\0') field[length++] = static_cast<uint8_t>(*text++);
    return length;
}

// Zeroes the record (kSize bytes) and fills it field by field, so every byte behind a text's NUL
// is zero. The image path's separators go into szFileName as '\' whichever way they were
// written: the driver opens an NT name, whose one separator is '\', and Win32 paths take a '/'
// as one too.
inline void Encode(const Contents& contents, uint8_t* record) {
    for (uint32_t i = 0; i < kSize; ++i) record[i] = 0;
    uint8_t* file_name = record + kFileName;
    const uint16_t file_name_length =
        WriteTextField(file_name, kImagePathPrefix, contents.image_path);
    for (uint16_t i = 0; i < file_name_length; ++i)
        if (file_name[i] == '/') file_name[i] = '\\';
    bytes::store_le32(record + kGuard1, kGuardValue);
    const uint16_t device_path_length =
        WriteTextField(record + kDevicePath, kCardPathPrefix, contents.card_device_path);
    bytes::store_le32(record + kGuard2, kGuardValue);
    bytes::store_le16(record + kFileNameLength, file_name_length);
    bytes::store_le16(record + kDevicePathLength, device_path_length);
    bytes::store_le32(record + kChunkSize, contents.chunk_size);
    bytes::store_le64(record + kFileSize, static_cast<uint64_t>(contents.file_size));
    record[kSoft] = contents.soft ? 1 : 0;
    for (uint32_t i = 0; i < kVolumeKeySize; ++i) record[kKey1 + i] = contents.key[i];
}

// The record's fields as the driver reads them; the texts and keys point into the record.
struct Fields {
    const uint8_t* szFileName;  // kFileNameSize bytes
    uint32_t dwGuard1;
    const uint8_t* szDevicePath;  // kDevicePathSize bytes
    uint32_t dwGuard2;
    uint16_t wFileNameLength;
    uint16_t wDevicePathLength;
    uint32_t dwChunkSize;
    int64_t llFileSize;
    uint8_t bSoft;
    const uint8_t* key1;  // kKeySize bytes
    const uint8_t* key2;  // kKeySize bytes

    bool GuardsHold() const { return dwGuard1 == kGuardValue && dwGuard2 == kGuardValue; }
};

// record: kSize bytes.
inline Fields Decode(const uint8_t* record) {
    Fields f;
    f.szFileName = record + kFileName;
    f.dwGuard1 = bytes::load_le32(record + kGuard1);
    f.szDevicePath = record + kDevicePath;
    f.dwGuard2 = bytes::load_le32(record + kGuard2);
    f.wFileNameLength = bytes::load_le16(record + kFileNameLength);
    f.wDevicePathLength = bytes::load_le16(record + kDevicePathLength);
    f.dwChunkSize = bytes::load_le32(record + kChunkSize);
    f.llFileSize = static_cast<int64_t>(bytes::load_le64(record + kFileSize));
    f.bSoft = record[kSoft];
    f.key1 = record + kKey1;
    f.key2 = record + kKey2;
    return f;
}

}  // namespace file_descriptor

}  // namespace wire
