#include "card/commands/key_slots.h"

#include <algorithm>
#include <cstring>

#include "base/byte_access.h"
#include "card/exchange/command_frame.h"
#include "card/exchange/exchange.h"
#include "card/exchange/failures.h"
#include "crypto/sm2.h"

namespace {

using frame::kHeaderSize;
using frame::kPayloadOffset;

// 0x729: the public key in; the wrapped key and the slot out.
constexpr uint32_t kGenPublicKeyOffset = kPayloadOffset;
constexpr uint32_t kGenWrappedOffset = kPayloadOffset;
constexpr uint32_t kGenSlotOffset = kGenWrappedOffset + WRAPPED_KEY_SIZE;
constexpr CardCommand kGenWrappedSk = {
    CMD_GEN_WRAPPED_SK, kGenPublicKeyOffset + SM2_PUBLIC_KEY_SIZE, kGenSlotOffset + 4};
static_assert(kGenWrappedSk.request_length == 80 && kGenWrappedSk.response_length == 148);

// 0x72A: the wrapped key in, the slot out.
constexpr uint32_t kImportWrappedOffset = kPayloadOffset;
constexpr uint32_t kImportSlotOffset = kPayloadOffset;
constexpr CardCommand kImportSk = {CMD_IMPORT_SK, kImportWrappedOffset + WRAPPED_KEY_SIZE,
                                   kImportSlotOffset + 4};
static_assert(kImportSk.request_length == 144 && kImportSk.response_length == 20);

// 0x72B: the slot.
constexpr uint32_t kFreeSlotOffset = kPayloadOffset;
constexpr CardCommand kFreeSk = {CMD_FREE_SK, kFreeSlotOffset + 4, kHeaderSize};

// 0x733, 0x734: slot, tweak, length, data in; the count and the data out.
constexpr uint32_t kXtsSlotOffset = kPayloadOffset;
constexpr uint32_t kXtsTweakOffset = kXtsSlotOffset + 4;
constexpr uint32_t kXtsLengthOffset = kXtsTweakOffset + XTS_TWEAK_SIZE;
constexpr uint32_t kXtsDataOffset = kXtsLengthOffset + 4;
constexpr uint32_t kXtsCountOffset = 32;
constexpr uint32_t kXtsResultOffset = kXtsCountOffset + 4;
static_assert(kXtsDataOffset == 40 && kXtsResultOffset == 36);

bool slot_ok(uint32_t slot) {
    return slot >= KEY_SLOT_MIN && slot <= KEY_SLOT_MAX;
}

uint32_t xts_command(LogSite site, uint32_t code, uint32_t slot, const uint8_t* tweak,
                     const uint8_t* in, uint32_t len, uint8_t* out) {
    if (!tweak || !in || !out || len == 0 || len % 16 != 0 || len > CARD_XTS_MAX || !slot_ok(slot))
        return invalid_argument(site);
    const CardCommand command = {code, kXtsDataOffset + len, kXtsResultOffset + len};
    return card_exchange(
        site, command,
        [&](uint8_t* request) {
            bytes::store_be32(request + kXtsSlotOffset, slot);
            std::memcpy(request + kXtsTweakOffset, tweak, XTS_TWEAK_SIZE);
            bytes::store_be32(request + kXtsLengthOffset, len);
            std::memcpy(request + kXtsDataOffset, in, len);
        },
        [&](const uint8_t* response) {
            // A count above len is cut to len: out holds len bytes, and so does the response.
            const uint32_t count = bytes::load_be32(response + kXtsCountOffset);
            std::memcpy(out, response + kXtsResultOffset, std::min(count, len));
        });
}

}  // namespace

uint32_t brel_gen_wrapped_sk(const uint8_t* pke, uint8_t* skCt, uint32_t* slot) {
    if (!pke || !skCt || !slot) return invalid_argument(LOG_SITE);
    return card_exchange(
        LOG_SITE, kGenWrappedSk,
        [&](uint8_t* request) {
            std::memcpy(request + kGenPublicKeyOffset, pke, SM2_PUBLIC_KEY_SIZE);
        },
        [&](const uint8_t* response) {
            std::memcpy(skCt, response + kGenWrappedOffset, WRAPPED_KEY_SIZE);
            *slot = bytes::load_be32(response + kGenSlotOffset);
        });
}

uint32_t brel_import_sk(const uint8_t* skCt, uint32_t* slot) {
    if (!skCt || !slot) return invalid_argument(LOG_SITE);
    return card_exchange(
        LOG_SITE, kImportSk,
        [&](uint8_t* request) {
            std::memcpy(request + kImportWrappedOffset, skCt, WRAPPED_KEY_SIZE);
        },
        [&](const uint8_t* response) { *slot = bytes::load_be32(response + kImportSlotOffset); });
}

uint32_t brel_free_sk(uint32_t slot) {
    if (!slot_ok(slot)) return invalid_argument(LOG_SITE);
    return card_exchange(
        LOG_SITE, kFreeSk,
        [&](uint8_t* request) { bytes::store_be32(request + kFreeSlotOffset, slot); }, kNoOutputs);
}

uint32_t brel_xts_enc(uint32_t slot, const uint8_t* tweak, const uint8_t* in, uint32_t len,
                      uint8_t* out) {
    return xts_command(LOG_SITE, CMD_XTS_ENCRYPT, slot, tweak, in, len, out);
}

uint32_t brel_xts_dec(uint32_t slot, const uint8_t* tweak, const uint8_t* in, uint32_t len,
                      uint8_t* out) {
    return xts_command(LOG_SITE, CMD_XTS_DECRYPT, slot, tweak, in, len, out);
}
