// The library's FPGA data frames (the frame's layout: wire/fpga_frame.h): one 4096-byte block
// encrypted or decrypted with SM4-XTS by the card's crypto engine.
#pragma once

#include <cstdint>

#include "card/export.h"
#include "usb/card_link.h"
#include "wire/fpga_frame.h"

// One 4096-byte block (len must be 4096) under a key slot (0..128; 0 goes to the card as it is)
// with a 16-byte tweak; encrypt nonzero encrypts, 0 decrypts. Takes the card lock and opens and
// closes the card link. out receives the len bytes only when the card's reply reports no error
// and the whole block processed. 0, 3, 16, 17, or 29 when the reply's status byte is nonzero or
// its total length is below the frame's.
KELVANE_EXPORT uint32_t brel_xts_fpga(uint32_t slot, const uint8_t* tweak, const uint8_t* in,
                                      uint32_t len, uint8_t* out, uint8_t encrypt);

// The same on a link the caller opened and holds, under the card lock the caller holds.
int32_t brel_xts_fpga_dev(CCyUSBDriverDevice* link, uint32_t slot, const uint8_t* tweak,
                          const uint8_t* in, uint32_t len, uint8_t* out, uint8_t encrypt);

// The same as brel_xts_fpga with 32 raw key bytes in place of slot and tweak (the tweak is zero).
uint32_t brel_xts_fpga_rawkey(const uint8_t* key, const uint8_t* in, uint32_t len, uint8_t* out,
                              uint8_t encrypt);
