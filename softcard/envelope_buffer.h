// The envelope of a buffer (nothing in the system calls it): pke || csk || SM4-CBC of the data
// padded by PKCS#7, under the first 16 bytes of the file key, with a zero IV.
#pragma once

#include <cstdint>

// out must hold length + 16 + 192 bytes. 0; 3 null or empty input; the card, login and binding
// checks; 1 random, SM2 or SM4 failure.
uint32_t EnvelopeEncryptBuffer(const uint8_t* pke, const uint8_t* data, uint32_t length,
                               uint8_t* out, int32_t* out_length);
// out must hold length - 192 bytes. 0; 3 null, length not above 192 or not a multiple of 16,
// or addressed to another key; the card checks; 1 SM2 or SM4 failure or a bad padding count.
uint32_t EnvelopeDecryptBuffer(const uint8_t* in, uint32_t length, uint8_t* out,
                               uint32_t* out_length);
