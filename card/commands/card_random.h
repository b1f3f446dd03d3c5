// Random bytes from the card, one exchange of at most 4096 bytes.
#pragma once

#include <cstdint>

constexpr uint32_t CARD_RANDOM_MAX = 4096;

// length 1..4096 bytes into buffer; the buffer is untouched on any failure.
uint32_t brel_gen_random(uint8_t* buffer, uint32_t length);

// Does nothing and returns 0.
uint32_t brel_noop(uint64_t, uint64_t);
