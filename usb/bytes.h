// Little-endian fields of descriptors and driver records, read and written byte by byte. Reads
// past the end of a set give 0, so a short or broken set can never be read beyond.
#pragma once

#include <cstddef>
#include <cstdint>

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

inline uint16_t load_le16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | p[1] << 8);
}
inline uint32_t load_le32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}
inline void store_le16(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}
inline void store_le32(uint8_t* p, uint32_t v) {
    store_le16(p, static_cast<uint16_t>(v));
    store_le16(p + 2, static_cast<uint16_t>(v >> 16));
}

}  // namespace usb
