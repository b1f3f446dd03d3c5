// The system's 0x80 padding and the base name of a path.
#pragma once

#include <cstdint>

// Appends 0x80 and zeros up to the next multiple of block_size (> 0), a whole block when length
// already is one; length grows by the pad. buffer must hold length + pad bytes.
void pad_80(uint8_t* buffer, uint32_t* length, uint32_t block_size);

// Sets length to the index of the last 0x80 byte; without one, length stays.
void unpad_80(const uint8_t* buffer, uint32_t* length);

// Copies the text after the last '\' or '/' of path, with its NUL, to out; without a separator
// out is left untouched. out must hold strlen(path) + 1 characters.
void get_base_name(const char* path, char* out);
