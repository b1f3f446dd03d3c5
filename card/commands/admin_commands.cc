// Challenge, unlock, PIN reset and zeroise: the host passes the challenge, the extra bytes, the
// signature and the new PIN field through; what is checked, the card checks.
#include <cstring>

#include "card/card_api.h"
#include "card/exchange/command_frame.h"
#include "card/exchange/exchange.h"
#include "card/exchange/failures.h"
#include "crypto/sm2.h"

namespace {

using frame::kHeaderSize;
using frame::kPayloadOffset;

constexpr uint32_t kChallengeOffset = kPayloadOffset;
constexpr CardCommand kGetChallenge = {CMD_GET_CHALLENGE, kHeaderSize,
                                       kChallengeOffset + CHALLENGE_SIZE};

// 0x727 and 0x732: challenge, extra, signature.
constexpr uint32_t kExtraOffset = kChallengeOffset + CHALLENGE_SIZE;
constexpr uint32_t kSignatureOffset = kExtraOffset + EXTRA_SIZE;
constexpr uint32_t kSignedRequestLength = kSignatureOffset + SM2_SIGNATURE_SIZE;
static_assert(kSignedRequestLength == 112);

// 0x728: challenge, the 17-byte PIN field, extra, signature; no alignment.
constexpr uint32_t kResetPinFieldOffset = kChallengeOffset + CHALLENGE_SIZE;
constexpr uint32_t kResetExtraOffset = kResetPinFieldOffset + PIN_FIELD_SIZE;
constexpr uint32_t kResetSignatureOffset = kResetExtraOffset + EXTRA_SIZE;
constexpr CardCommand kResetPin = {CMD_RESET_PIN, kResetSignatureOffset + SM2_SIGNATURE_SIZE,
                                   kHeaderSize};
static_assert(kResetExtraOffset == 49 && kResetPin.request_length == 129);

// Unlock and zeroise differ in their code alone.
uint32_t signed_challenge_command(LogSite site, uint32_t code, const uint8_t* challenge,
                                  const uint8_t* extra, const uint8_t* signature) {
    const CardCommand command = {code, kSignedRequestLength, kHeaderSize};
    return card_exchange(
        site, command,
        [&](uint8_t* request) {
            std::memcpy(request + kChallengeOffset, challenge, CHALLENGE_SIZE);
            std::memcpy(request + kExtraOffset, extra, EXTRA_SIZE);
            std::memcpy(request + kSignatureOffset, signature, SM2_SIGNATURE_SIZE);
        },
        kNoOutputs);
}

}  // namespace

KELVANE_EXPORT uint32_t QeltGetChallengeCode(uint8_t* challenge) try {
    if (!challenge) return invalid_argument(LOG_SITE);
    return card_exchange(LOG_SITE, kGetChallenge, kNoPayload, [&](const uint8_t* response) {
        std::memcpy(challenge, response + kChallengeOffset, CHALLENGE_SIZE);
    });
} catch (...) {
    return out_of_memory(LOG_SITE);
}

KELVANE_EXPORT uint32_t QeltUnlockCard(const uint8_t* challenge, const uint8_t* extra,
                                       const uint8_t* signature) try {
    if (!challenge || !extra || !signature) return invalid_argument(LOG_SITE);
    return signed_challenge_command(LOG_SITE, CMD_UNLOCK_CARD, challenge, extra, signature);
} catch (...) {
    return out_of_memory(LOG_SITE);
}

KELVANE_EXPORT uint32_t QeltZeroSetCard(const uint8_t* challenge, const uint8_t* extra,
                                        const uint8_t* signature) try {
    if (!challenge || !extra || !signature) return invalid_argument(LOG_SITE);
    return signed_challenge_command(LOG_SITE, CMD_ZERO_SET_CARD, challenge, extra, signature);
} catch (...) {
    return out_of_memory(LOG_SITE);
}

KELVANE_EXPORT uint32_t QeltResetPin(const uint8_t* challenge, const uint8_t* extra,
                                     const uint8_t* newPin, const uint8_t* signature) try {
    if (!challenge || !extra || !newPin || !signature) return invalid_argument(LOG_SITE);
    // The PIN's length up to its NUL, looked for only within the 17-byte field.
    const void* nul = std::memchr(newPin, 0, PIN_FIELD_SIZE);
    const size_t length =
        nul ? static_cast<size_t>(static_cast<const uint8_t*>(nul) - newPin) : PIN_FIELD_SIZE;
    if (length < PIN_MIN_LENGTH || length > PIN_MAX_LENGTH) return invalid_argument(LOG_SITE);
    return card_exchange(
        LOG_SITE, kResetPin,
        [&](uint8_t* request) {
            std::memcpy(request + kChallengeOffset, challenge, CHALLENGE_SIZE);
            std::memcpy(request + kResetPinFieldOffset, newPin, PIN_FIELD_SIZE);
            std::memcpy(request + kResetExtraOffset, extra, EXTRA_SIZE);
            std::memcpy(request + kResetSignatureOffset, signature, SM2_SIGNATURE_SIZE);
        },
        kNoOutputs);
} catch (...) {
    return out_of_memory(LOG_SITE);
}
