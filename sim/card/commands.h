// The card's commands: one handler per command code, and the table that gives each code its
// request and response lengths.
#pragma once

#include <cstdint>
#include <cstring>
#include <span>

#include "sim/card/card_controls.h"

namespace sim::card {

// Acts on one command frame. request is the whole frame, at least the command's request length;
// response is the whole answer, zeroed, at least its rounded response length; the header is not
// the handler's. Returns the status word; outputs are written only with status 0 (and the tries
// with status 20).
using Handler = uint32_t (*)(CardState& card, std::span<const uint8_t> request,
                             std::span<uint8_t> response);

struct Lengths {
    uint32_t request;   // before rounding
    uint32_t response;  // before rounding
};

struct Command {
    uint32_t code;
    Lengths lengths;
    // Commands that carry data: the lengths for this request (its data-length field read at an
    // offset below 64), replacing the fixed ones; a length out of range gives the fixed ones.
    Lengths (*lengths_for)(std::span<const uint8_t> request);
    Handler handler;
};

// The command with this code, or null.
const Command* find_command(uint32_t code);

// Conditions that most commands check first, in the software card's order: the lock, then the
// login (then the binding).
inline uint32_t check_logged_in(const CardState& card) {
    if (card.pin_tries == 0) return kLocked;
    return card.logged_in ? kOk : kNotLoggedIn;
}
inline uint32_t check_logged_in_and_bound(const CardState& card) {
    const uint32_t status = check_logged_in(card);
    if (status != kOk) return status;
    return card.bound ? kOk : kNotBound;
}

// Whether a bind slot holds the MAC at mac.
inline bool holds_mac(const BindSlot& slot, const uint8_t* mac) {
    return slot.used && std::memcmp(slot.mac.data(), mac, slot.mac.size()) == 0;
}

// The key of a slot named in a frame (1 to 128), or null when it holds none.
inline const Key32* slot_key(const CardState& card, uint32_t slot) {
    if (slot == 0 || slot > kKeySlots || !card.key_slots[slot - 1]) return nullptr;
    return &*card.key_slots[slot - 1];
}

// A new serial and new key pairs from the random source (card_state.cc); false when it fails,
// with card unchanged.
bool new_identity(CardState& card);

// Handlers, by file.
// pin_commands.cc
uint32_t query_card_info(CardState&, std::span<const uint8_t>, std::span<uint8_t>);
uint32_t verify_pin(CardState&, std::span<const uint8_t>, std::span<uint8_t>);
uint32_t logout(CardState&, std::span<const uint8_t>, std::span<uint8_t>);
uint32_t set_pin(CardState&, std::span<const uint8_t>, std::span<uint8_t>);
// key_pair_commands.cc
uint32_t export_public_keys(CardState&, std::span<const uint8_t>, std::span<uint8_t>);
uint32_t sign_digest(CardState&, std::span<const uint8_t>, std::span<uint8_t>);
uint32_t import_volume_key(CardState&, std::span<const uint8_t>, std::span<uint8_t>);
// admin_commands.cc
uint32_t issue_challenge(CardState&, std::span<const uint8_t>, std::span<uint8_t>);
uint32_t unlock(CardState&, std::span<const uint8_t>, std::span<uint8_t>);
uint32_t reset_pin(CardState&, std::span<const uint8_t>, std::span<uint8_t>);
uint32_t zeroise(CardState&, std::span<const uint8_t>, std::span<uint8_t>);
// binding_commands.cc
uint32_t bind_mac(CardState&, std::span<const uint8_t>, std::span<uint8_t>);
uint32_t unbind_mac(CardState&, std::span<const uint8_t>, std::span<uint8_t>);
uint32_t query_binding(CardState&, std::span<const uint8_t>, std::span<uint8_t>);
// key_slot_commands.cc
uint32_t make_wrapped_key(CardState&, std::span<const uint8_t>, std::span<uint8_t>);
uint32_t import_wrapped_key(CardState&, std::span<const uint8_t>, std::span<uint8_t>);
uint32_t free_key_slot(CardState&, std::span<const uint8_t>, std::span<uint8_t>);
uint32_t xts_encrypt(CardState&, std::span<const uint8_t>, std::span<uint8_t>);
uint32_t xts_decrypt(CardState&, std::span<const uint8_t>, std::span<uint8_t>);
// backup_commands.cc
uint32_t backup_keys(CardState&, std::span<const uint8_t>, std::span<uint8_t>);
uint32_t recover_keys(CardState&, std::span<const uint8_t>, std::span<uint8_t>);
// device_commands.cc
uint32_t random_bytes(CardState&, std::span<const uint8_t>, std::span<uint8_t>);
uint32_t activate(CardState&, std::span<const uint8_t>, std::span<uint8_t>);

}  // namespace sim::card
