// The host's MAC address: the permanent address of the first network adapter that answers. Its
// export get_mac and MAC_ADDRESS_SIZE are in the public header include/kelvane_shared.h.
#pragma once

#include <cstdint>

#include "card/export.h"
#include "include/kelvane_shared.h"

// 0 with the address in out (6 bytes); -1 when out is null or no adapter answered.
int32_t GetMac(uint8_t* out);
