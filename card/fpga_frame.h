// The FPGA data frame: the card's crypto engine encrypts or decrypts one block with SM4-XTS. A
// 64-byte header, little-endian, then the data; the reply has the same size. The library's frames
// carry one 4096-byte block under a key slot and a tweak, or under 32 raw key bytes.
#pragma once

#include <cstdint>

#include "card/export.h"
#include "include/kelvane_device.h"
#include "usb/card_link.h"

namespace fpga_frame {

// Request.
constexpr uint32_t kOpcodeOffset = 0;      // u32: FPGA_XTS_ENCRYPT or FPGA_XTS_DECRYPT
constexpr uint32_t kDataLengthOffset = 4;  // u16
constexpr uint32_t kZeroOffset = 6;        // u8, 0
constexpr uint32_t kFlagOffset = 7;        // u8: 1 on a link the caller holds, else 0
constexpr uint32_t kKeyFieldOffset = 8;    // 32 bytes: a slot (u32, the rest zero) or a raw key
constexpr uint32_t kSlotOffset = kKeyFieldOffset;
constexpr uint32_t kKeyFieldSize = 32;
constexpr uint32_t kTweakOffset = kKeyFieldOffset + kKeyFieldSize;  // 16 bytes
constexpr uint32_t kTweakSize = 16;
constexpr uint32_t kExtraOffset = kTweakOffset + kTweakSize;  // 8 zero bytes
constexpr uint32_t kHeaderSize = 64;
static_assert(kExtraOffset + 8 == kHeaderSize);

// Reply.
constexpr uint32_t kStatusOffset = 4;       // u8, nonzero: the engine refused the frame
constexpr uint32_t kTotalLengthOffset = 8;  // u32: 64 + the bytes processed

constexpr uint32_t kBlockSize = 4096;
constexpr uint32_t kFrameSize = kHeaderSize + kBlockSize;  // a multiple of 64 as it stands
static_assert(kFrameSize == 4160 && kFrameSize % 64 == 0);

}  // namespace fpga_frame

constexpr uint32_t FPGA_XTS_ENCRYPT = 0x241;  // bytes 41 02 00 00: 'A', 0x02
constexpr uint32_t FPGA_XTS_DECRYPT = 0x242;  // 'B', 0x02

// The export brel_xts_fpga (include/kelvane_device.h) on a link the caller opened and holds,
// under the card lock the caller holds; the export takes the lock and opens and closes the link.
int32_t brel_xts_fpga_dev(CCyUSBDriverDevice* link, uint32_t slot, const uint8_t* tweak,
                          const uint8_t* in, uint32_t len, uint8_t* out, uint8_t encrypt);

// The same as brel_xts_fpga with 32 raw key bytes in place of slot and tweak (the tweak is zero).
uint32_t brel_xts_fpga_rawkey(const uint8_t* key, const uint8_t* in, uint32_t len, uint8_t* out,
                              uint8_t encrypt);
