// Key slots 1 to 128, each holding a 32-byte SM4-XTS key: made on the card and handed out wrapped
// under the host's public key, or unwrapped with the card's encryption key; used for XTS under a
// tweak; freed. Making and importing a key need a bound login; a slot's key serves whoever
// names the slot, until it is freed or the power goes.
#include <cstring>

#include "base/byte_access.h"
#include "crypto/random.h"
#include "crypto/secure_wipe.h"
#include "crypto/sm2_encrypt.h"
#include "crypto/sm4_xts.h"
#include "sim/card/commands.h"
#include "sim/card/frame_format.h"

namespace sim::card {
namespace {

// The lowest free slot's number, or 0.
uint32_t free_slot(const CardState& card) {
    for (size_t i = 0; i < kKeySlots; ++i)
        if (!card.key_slots[i]) return static_cast<uint32_t>(i + 1);
    return 0;
}

// A key that a bound login brings into the lowest free slot: produce makes it (and the other
// outputs) or fails; the slot's number goes to slot_field.
template <typename Produce>
uint32_t take_new_key(CardState& card, uint8_t* slot_field, Produce produce) {
    const uint32_t status = check_logged_in_and_bound(card);
    if (status != kOk) return status;
    const uint32_t slot = free_slot(card);
    if (slot == 0) return kNoFreeKeySlot;
    Key32 key;
    const bool made = produce(key);
    if (made) {
        card.key_slots[slot - 1] = key;
        bytes::store_be32(slot_field, slot);
    }
    crypto_internal::secure_wipe(key.data(), key.size());
    return made ? kOk : kFailed;
}

uint32_t xts(CardState& card, std::span<const uint8_t> request, std::span<uint8_t> response,
             bool encrypt) {
    const uint32_t length = bytes::load_be32(request.data() + wire::xts::kLength);
    if (!xts_length_ok(length)) return kInvalidArgument;
    const Key32* key = slot_key(card, bytes::load_be32(request.data() + wire::xts::kSlot));
    if (!key) return kBadKeySlot;
    sm4_xts(key->data(), request.data() + wire::xts::kTweak, request.data() + wire::xts::kData,
            length, response.data() + wire::xts::kResult, encrypt ? 1 : 0);
    bytes::store_be32(response.data() + wire::xts::kCount, length);
    return kOk;
}

}  // namespace

uint32_t make_wrapped_key(CardState& card, std::span<const uint8_t> request,
                          std::span<uint8_t> response) {
    return take_new_key(card, response.data() + wire::make_key::kSlot, [&](Key32& key) {
        uint8_t* wrapped = response.data() + wire::make_key::kWrapped;
        if (get_random(key.data(), kXtsKeySize) == 0 &&
            sm2_encrypt(request.data() + wire::make_key::kPublicKey, key.data(), kXtsKeySize,
                        wrapped, nullptr) == 0)
            return true;
        std::memset(wrapped, 0, kWrappedKeySize);
        return false;
    });
}

uint32_t import_wrapped_key(CardState& card, std::span<const uint8_t> request,
                            std::span<uint8_t> response) {
    return take_new_key(card, response.data() + wire::import_key::kSlot, [&](Key32& key) {
        uint32_t length = 0;
        return sm2_decrypt(card.encryption.private_key.data(),
                           request.data() + wire::import_key::kWrapped, kWrappedKeySize, key.data(),
                           &length) == 0 &&
               length == kXtsKeySize;
    });
}

uint32_t free_key_slot(CardState& card, std::span<const uint8_t> request, std::span<uint8_t>) {
    const uint32_t slot = bytes::load_be32(request.data() + wire::free_slot::kSlot);
    if (!slot_key(card, slot)) return kBadKeySlot;
    auto& held = card.key_slots[slot - 1];
    crypto_internal::secure_wipe(held->data(), held->size());
    held.reset();
    return kOk;
}

uint32_t xts_encrypt(CardState& card, std::span<const uint8_t> request,
                     std::span<uint8_t> response) {
    return xts(card, request, response, true);
}

uint32_t xts_decrypt(CardState& card, std::span<const uint8_t> request,
                     std::span<uint8_t> response) {
    return xts(card, request, response, false);
}

}  // namespace sim::card
