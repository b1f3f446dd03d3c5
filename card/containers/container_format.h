// The file containers: a header, then the data in 4096-byte SM4-XTS blocks, each under the
// container's key slot with a zero tweak; the last block holds the plaintext's remaining 0..4095
// bytes padded with 0x80 and zeros, so every container has at least one block.
//
//   V1: fn (255) | pke (64) | csk (128) | blocks       key made by the card, wrapped under pke
//   V2: fn (255) | salt (16) | mac (32) | blocks       key derived from a PIN and the salt
//
// fn is the plaintext path's base name, NUL-terminated and NUL-padded (all zero for a path
// without a separator). The headers are written and read field by field in this order.
#pragma once

#include <cstdint>

namespace container {

constexpr uint32_t kBlockSize = 4096;

constexpr uint32_t kNameOffset = 0;
constexpr uint32_t kNameSize = 255;

namespace v1 {
constexpr uint32_t kPkeOffset = kNameOffset + kNameSize;
constexpr uint32_t kPkeSize = 64;  // the caller's public key, as passed
constexpr uint32_t kCskOffset = kPkeOffset + kPkeSize;
constexpr uint32_t kCskSize = 128;  // the file key as the card wrapped it
constexpr uint32_t kHeaderSize = kCskOffset + kCskSize;
static_assert(kPkeOffset == 255 && kCskOffset == 319 && kHeaderSize == 447);
}  // namespace v1

namespace v2 {
constexpr uint32_t kSaltOffset = kNameOffset + kNameSize;
constexpr uint32_t kSaltSize = 16;
constexpr uint32_t kMacOffset = kSaltOffset + kSaltSize;
constexpr uint32_t kMacSize = 32;  // SM3 of the derived key and the key constant
constexpr uint32_t kHeaderSize = kMacOffset + kMacSize;
static_assert(kSaltOffset == 255 && kMacOffset == 271 && kHeaderSize == 303);
}  // namespace v2

// A container's length is its header and whole blocks; 64-bit, so containers of any size pass.
constexpr bool length_ok(uint64_t length, uint32_t header_size) {
    return length >= header_size && (length - header_size) % kBlockSize == 0;
}
static_assert(length_ok(447, v1::kHeaderSize) && !length_ok(446, v1::kHeaderSize) &&
              !length_ok(447 + 4097, v1::kHeaderSize) && length_ok(303 + 4096, v2::kHeaderSize));

}  // namespace container
