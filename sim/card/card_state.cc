// Cards as values: key pairs, new identities, and what the power keeps.
#include <cstdlib>

#include "crypto/random.h"
#include "crypto/secure_wipe.h"
#include "crypto/sm2.h"
#include "sim/card/card_controls.h"
#include "sim/card/commands.h"

namespace sim::card {
namespace {

bool draw_key_pair(KeyPair& pair) {
    if (sm2_gen_private_key(pair.private_key.data()) != 0) return false;
    sm2_pubkey_from_private(pair.private_key.data(), pair.public_key.data());
    return true;
}

}  // namespace

KeyPair key_pair(const Key32& private_key) {
    KeyPair pair;
    pair.private_key = private_key;
    sm2_pubkey_from_private(pair.private_key.data(), pair.public_key.data());
    return pair;
}

KeyPair random_key_pair() {
    KeyPair pair;
    if (!draw_key_pair(pair)) std::abort();  // tests cannot go on without random bytes
    return pair;
}

void CardState::power_off() {
    logged_in = false;
    bound = false;
    bind_index = 0;
    challenge.reset();
    for (auto& slot : key_slots) {
        if (slot) crypto_internal::secure_wipe(slot->data(), slot->size());
        slot.reset();
    }
}

CardState random_card() {
    CardState card;
    if (!new_identity(card)) std::abort();
    card.admin_public_key = random_key_pair().public_key;
    return card;
}

bool new_identity(CardState& card) {
    std::array<uint8_t, 16> serial;
    KeyPair signing, encryption;
    if (get_random(serial.data(), serial.size()) != 0 || !draw_key_pair(signing) ||
        !draw_key_pair(encryption))
        return false;
    card.serial = serial;
    card.signing = signing;
    card.encryption = encryption;
    return true;
}

}  // namespace sim::card
