// Little-endian fields of descriptors and driver records, read and written byte by byte. Reads
// past the end of a set give 0, so a short or broken set can never be read beyond.
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/byte_access.h"

namespace usb {

struct ByteView {
    const uint8_t* data;
    size_t size;

    uint8_t u8(size_t at) const { return at < size ? data[at] : 0; }
    uint16_t u16(size_t at) const { return static_cast<uint16_t>(u8(at) | u8(at + 1) << 8); }
    uint32_t u32(size_t at) const {
        return static_cast<uint32_t>(u16(at)) | static_cast<uint32_t>(u16(at + 2)) << 16;
    }
    bool has(size_t at, size_t length) const { return at <= size && length <= size - at; }
};

using bytes::load_le16;
using bytes::load_le32;
using bytes::store_le16;
using bytes::store_le32;

}  // namespace usb
