// The host's MAC address: the permanent address of the first network adapter that answers.
#pragma once

#include <cstdint>

#include "card/export.h"

constexpr uint32_t MAC_ADDRESS_SIZE = 6;

// 0 with the address in out (6 bytes); -1 when out is null or no adapter answered.
int32_t GetMac(uint8_t* out);

// 0 when GetMac found an address, else 1.
KELVANE_EXPORT uint32_t get_mac(uint8_t* out);
