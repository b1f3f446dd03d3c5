// Helpers shared by the SM4 mode files; exported nowhere.
#pragma once

#include <cstdint>

#include "crypto/sm4.h"

namespace crypto_internal {

// The length rule of every checked SM4 mode: at least one block and whole blocks only.
inline bool sm4_whole_blocks(uint32_t len) {
    return len >= SM4_BLOCK_SIZE && len % SM4_BLOCK_SIZE == 0;
}

// out = a xor b over one 16-byte block; out may be a or b.
inline void xor_block(uint8_t* out, const uint8_t* a, const uint8_t* b) {
    for (uint32_t i = 0; i < SM4_BLOCK_SIZE; ++i) out[i] = static_cast<uint8_t>(a[i] ^ b[i]);
}

}  // namespace crypto_internal
