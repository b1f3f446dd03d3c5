// The card's list of bound hosts: bind this host, unbind a MAC address, read the list back.
#include <cstring>

#include "card/card_api.h"
#include "card/exchange/command_frame.h"
#include "card/exchange/exchange.h"
#include "card/exchange/failures.h"
#include "card/exchange/result.h"

namespace {

using frame::kHeaderSize;
using frame::kPayloadOffset;

constexpr uint32_t kMacOffset = kPayloadOffset;
constexpr uint32_t kMacRequestLength = kMacOffset + MAC_ADDRESS_SIZE;
static_assert(kMacRequestLength == 22);

// 0x730 response: three counter bytes, one byte not read, the list of five addresses.
constexpr uint32_t kCurBindIndexOffset = kPayloadOffset;
constexpr uint32_t kHasBindCntOffset = 17;
constexpr uint32_t kLeftBindCntOffset = 18;
constexpr uint32_t kBindListOffset = 20;
constexpr CardCommand kQueryBoundMac = {CMD_QUERY_BOUND_MAC, kHeaderSize, 128};
static_assert(kBindListOffset + BIND_LIST_SIZE <= kQueryBoundMac.response_length);

uint32_t mac_command(LogSite site, uint32_t code, const uint8_t* mac) {
    const CardCommand command = {code, kMacRequestLength, kHeaderSize};
    return card_exchange(
        site, command,
        [&](uint8_t* request) { std::memcpy(request + kMacOffset, mac, MAC_ADDRESS_SIZE); },
        kNoOutputs);
}

}  // namespace

KELVANE_EXPORT uint32_t QeltBindCurMac() try {
    // The address is looked up before the lock is taken.
    uint8_t mac[MAC_ADDRESS_SIZE] = {};
    const int32_t found = GetMac(mac);
    if (found != 0) {
        LOG_FAILURE(LOG_SITE, "GetMac err[%d]", found);
        return CARD_MAC_UNREADABLE;
    }
    return mac_command(LOG_SITE, CMD_BIND_CUR_MAC, mac);
} catch (...) {
    return out_of_memory(LOG_SITE);
}

KELVANE_EXPORT uint32_t QeltUnbindMac(const uint8_t* mac) try {
    if (!mac) return invalid_argument(LOG_SITE);
    return mac_command(LOG_SITE, CMD_UNBIND_MAC, mac);
} catch (...) {
    return out_of_memory(LOG_SITE);
}

KELVANE_EXPORT uint32_t QeltQueryBindedMac(uint32_t* curBindIndex, uint32_t* hasBindCnt,
                                           uint32_t* leftBindCnt, uint8_t* hasBindMac) try {
    if (!curBindIndex || !hasBindCnt || !leftBindCnt || !hasBindMac)
        return invalid_argument(LOG_SITE);
    return card_exchange(LOG_SITE, kQueryBoundMac, kNoPayload, [&](const uint8_t* response) {
        *curBindIndex = response[kCurBindIndexOffset];
        *hasBindCnt = response[kHasBindCntOffset];
        *leftBindCnt = response[kLeftBindCntOffset];
        std::memcpy(hasBindMac, response + kBindListOffset, BIND_LIST_SIZE);
    });
} catch (...) {
    return out_of_memory(LOG_SITE);
}
