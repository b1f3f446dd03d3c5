// The bind list of the store file. Each reads the record first and returns a store error as it
// is.
#pragma once

#include <cstdint>

// 0 with the 1-based slot number, or 9 with *index 0.
uint32_t FindBoundMac(const uint8_t* mac, uint32_t* index);
// 0 (a logged-in, unbound process becomes bound to the new slot), 10 already listed, 12 full.
uint32_t AddBoundMac(const uint8_t* mac);
// 0 (this process's own slot unbinds it), or 13 when the MAC is in no slot.
uint32_t RemoveBoundMac(const uint8_t* mac);
