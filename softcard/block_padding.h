// The envelope's block padding routines.
#pragma once

#include <cstdint>

// pad_80 (card/containers/padding.h): 0x80 and zeros up to the next multiple of block_size, a whole
// block when the length already is one. Returns the new length, also written to *length.
uint32_t PadIso7816(uint8_t* buffer, uint32_t* length, uint32_t block_size);
// Appends n bytes of value n, n = block_size - length % block_size (1..block_size).
uint32_t PadPkcs7(uint8_t* buffer, uint32_t* length, uint32_t block_size);
// Removes the padding whose count is the last byte: those bytes are zeroed and the length cut.
// 0; -1 when the count is 0, above 16 (the SM4 block) or above the length, with nothing changed.
int32_t UnpadPkcs7(uint8_t* buffer, uint32_t* length);
