// The FPGA data frame: the card's crypto engine encrypts or decrypts the frame's data with
// SM4-XTS. A 64-byte header, little-endian, then the data; one frame goes to the card's bulk OUT
// endpoint and one reply comes back from its bulk IN endpoint. Two senders fill the header, each
// in its own way: the library (brel_xts_fpga and its siblings: one 4096-byte block under a key
// slot and a tweak, or under 32 raw key bytes) and the driver's kernel card client (disk sectors
// under the driver-wide key pair). Every field either sender writes is named here, in the
// sender's own terms.
#pragma once

#include <cstdint>

#include "base/byte_access.h"

// The opcode, u32 at 0: bytes 41 02 00 00 or 42 02 00 00, byte 0 being 'A' or 'B'.
constexpr uint32_t FPGA_XTS_ENCRYPT = 0x241;
constexpr uint32_t FPGA_XTS_DECRYPT = 0x242;

namespace wire::fpga_frame {

// The request header as both senders lay it out.
constexpr uint32_t kOpcode = 0;  // u32: FPGA_XTS_ENCRYPT or FPGA_XTS_DECRYPT
constexpr uint32_t kKeyField = 8;
constexpr uint32_t kKeyFieldSize = 32;
constexpr uint32_t kTweak = kKeyField + kKeyFieldSize;
constexpr uint32_t kTweakSize = 16;
constexpr uint32_t kExtra = kTweak + kTweakSize;
constexpr uint32_t kExtraSize = 8;
constexpr uint32_t kHeaderSize = 64;
static_assert(kExtra + kExtraSize == kHeaderSize);

// The library's header: bytes 4..7 are a u16 data length, a zero byte and a flag; the key field
// holds a key slot (u32, the rest zero) or 32 raw key bytes; the tweak is the caller's (zero under
// a raw key); the extra bytes stay zero. The frame is one block, a multiple of 64 as it stands.
namespace library {
constexpr uint32_t kDataLength = 4;  // u16
constexpr uint32_t kZero = 6;        // u8, 0
constexpr uint32_t kFlag = 7;        // u8: 1 on a card link the caller holds, else 0
constexpr uint32_t kSlot = kKeyField;
constexpr uint32_t kBlockSize = 4096;
constexpr uint32_t kFrameSize = kHeaderSize + kBlockSize;
static_assert(kFrameSize == 4160 && kFrameSize % 64 == 0);

struct Header {
    uint32_t opcode = 0;
    uint16_t data_length = 0;
    uint8_t flag = 0;
    uint32_t slot = 0;
    const uint8_t* tweak = nullptr;    // kTweakSize bytes; none: zero
    const uint8_t* raw_key = nullptr;  // kKeyFieldSize bytes; when given, in place of the slot

    // Writes all kHeaderSize bytes.
    void encode(uint8_t* out) const {
        for (uint32_t i = 0; i < kHeaderSize; ++i) out[i] = 0;
        bytes::store_le32(out + kOpcode, opcode);
        bytes::store_le16(out + kDataLength, data_length);
        out[kZero] = 0;
        out[kFlag] = flag;
        if (raw_key) {
            for (uint32_t i = 0; i < kKeyFieldSize; ++i) out[kKeyField + i] = raw_key[i];
        } else {
            bytes::store_le32(out + kSlot, slot);
        }
        if (tweak)
            for (uint32_t i = 0; i < kTweakSize; ++i) out[kTweak + i] = tweak[i];
    }
};
}  // namespace library

// The driver's header: byte 0 of the opcode is the work item's op; bytes 4..7 are one u32, the
// data length of the frame; the key field holds the driver-wide key pair, key 1 then key 2; the
// tweak is the sector number (u64) and a high half of 0 (u64); the extra bytes are the sector
// number again. The driver keeps a header template that holds the key pair, and writes the other
// fields over a copy of it for each frame.
namespace driver {
constexpr uint32_t kOp = kOpcode;    // u8
constexpr uint32_t kDataLength = 4;  // u32
constexpr uint32_t kKeyPair = kKeyField;
constexpr uint32_t kKeySize = kKeyFieldSize / 2;
constexpr uint32_t kSector = kTweak;         // u64
constexpr uint32_t kTweakHigh = kTweak + 8;  // u64
constexpr uint32_t kSectorAgain = kExtra;    // u64
static_assert(kTweakHigh + 8 == kExtra);

constexpr uint8_t kEncryptOp = FPGA_XTS_ENCRYPT & 0xFF;  // 'A'
constexpr uint8_t kDecryptOp = FPGA_XTS_DECRYPT & 0xFF;  // 'B'
static_assert(kEncryptOp == 'A' && kDecryptOp == 'B');

// The data length the template holds until an OUT frame writes its own: one 512-byte sector.
constexpr uint32_t kTemplateDataLength = 512;

// The template's fields besides the key pair, into a zeroed header.
inline void WriteTemplate(uint8_t* header) {
    bytes::store_le32(header + kOpcode, FPGA_XTS_ENCRYPT);
    bytes::store_le32(header + kDataLength, kTemplateDataLength);
}

// What every frame of the driver writes over its copy of the template: the op and the tweak.
inline void WriteTweak(uint8_t* header, uint8_t op, uint64_t sector, uint64_t tweak_high) {
    header[kOp] = op;
    bytes::store_le64(header + kSector, sector);
    bytes::store_le64(header + kTweakHigh, tweak_high);
}

// What an OUT frame writes besides: its data length, and the sector number again.
inline void WriteOutFields(uint8_t* header, uint32_t data_length, uint64_t sector) {
    bytes::store_le32(header + kDataLength, data_length);
    bytes::store_le64(header + kSectorAgain, sector);
}
}  // namespace driver

// The reply, as far as the senders read it; its data follows the header.
namespace reply {
constexpr uint32_t kStatus = 4;         // u8, nonzero: the engine refused the frame
constexpr uint32_t kTotalLength = 8;    // u32: kHeaderSize + the bytes processed
constexpr uint32_t kEchoedSector = 16;  // u64: the driver's sector number, echoed
constexpr uint32_t kData = kHeaderSize;

struct Reply {
    uint8_t status = 0;
    uint32_t total_length = 0;
    uint64_t echoed_sector = 0;

    static Reply decode(const uint8_t* in) {
        Reply r;
        r.status = in[kStatus];
        r.total_length = bytes::load_le32(in + kTotalLength);
        r.echoed_sector = bytes::load_le64(in + kEchoedSector);
        return r;
    }
};
}  // namespace reply

}  // namespace wire::fpga_frame
