// Card information, PIN and login.
#include <algorithm>
#include <cstring>

#include "base/byte_access.h"
#include "crypto/constant_time.h"
#include "sim/card/commands.h"
#include "sim/card/frame_format.h"

namespace sim::card {
namespace {

bool pin_length_ok(uint32_t length) {
    return length >= kPinMinLength && length <= kPinMaxLength;
}

// The first length bytes of a PIN field against the card's PIN; length is public (it travels in
// the frame), the PIN's bytes are compared without a branch.
bool pin_matches(const CardState& card, uint32_t length, const uint8_t* field) {
    if (length != card.pin.size()) return false;
    return crypto_internal::ct_bytes_eq_mask(
               field, reinterpret_cast<const uint8_t*>(card.pin.data()), length) != 0;
}

// A wrong PIN costs a try; the tries left go back with status 20.
uint32_t wrong_pin(CardState& card, std::span<uint8_t> response) {
    if (card.pin_tries > 0) --card.pin_tries;
    bytes::store_be32(response.data() + wire::kTriesLeft, card.pin_tries);
    return kWrongPin;
}

}  // namespace

uint32_t query_card_info(CardState& card, std::span<const uint8_t>, std::span<uint8_t> response) {
    uint8_t state = 0;
    if (card.logged_in) state |= kInfoLoggedIn;
    if (card.volume_key) state |= kInfoVolumeKey;
    if (card.pin_tries == 0) state |= kInfoLocked;
    if (card.bound) state |= kInfoBound;
    response[wire::card_info::kState] = state;
    std::memcpy(response.data() + wire::card_info::kSerial, card.serial.data(),
                wire::card_info::kSerialSize);
    return kOk;
}

uint32_t verify_pin(CardState& card, std::span<const uint8_t> request,
                    std::span<uint8_t> response) {
    const uint32_t length = bytes::load_be32(request.data() + wire::verify_pin::kLength);
    if (!pin_length_ok(length)) return kInvalidArgument;
    if (card.pin_tries == 0) return kLocked;
    if (card.logged_in) return kAlreadyLoggedIn;
    if (!pin_matches(card, length, request.data() + wire::verify_pin::kPin))
        return wrong_pin(card, response);
    card.pin_tries = kPinTries;
    card.logged_in = true;
    // The host is bound when its MAC is in one of the first bind_allowed slots.
    const uint8_t* mac = request.data() + wire::verify_pin::kMac;
    const size_t allowed = std::min<size_t>(card.bind_allowed, kBindSlots);
    for (size_t i = 0; i < allowed; ++i) {
        if (holds_mac(card.bind_slots[i], mac)) {
            card.bound = true;
            card.bind_index = static_cast<uint32_t>(i + 1);
            return kOk;
        }
    }
    card.bound = false;
    card.bind_index = 0;
    return kPinRightHostNotBound;
}

uint32_t logout(CardState& card, std::span<const uint8_t>, std::span<uint8_t>) {
    if (!card.logged_in) return kNotLoggedIn;
    card.logged_in = false;
    card.bound = false;
    card.bind_index = 0;
    return kOk;
}

uint32_t set_pin(CardState& card, std::span<const uint8_t> request, std::span<uint8_t> response) {
    const uint32_t old_length = bytes::load_be32(request.data() + wire::set_pin::kOldLength);
    const uint32_t new_length = bytes::load_be32(request.data() + wire::set_pin::kNewLength);
    if (!pin_length_ok(old_length) || !pin_length_ok(new_length)) return kInvalidArgument;
    const uint32_t status = check_logged_in_and_bound(card);
    if (status != kOk) return status;
    if (!pin_matches(card, old_length, request.data() + wire::set_pin::kOldPin))
        return wrong_pin(card, response);
    card.pin_tries = kPinTries;
    card.pin.assign(reinterpret_cast<const char*>(request.data() + wire::set_pin::kNewPin),
                    new_length);
    return kOk;
}

}  // namespace sim::card
