// SM4-XTS of GB/T 17964-2021 for whole 16-byte blocks (no ciphertext stealing).
//
// key is an sm4_xts_key: bytes 0..15 the data key K1, bytes 16..31 the tweak key K2. The tweak
// input (16 bytes) is only read; T = SM4(K2, tweak input) and block j uses T * alpha^j.
#pragma once

#include <cstdint>

#include "include/pemra.h"

// sm4_xts_key and the three modes, sm4_xts_encrypt, sm4_xts_decrypt and the unchecked sm4_xts, are
// Pemra's (include/pemra.h).
extern "C" {

// Multiplies a tweak by alpha in the GB/T 17964 (bit-reflected) order, in place.
void xts_mul_alpha(uint8_t* t);

// Reverses the bit order inside each of 16 bytes, in place.
void reverse_bits_16(uint8_t* t);

}  // extern "C"
