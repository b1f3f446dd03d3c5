// SM2 public-key encryption (GB/T 32918.4) and the SM3 counter key-derivation function.
//
// Ciphertext layout for a message of len bytes (len + 96 in all): C1 = x1 || y1 (64 bytes, no
// 0x04 prefix), C3 = SM3(x2 || M || y2) (32 bytes), C2 = M xor KDF(x2 || y2, len).
#pragma once

#include <cstdint>

#include "crypto/export.h"

extern "C" {

constexpr uint32_t SM2_CIPHERTEXT_OVERHEAD = 96;

// out has room for len + 96 bytes and must not overlap msg; out_len may be null. 0, or -1 (the
// public key is not a curve point, no random bytes, or x2 or y2 is zero); on -1 out holds
// nothing usable.
CRYPTO_EXPORT int32_t sm2_encrypt(const uint8_t* pub, const uint8_t* msg, uint32_t len,
                                  uint8_t* out, uint32_t* out_len);
// out has room for inlen - 96 bytes and must not overlap in; out_len is required. 0, or -1
// (inlen < 96 or C1 off the curve with nothing written; x2 or y2 zero; C3 mismatch, after
// which *out_len holds inlen - 96 and out is cleared).
CRYPTO_EXPORT int32_t sm2_decrypt(const uint8_t* priv, const uint8_t* in, uint32_t inlen,
                                  uint8_t* out, uint32_t* out_len);

// Writes klen bytes: SM3(z || ct) for ct = 1, 2, ... (big-endian 32-bit), the last block cut.
void sm2_kdf(const uint8_t* z, uint32_t zlen, uint8_t* out, uint32_t klen);

}  // extern "C"
