// Byte strings to lowercase hex text and back.
#pragma once

#include <cstdint>

extern "C" {

// Writes 2 * len lowercase hex digits and a NUL to out, which must hold 2 * len + 1 characters.
// With len 0 or negative nothing is written, not even the NUL.
void bytes_to_hex(const uint8_t* data, int32_t len, char* out);

// The same conversion as bytes_to_hex.
void hex_encode(const uint8_t* data, int32_t len, char* out);

// Prints "[label]hex\n" to standard output. At most 5,119 bytes are formatted; longer input is cut.
void hex_dump(const uint8_t* data, uint32_t len, const char* label);

// Reads text two characters at a time as base-16 bytes into out and returns the number written.
// text must be non-empty and of even length; a pair that is not hex gives the value of its
// leading hex digit, or 0.
int32_t hex_to_bytes(const char* text, uint8_t* out);

}  // extern "C"
