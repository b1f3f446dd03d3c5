// Card information, PIN, login and the card's key pairs.
#include <cstring>

#include "base/byte_access.h"
#include "card/card_api.h"
#include "card/exchange/command_frame.h"
#include "card/exchange/exchange.h"
#include "card/exchange/failures.h"
#include "crypto/hex.h"
#include "crypto/sm2.h"
#include "crypto/sm3.h"

namespace {

using frame::kHeaderSize;
using frame::kPayloadOffset;

constexpr uint32_t PIN_FIELD_LENGTH = 16;  // in frames: the PIN's characters, then zeros

// 0x720: the state byte and the 16-byte serial.
constexpr uint32_t kInfoStateOffset = kPayloadOffset;
constexpr uint32_t kInfoSerialOffset = 73;
constexpr uint32_t kInfoSerialSize = 16;
constexpr CardCommand kQueryCardInfo = {CMD_QUERY_CARD_INFO, kHeaderSize, 117};
static_assert(kInfoSerialOffset + kInfoSerialSize <= kQueryCardInfo.response_length);
static_assert(CARD_INFO_SERIAL + 2 * kInfoSerialSize + 1 == CARD_INFO_SERIAL_LENGTH);

// 0x721: PIN length, PIN field, this host's MAC address.
constexpr uint32_t kVerifyLengthOffset = kPayloadOffset;
constexpr uint32_t kVerifyPinOffset = 20;
constexpr uint32_t kVerifyMacOffset = 36;
constexpr CardCommand kVerifyPin = {CMD_VERIFY_PIN, 42, 20};
static_assert(kVerifyPinOffset + PIN_FIELD_LENGTH == kVerifyMacOffset);
static_assert(kVerifyMacOffset + MAC_ADDRESS_SIZE == kVerifyPin.request_length);

// 0x723: old length, old PIN field, new length, new PIN field.
constexpr uint32_t kSetOldLengthOffset = kPayloadOffset;
constexpr uint32_t kSetOldPinOffset = 20;
constexpr uint32_t kSetNewLengthOffset = 36;
constexpr uint32_t kSetNewPinOffset = 40;
constexpr CardCommand kSetPin = {CMD_SET_PIN, 56, 20};
static_assert(kSetOldPinOffset + PIN_FIELD_LENGTH == kSetNewLengthOffset);
static_assert(kSetNewPinOffset + PIN_FIELD_LENGTH == kSetPin.request_length);

constexpr CardCommand kLoginOut = {CMD_LOGIN_OUT, kHeaderSize, kHeaderSize};

// 0x724: the signing key, then the encryption key.
constexpr uint32_t kSignKeyOffset = kPayloadOffset;
constexpr uint32_t kEncKeyOffset = kSignKeyOffset + SM2_PUBLIC_KEY_SIZE;
constexpr CardCommand kExportPubkeys = {CMD_EXPORT_PUBKEYS, kHeaderSize,
                                        kEncKeyOffset + SM2_PUBLIC_KEY_SIZE};
static_assert(kExportPubkeys.response_length == 144);

// 0x725: the digest in, the signature out.
constexpr uint32_t kDigestOffset = kPayloadOffset;
constexpr uint32_t kSignatureOffset = kPayloadOffset;
constexpr CardCommand kSm2Sign = {CMD_SM2_SIGN, kDigestOffset + SM3_DIGEST_SIZE,
                                  kSignatureOffset + SM2_SIGNATURE_SIZE};
static_assert(kSm2Sign.request_length == 48 && kSm2Sign.response_length == 80);

// 0x72C: the key material as given.
constexpr uint32_t kImportKeyOffset = kPayloadOffset;
constexpr CardCommand kImportKey = {CMD_IMPORT_KEY, kImportKeyOffset + IMPORT_KEY_SIZE,
                                    kHeaderSize};
static_assert(kImportKey.request_length == 144);

bool pin_length_ok(uint32_t length) {
    return length >= PIN_MIN_LENGTH && length <= PIN_MAX_LENGTH;
}

// The PIN's characters up to its NUL, at most 16; the zeroed frame supplies the padding.
void write_pin_field(uint8_t* field, const uint8_t* pin) {
    const size_t length = strnlen(reinterpret_cast<const char*>(pin), PIN_FIELD_LENGTH);
    std::memcpy(field, pin, length);
}

}  // namespace

KELVANE_EXPORT uint32_t QeltQueryCardInfo(uint8_t* info) try {
    if (!info) return invalid_argument(LOG_SITE);
    return card_exchange(LOG_SITE, kQueryCardInfo, kNoPayload, [&](const uint8_t* response) {
        std::memset(info, 0, CARD_INFO_SIZE);
        bytes::store_le32(info + CARD_INFO_SERIAL_LENGTH, 2 * kInfoSerialSize);
        bytes_to_hex(response + kInfoSerialOffset, kInfoSerialSize,
                     reinterpret_cast<char*>(info + CARD_INFO_SERIAL));
        info[CARD_INFO_STATE] = response[kInfoStateOffset];
    });
} catch (...) {
    return out_of_memory(LOG_SITE);
}

KELVANE_EXPORT uint32_t QeltVerifyPinCode(const uint8_t* pin, uint32_t length,
                                          uint32_t* tries) try {
    if (!pin || !pin_length_ok(length)) return invalid_argument(LOG_SITE);
    const LogSite site = LOG_SITE;
    return card_exchange(
        site, kVerifyPin,
        [&](uint8_t* request) {
            bytes::store_be32(request + kVerifyLengthOffset, length);
            write_pin_field(request + kVerifyPinOffset, pin);
            // Without an address the frame goes out with six zero bytes.
            if (get_mac(request + kVerifyMacOffset) != 0) LOG_FAILURE(site, "get_mac fail");
        },
        kNoOutputs, tries);
} catch (...) {
    return out_of_memory(LOG_SITE);
}

KELVANE_EXPORT uint32_t QeltCardLoginOut() try {
    return card_exchange(LOG_SITE, kLoginOut, kNoPayload, kNoOutputs);
} catch (...) {
    return out_of_memory(LOG_SITE);
}

KELVANE_EXPORT uint32_t QeltSetPinCode(const uint8_t* old_pin, uint32_t old_length,
                                       const uint8_t* new_pin, uint32_t new_length,
                                       uint32_t* tries) try {
    if (!old_pin || !new_pin || !pin_length_ok(old_length) || !pin_length_ok(new_length))
        return invalid_argument(LOG_SITE);
    return card_exchange(
        LOG_SITE, kSetPin,
        [&](uint8_t* request) {
            bytes::store_be32(request + kSetOldLengthOffset, old_length);
            write_pin_field(request + kSetOldPinOffset, old_pin);
            bytes::store_be32(request + kSetNewLengthOffset, new_length);
            write_pin_field(request + kSetNewPinOffset, new_pin);
        },
        kNoOutputs, tries);
} catch (...) {
    return out_of_memory(LOG_SITE);
}

KELVANE_EXPORT uint32_t QeltExportPubkeys(uint8_t* sign_public_key, uint8_t* enc_public_key) try {
    if (!sign_public_key || !enc_public_key) return invalid_argument(LOG_SITE);
    return card_exchange(LOG_SITE, kExportPubkeys, kNoPayload, [&](const uint8_t* response) {
        std::memcpy(sign_public_key, response + kSignKeyOffset, SM2_PUBLIC_KEY_SIZE);
        std::memcpy(enc_public_key, response + kEncKeyOffset, SM2_PUBLIC_KEY_SIZE);
    });
} catch (...) {
    return out_of_memory(LOG_SITE);
}

KELVANE_EXPORT uint32_t QeltSm2SignIn(const uint8_t* message, uint32_t length,
                                      uint8_t* signature) try {
    if (!message || !signature || length == 0) return invalid_argument(LOG_SITE);
    // Its own exchange, finished before this one takes the lock.
    uint8_t sign_public_key[SM2_PUBLIC_KEY_SIZE] = {};
    uint8_t enc_public_key[SM2_PUBLIC_KEY_SIZE] = {};
    const uint32_t exported = QeltExportPubkeys(sign_public_key, enc_public_key);
    if (exported != 0) return exported;
    // Only the digest goes to the card.
    uint8_t digest[SM3_DIGEST_SIZE];
    sm2_msg_digest(sign_public_key, message, length, digest);
    return card_exchange(
        LOG_SITE, kSm2Sign,
        [&](uint8_t* request) { std::memcpy(request + kDigestOffset, digest, sizeof digest); },
        [&](const uint8_t* response) {
            std::memcpy(signature, response + kSignatureOffset, SM2_SIGNATURE_SIZE);
        });
} catch (...) {
    return out_of_memory(LOG_SITE);
}

KELVANE_EXPORT uint32_t QeltImportKey(const uint8_t* key, uint32_t length) try {
    if (!key || length != IMPORT_KEY_SIZE) return invalid_argument(LOG_SITE);
    return card_exchange(
        LOG_SITE, kImportKey,
        [&](uint8_t* request) { std::memcpy(request + kImportKeyOffset, key, IMPORT_KEY_SIZE); },
        kNoOutputs);
} catch (...) {
    return out_of_memory(LOG_SITE);
}
