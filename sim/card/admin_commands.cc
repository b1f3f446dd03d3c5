// Challenge, unlock, PIN reset and zeroise. The challenge is the last one issued and is used up by
// a success; the administrator signs the challenge and 16 extra bytes (with the 17-byte PIN field
// between them for a PIN reset) under the default user ID. A failed check leaves the challenge.
#include <cstring>

#include "crypto/random.h"
#include "crypto/secure_wipe.h"
#include "crypto/sm2.h"
#include "sim/card/commands.h"
#include "sim/card/frame_format.h"

namespace sim::card {
namespace {

bool challenge_matches(const CardState& card, const uint8_t* challenge) {
    return card.challenge &&
           std::memcmp(card.challenge->data(), challenge, card.challenge->size()) == 0;
}

// The message challenge || [PIN field] || extra, signed with the administrator's key.
bool admin_signed(const CardState& card, std::span<const uint8_t> request, size_t challenge,
                  std::span<const uint8_t> pin_field, size_t extra, size_t signature) {
    uint8_t message[kChallengeSize + wire::reset_pin::kPinSize + kExtraSize];
    size_t length = 0;
    std::memcpy(message, request.data() + challenge, kChallengeSize);
    length += kChallengeSize;
    if (!pin_field.empty()) std::memcpy(message + length, pin_field.data(), pin_field.size());
    length += pin_field.size();
    std::memcpy(message + length, request.data() + extra, kExtraSize);
    length += kExtraSize;
    const bool valid = sm2_verify(card.admin_public_key.data(), message,
                                  static_cast<uint32_t>(length), request.data() + signature) == 0;
    crypto_internal::secure_wipe(message, sizeof message);
    return valid;
}

// The checks of unlock and zeroise: the challenge, then the signature over challenge || extra.
bool challenge_signed(const CardState& card, std::span<const uint8_t> request) {
    return challenge_matches(card, request.data() + wire::admin::kChallenge) &&
           admin_signed(card, request, wire::admin::kChallenge, {}, wire::admin::kExtra,
                        wire::admin::kSignature);
}

}  // namespace

uint32_t issue_challenge(CardState& card, std::span<const uint8_t>, std::span<uint8_t> response) {
    std::array<uint8_t, kChallengeSize> drawn;
    if (get_random(drawn.data(), kChallengeSize) != 0) return kFailed;
    card.challenge = drawn;
    std::memcpy(response.data() + wire::challenge::kChallenge, drawn.data(), kChallengeSize);
    return kOk;
}

uint32_t unlock(CardState& card, std::span<const uint8_t> request, std::span<uint8_t>) {
    if (card.pin_tries != 0) return kFailed;
    if (!challenge_signed(card, request)) return kFailed;
    card.pin_tries = kPinTries;
    card.challenge.reset();
    return kOk;
}

uint32_t reset_pin(CardState& card, std::span<const uint8_t> request, std::span<uint8_t>) {
    std::span<const uint8_t> field =
        request.subspan(wire::reset_pin::kPin, wire::reset_pin::kPinSize);
    const auto* nul = static_cast<const uint8_t*>(std::memchr(field.data(), 0, field.size()));
    const size_t length = nul ? static_cast<size_t>(nul - field.data()) : field.size();
    if (!nul || length < kPinMinLength || length > kPinMaxLength) return kInvalidArgument;
    if (!challenge_matches(card, request.data() + wire::reset_pin::kChallenge)) return kFailed;
    if (!admin_signed(card, request, wire::reset_pin::kChallenge, field, wire::reset_pin::kExtra,
                      wire::reset_pin::kSignature))
        return kFailed;
    card.pin.assign(reinterpret_cast<const char*>(field.data()), length);
    card.pin_tries = kPinTries;
    card.logged_in = false;
    card.challenge.reset();
    return kOk;
}

uint32_t zeroise(CardState& card, std::span<const uint8_t> request, std::span<uint8_t>) {
    if (!card.logged_in) return kNotLoggedIn;
    if (!challenge_signed(card, request)) return kFailed;
    CardState fresh;
    if (!new_identity(fresh)) return kFailed;
    fresh.admin_public_key = card.admin_public_key;
    fresh.activated = card.activated;
    card = fresh;
    return kOk;
}

}  // namespace sim::card
