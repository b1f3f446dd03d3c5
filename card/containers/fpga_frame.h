// The library's FPGA data frames (the frame's layout: wire/fpga_frame.h): one 4096-byte block
// encrypted or decrypted with SM4-XTS by the card's crypto engine.
#pragma once

#include <cstdint>

#include "card/export.h"
#include "include/kelvane_device.h"
#include "usb/card_link.h"
#include "wire/fpga_frame.h"

// The export brel_xts_fpga (include/kelvane_device.h) on a link the caller opened and holds,
// under the card lock the caller holds; the export takes the lock and opens and closes the link.
int32_t brel_xts_fpga_dev(CCyUSBDriverDevice* link, uint32_t slot, const uint8_t* tweak,
                          const uint8_t* in, uint32_t len, uint8_t* out, uint8_t encrypt);

// The same as brel_xts_fpga with 32 raw key bytes in place of slot and tweak (the tweak is zero).
uint32_t brel_xts_fpga_rawkey(const uint8_t* key, const uint8_t* in, uint32_t len, uint8_t* out,
                              uint8_t encrypt);
