// The card's crypto engine behind FPGA data frames: SM4-XTS with one key set-up per frame.
//
// The key field names the key: all zero, the volume key, with every 512-byte sector of the data
// its own data unit whose tweak is its sector number (the first one at offset 40), as the
// driver's software mode has it; a slot number at offset 8 with the rest zero, that slot's key;
// anything else, the 32 raw key bytes. Slot and raw-key frames are one data unit under the
// frame's tweak, as commands 0x733 and 0x734 are.
#include <cstring>

#include "base/byte_access.h"
#include "crypto/sm4_blocks.h"
#include "crypto/sm4_xts.h"
#include "sim/card/firmware.h"
#include "sim/card/frame_format.h"

namespace sim::card {
namespace {

bool all_zero(const uint8_t* p, size_t n) {
    for (size_t i = 0; i < n; ++i)
        if (p[i] != 0) return false;
    return true;
}

uint8_t crypt(const CardState& card, std::span<const uint8_t> frame, std::span<uint8_t> out,
              bool encrypt) {
    const uint8_t* key_field = frame.data() + fpga::kKey;
    const uint8_t* in = frame.data() + fpga::kHeaderSize;
    const size_t length = out.size();
    if (all_zero(key_field, kXtsKeySize)) {
        if (!card.volume_key) return kFpgaNoKey;
        if (length == 0 || length % fpga::kSectorSize != 0) return kFpgaBadLength;
        crypto_internal::sm4_xts_sectors(
            card.volume_key->data(), bytes::load_le64(frame.data() + fpga::kTweak), in, out.data(),
            length / fpga::kSectorSize, fpga::kSectorSize, encrypt);
        return kFpgaOk;
    }
    const uint8_t* key = key_field;
    if (all_zero(key_field + 4, kXtsKeySize - 4)) {
        const Key32* held = slot_key(card, bytes::load_le32(frame.data() + fpga::kSlot));
        if (!held) return kFpgaNoKey;
        key = held->data();
    }
    if (length == 0 || length % 16 != 0) return kFpgaBadLength;
    sm4_xts(key, frame.data() + fpga::kTweak, in, static_cast<uint32_t>(length), out.data(),
            encrypt ? 1 : 0);
    return kFpgaOk;
}

}  // namespace

uint8_t answer_fpga_frame(CardState& card, std::span<const uint8_t> frame,
                          std::optional<uint8_t> forced_status, std::span<uint8_t> reply) {
    const uint32_t opcode = bytes::load_le32(frame.data() + fpga::kOpcode);
    std::span<uint8_t> data = reply.subspan(fpga::kHeaderSize);
    const uint8_t status =
        forced_status ? *forced_status : crypt(card, frame, data, opcode == kFpgaEncrypt);
    std::memset(reply.data(), 0, fpga::kHeaderSize);
    bytes::store_le32(reply.data() + fpga::kOpcode, opcode);
    reply[fpga::kStatus] = status;
    const bool done = status == kFpgaOk && !forced_status;
    if (!done) std::memset(data.data(), 0, data.size());
    bytes::store_le32(reply.data() + fpga::kTotalLength,
                      static_cast<uint32_t>(fpga::kHeaderSize + (done ? data.size() : 0)));
    bytes::store_le64(reply.data() + fpga::kEchoedSector,
                      bytes::load_le64(frame.data() + fpga::kSector));
    return status;
}

}  // namespace sim::card
