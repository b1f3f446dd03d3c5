// Little-endian fields of the vendor driver's records and of USB descriptors.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace sim::usb {

inline uint8_t get8(std::span<const uint8_t> b, size_t at) {
    return at < b.size() ? b[at] : 0;
}
inline uint16_t get16(std::span<const uint8_t> b, size_t at) {
    return static_cast<uint16_t>(get8(b, at) | get8(b, at + 1) << 8);
}
inline uint32_t get32(std::span<const uint8_t> b, size_t at) {
    return static_cast<uint32_t>(get16(b, at)) | static_cast<uint32_t>(get16(b, at + 2)) << 16;
}
inline void put16(std::span<uint8_t> b, size_t at, uint16_t v) {
    if (at + 2 > b.size()) return;
    b[at] = static_cast<uint8_t>(v);
    b[at + 1] = static_cast<uint8_t>(v >> 8);
}
inline void put32(std::span<uint8_t> b, size_t at, uint32_t v) {
    if (at + 4 > b.size()) return;
    put16(b, at, static_cast<uint16_t>(v));
    put16(b, at + 2, static_cast<uint16_t>(v >> 16));
}

// The 38-byte transfer envelope in front of every transfer.
namespace envelope {
constexpr size_t kRequestType = 0, kRequest = 1, kValue = 2, kIndex = 4, kLength = 6;
constexpr size_t kTimeout = 8, kEndpoint = 13, kNtStatus = 14, kUsbdStatus = 18;
constexpr size_t kPacketOffset = 22, kPacketLength = 26, kDataOffset = 30, kDataLength = 34;
constexpr size_t kSize = 38;
constexpr size_t kPacketRecordSize = 8;  // u32 length, u32 status
}  // namespace envelope

}  // namespace sim::usb
