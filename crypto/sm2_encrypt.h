// SM2 public-key encryption (GB/T 32918.4) and the SM3 counter key-derivation function.
//
// Ciphertext layout for a message of len bytes (len + 96 in all): C1 = x1 || y1 (64 bytes, no
// 0x04 prefix), C3 = SM3(x2 || M || y2) (32 bytes), C2 = M xor KDF(x2 || y2, len).
#pragma once

#include <cstdint>

#include "include/pemra.h"

// sm2_encrypt and sm2_decrypt are Pemra's exports (include/pemra.h).
extern "C" {

// Writes klen bytes: SM3(z || ct) for ct = 1, 2, ... (big-endian 32-bit), the last block cut.
void sm2_kdf(const uint8_t* z, uint32_t zlen, uint8_t* out, uint32_t klen);

}  // extern "C"
