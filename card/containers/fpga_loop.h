// A loop test of the card's FPGA path under a PIN-derived key. Nothing in the library calls it.
#pragma once

#include <cstdint>

// The default user PIN and a zero salt give the key; one block of 0x15 bytes is encrypted rounds
// times on one held link. Reports through the log: "test start", "test over", or the failure.
void brel_xts_fpga_test(uint32_t rounds);
