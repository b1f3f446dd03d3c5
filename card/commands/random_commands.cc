// Random bytes, the device count, activation and the unsupported probe.
#include <algorithm>
#include <cstring>

#include "base/byte_access.h"
#include "card/card_api.h"
#include "card/commands/card_random.h"
#include "card/exchange/command_frame.h"
#include "card/exchange/exchange.h"
#include "card/exchange/failures.h"
#include "card/exchange/result.h"
#include "usb/card_link.h"

namespace {

using frame::kHeaderSize;
using frame::kPayloadOffset;

// 0x72D: the requested length in, the bytes out.
constexpr uint32_t kRandomLengthOffset = kPayloadOffset;
constexpr uint32_t kRandomRequestLength = kRandomLengthOffset + 4;
constexpr uint32_t kRandomBytesOffset = kPayloadOffset;
static_assert(kRandomRequestLength == 20);

uint32_t payloadless_command(LogSite site, uint32_t code) {
    return card_exchange(site, CardCommand{code, kHeaderSize, kHeaderSize}, kNoPayload, kNoOutputs);
}

}  // namespace

uint32_t brel_gen_random(uint8_t* buffer, uint32_t length) {
    if (!buffer || length == 0 || length > CARD_RANDOM_MAX) return invalid_argument(LOG_SITE);
    const CardCommand command = {CMD_GEN_RANDOM, kRandomRequestLength, kRandomBytesOffset + length};
    return card_exchange(
        LOG_SITE, command,
        [&](uint8_t* request) { bytes::store_be32(request + kRandomLengthOffset, length); },
        [&](const uint8_t* response) {
            std::memcpy(buffer, response + kRandomBytesOffset, length);
        });
}

uint32_t brel_noop(uint64_t, uint64_t) {
    return 0;
}

KELVANE_EXPORT uint32_t QeltGenRand(uint8_t* buffer, uint32_t length) try {
    if (!buffer || length == 0) return invalid_argument(LOG_SITE);
    // One exchange, and one lock hold, per chunk.
    for (uint32_t offset = 0; offset < length;) {
        const uint32_t chunk = std::min(length - offset, CARD_RANDOM_MAX);
        const uint32_t result = brel_gen_random(buffer + offset, chunk);
        if (result != CARD_OK) return result;
        offset += chunk;
    }
    return CARD_OK;
} catch (...) {
    return out_of_memory(LOG_SITE);
}

KELVANE_EXPORT uint32_t QeltGetCardCnt(uint32_t* count) try {
    if (!count) return invalid_argument(LOG_SITE);
    *count = count_usb_dev();
    return CARD_OK;
} catch (...) {
    return out_of_memory(LOG_SITE);
}

KELVANE_EXPORT uint32_t QeltActiveDevEx() try {
    return payloadless_command(LOG_SITE, CMD_ACTIVE_DEV);
} catch (...) {
    return out_of_memory(LOG_SITE);
}

KELVANE_EXPORT uint32_t BREL_Unsupport() try {
    return payloadless_command(LOG_SITE, CMD_UNSUPPORT);
} catch (...) {
    return out_of_memory(LOG_SITE);
}
