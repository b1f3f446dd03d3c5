// Host byte-order tests and the 32-bit conversions used on every card frame field.
#pragma once

#include <cstdint>

extern "C" {

// True when the host stores the most significant byte of a 16-bit value first.
bool host_is_big_endian();
bool host_is_little_endian();

// The number whose bytes in memory are those of value in little-endian (big-endian) order. Each is
// its own inverse: a field is written and read back through the same function.
uint32_t to_little_endian32(uint32_t value);
uint32_t to_big_endian32(uint32_t value);

// Reverses 16 bytes in place (byte i with byte 15 - i).
void reverse_16_bytes(uint8_t* buffer);

// On a little-endian host reverses the n bytes in place; on a big-endian host does nothing.
void reverse_bytes_if_little_endian(uint8_t* buffer, uint32_t n);

}  // extern "C"
