// Writing fileDescriptor, the 537-byte record that the mount step sends with
// IOCTL_ORVIK_OPEN_IMAGE. Its offsets are the driver's interface (driver/orvik_interface.h).
#pragma once

#include <cstddef>
#include <cstdint>

#include "driver/orvik_interface.h"

inline constexpr char kImagePathPrefix[] = "\\??\\";
inline constexpr char kCardPathPrefix[] = "\\GLOBAL??\\";

// The longest paths that the two text fields hold behind their prefixes, with the NUL.
inline constexpr size_t kMaxImagePath =
    file_descriptor::kFileNameSize - (sizeof kImagePathPrefix - 1) - 1;
inline constexpr size_t kMaxCardDevicePath =
    file_descriptor::kDevicePathSize - (sizeof kCardPathPrefix - 1) - 1;
static_assert(kMaxImagePath == 235 && kMaxCardDevicePath == 229);
// In card mode the driver takes a shorter card device path still: what it holds behind the prefix.
inline constexpr size_t kMaxDriverCardDevicePath =
    file_descriptor::kMaxHeldDevicePath - (sizeof kCardPathPrefix - 1);
static_assert(kMaxDriverCardDevicePath == 109);

inline constexpr size_t kVolumeKeySize = 32;  // key1 (data key), then key2 (tweak key)
static_assert(kVolumeKeySize == 2 * file_descriptor::kKeySize);

struct MountRequest {
    const char* image_path;        // at most kMaxImagePath characters
    const char* card_device_path;  // at most kMaxCardDevicePath characters; may be empty
    int64_t file_size;             // of an image to create; 0: none is created
    uint32_t chunk_size;
    bool soft;
    const uint8_t* key;  // kVolumeKeySize bytes
};

using FileDescriptor = uint8_t[file_descriptor::kSize];

// Zeroes the record and fills it field by field, so every byte behind a text's NUL is zero. The
// image path's separators go into szFileName as '\' whichever way they were written.
void WriteFileDescriptor(const MountRequest& request, FileDescriptor& record);
