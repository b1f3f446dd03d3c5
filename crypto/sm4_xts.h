// SM4-XTS of GB/T 17964-2021 for whole 16-byte blocks (no ciphertext stealing).
//
// key is an sm4_xts_key: bytes 0..15 the data key K1, bytes 16..31 the tweak key K2. The tweak
// input (16 bytes) is only read; T = SM4(K2, tweak input) and block j uses T * alpha^j.
#pragma once

#include <cstdint>

#include "crypto/export.h"

extern "C" {

constexpr uint32_t SM4_XTS_KEY_SIZE = 32;
typedef uint8_t sm4_xts_key[SM4_XTS_KEY_SIZE];

// 0, or 1 when a pointer is null or len is below 16 or not a multiple of 16 (nothing written).
CRYPTO_EXPORT int32_t sm4_xts_encrypt(const uint8_t* key, const uint8_t* tweak, const uint8_t* in,
                                      uint32_t len, uint8_t* out);
CRYPTO_EXPORT int32_t sm4_xts_decrypt(const uint8_t* key, const uint8_t* tweak, const uint8_t* in,
                                      uint32_t len, uint8_t* out);

// Unchecked form: encrypts when encrypt is nonzero, else decrypts, len / 16 whole blocks; bytes
// past the last whole block are neither read nor written. Always returns 0.
CRYPTO_EXPORT int32_t sm4_xts(const uint8_t* key, const uint8_t* tweak, const uint8_t* in,
                              uint32_t len, uint8_t* out, uint8_t encrypt);

// Multiplies a tweak by alpha in the GB/T 17964 (bit-reflected) order, in place.
void xts_mul_alpha(uint8_t* t);

// Reverses the bit order inside each of 16 bytes, in place.
void reverse_bits_16(uint8_t* t);

}  // extern "C"
