// The list of bound hosts: five slots of a MAC address each.
#include <cstring>

#include "sim/card/commands.h"
#include "sim/card/frame_format.h"

namespace sim::card {

uint32_t bind_mac(CardState& card, std::span<const uint8_t> request, std::span<uint8_t>) {
    const uint32_t status = check_logged_in(card);
    if (status != kOk) return status;
    if (card.bound) return kAlreadyBound;
    const uint8_t* mac = request.data() + wire::bind::kMac;
    for (const BindSlot& slot : card.bind_slots)
        if (holds_mac(slot, mac)) return kAlreadyBound;
    for (size_t i = 0; i < kBindSlots; ++i) {
        BindSlot& slot = card.bind_slots[i];
        if (slot.used) continue;
        slot.used = true;
        std::memcpy(slot.mac.data(), mac, kMacSize);
        // The logged-in host is the one that binds itself.
        card.bound = true;
        card.bind_index = static_cast<uint32_t>(i + 1);
        return kOk;
    }
    return kNoFreeBindSlot;
}

uint32_t unbind_mac(CardState& card, std::span<const uint8_t> request, std::span<uint8_t>) {
    const uint32_t status = check_logged_in(card);
    if (status != kOk) return status;
    const uint8_t* mac = request.data() + wire::bind::kMac;
    for (size_t i = 0; i < kBindSlots; ++i) {
        BindSlot& slot = card.bind_slots[i];
        if (!holds_mac(slot, mac)) continue;
        slot = BindSlot{};
        if (card.bound && card.bind_index == i + 1) {
            card.bound = false;
            card.bind_index = 0;
        }
        return kOk;
    }
    return kMacNotBound;
}

uint32_t query_binding(CardState& card, std::span<const uint8_t>, std::span<uint8_t> response) {
    const uint32_t status = check_logged_in(card);
    if (status != kOk) return status;
    uint32_t used = 0;
    for (const BindSlot& slot : card.bind_slots) {
        if (!slot.used) continue;
        std::memcpy(response.data() + wire::binding::kList + used * kMacSize, slot.mac.data(),
                    kMacSize);
        ++used;
    }
    const uint32_t left = card.bind_allowed > used ? card.bind_allowed - used : 0;
    response[wire::binding::kIndex] = static_cast<uint8_t>(card.bind_index);
    response[wire::binding::kCount] = static_cast<uint8_t>(used);
    response[wire::binding::kLeft] = static_cast<uint8_t>(left);
    return kOk;
}

}  // namespace sim::card
