// The card's command frame: a 16-byte header, then the payload, sent and read at a length rounded
// up to a multiple of 64 bytes. Header integers: the code and the payload length little-endian,
// the tag and the status big-endian; payload integers are big-endian.
#pragma once

#include <cstdint>

namespace frame {

constexpr uint32_t kCodeOffset = 0;
constexpr uint32_t kTagOffset = 4;
constexpr uint32_t kPayloadLengthOffset = 8;  // the sent length less the header
constexpr uint32_t kStatusOffset = 12;        // 0 in a request; the card's status in a response
constexpr uint32_t kHeaderSize = 16;
constexpr uint32_t kPayloadOffset = kHeaderSize;
static_assert(kStatusOffset + 4 == kHeaderSize);

constexpr uint32_t CMD_TAG = 0x535;
constexpr uint32_t kRounding = 64;

// n rounded up to the next multiple of 64 (n itself when it is one).
constexpr uint32_t rounded_length(uint32_t n) {
    return n % kRounding == 0 ? n : n + kRounding - n % kRounding;
}
static_assert(rounded_length(16) == 64 && rounded_length(64) == 64 && rounded_length(117) == 128);

}  // namespace frame

// Every code the library sends.
enum CardCommandCode : uint32_t {
    CMD_QUERY_CARD_INFO = 0x720,
    CMD_VERIFY_PIN = 0x721,
    CMD_LOGIN_OUT = 0x722,
    CMD_SET_PIN = 0x723,
    CMD_EXPORT_PUBKEYS = 0x724,
    CMD_SM2_SIGN = 0x725,
    CMD_GET_CHALLENGE = 0x726,
    CMD_UNLOCK_CARD = 0x727,
    CMD_RESET_PIN = 0x728,
    CMD_GEN_WRAPPED_SK = 0x729,
    CMD_IMPORT_SK = 0x72A,
    CMD_FREE_SK = 0x72B,
    CMD_IMPORT_KEY = 0x72C,
    CMD_GEN_RANDOM = 0x72D,
    CMD_BIND_CUR_MAC = 0x72E,
    CMD_UNBIND_MAC = 0x72F,
    CMD_QUERY_BOUND_MAC = 0x730,
    CMD_ZERO_SET_CARD = 0x732,
    CMD_XTS_ENCRYPT = 0x733,
    CMD_XTS_DECRYPT = 0x734,
    CMD_BACKUP_XK = 0x735,
    CMD_RECOVERY_XK = 0x736,
    CMD_ACTIVE_DEV = 0x737,
    CMD_UNSUPPORT = 0x767,
};
