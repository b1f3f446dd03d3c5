#include "softcard/binding.h"

#include <cstring>

#include "card/commands/mac.h"
#include "softcard/exports.h"
#include "softcard/result.h"
#include "softcard/session.h"
#include "softcard/wipe.h"

namespace {

bool holds(const BindSlot& slot, const uint8_t* mac) {
    return slot.used == 1 && std::memcmp(slot.mac, mac, MAC_ADDRESS_SIZE) == 0;
}

// The checks every bind-list export starts with: the card state, then the login.
uint32_t check_usable_and_logged_in() {
    const uint32_t state = CheckCardState();
    if (state != SC_OK) return state;
    return card_session().loggedIn ? SC_OK : SC_NOT_LOGGED_IN;
}

}  // namespace

uint32_t FindBoundMac(const uint8_t* mac, uint32_t* index) {
    *index = 0;
    CardRecord record;
    WipeOnExit wipe(record);
    const uint32_t result = read_card_record(&record);
    if (result != SC_OK) return result;
    const uint32_t allowed =
        record.bind_allowed < 0 ? 0 : static_cast<uint32_t>(record.bind_allowed);
    for (uint32_t i = 0; i < BIND_SLOT_COUNT && i < allowed; ++i) {
        if (holds(record.slots[i], mac)) {
            *index = i + 1;
            return SC_OK;
        }
    }
    return SC_NOT_BOUND;
}

uint32_t AddBoundMac(const uint8_t* mac) {
    LockedCardRecord locked;
    if (locked.result() != SC_OK) return locked.result();
    CardRecord& record = locked.record();
    for (const BindSlot& slot : record.slots)
        if (holds(slot, mac)) return SC_ALREADY_BOUND;
    for (uint32_t i = 0; i < BIND_SLOT_COUNT; ++i) {
        BindSlot& slot = record.slots[i];
        if (slot.used == 1) continue;
        slot.used = 1;
        std::memcpy(slot.mac, mac, MAC_ADDRESS_SIZE);
        const uint32_t result = write_card_record(record);
        if (result != SC_OK) return result;
        CardSession& session = card_session();
        if (session.loggedIn == 1 && session.bound == 0) {
            session.bound = 1;
            session.curBindIndex = i + 1;
        }
        return SC_OK;
    }
    return SC_NO_FREE_SLOT;
}

uint32_t RemoveBoundMac(const uint8_t* mac) {
    LockedCardRecord locked;
    if (locked.result() != SC_OK) return locked.result();
    CardRecord& record = locked.record();
    for (uint32_t i = 0; i < BIND_SLOT_COUNT; ++i) {
        BindSlot& slot = record.slots[i];
        if (!holds(slot, mac)) continue;
        slot = BindSlot{};
        const uint32_t result = write_card_record(record);
        if (result != SC_OK) return result;
        CardSession& session = card_session();
        if (session.loggedIn == 1 && session.bound == 1 && session.curBindIndex == i + 1) {
            session.bound = 0;
            session.curBindIndex = 0;
        }
        return SC_OK;
    }
    return SC_MAC_NOT_LISTED;
}

KELVANE_EXPORT uint32_t QeltBindCurMac() try {
    const uint32_t checked = CheckCardState();
    if (checked != SC_OK) return checked;
    CardSession& session = card_session();
    if (!session.loggedIn) return SC_NOT_LOGGED_IN;
    if (session.bound) return SC_ALREADY_BOUND;
    uint8_t mac[MAC_ADDRESS_SIZE];
    if (GetMac(mac) != 0) return SC_MAC_UNREADABLE;
    return AddBoundMac(mac);
} catch (...) {
    return SC_FAIL;
}

KELVANE_EXPORT uint32_t QeltUnbindMac(const uint8_t* mac) try {
    if (!mac) return SC_ARG;
    const uint32_t checked = check_usable_and_logged_in();
    if (checked != SC_OK) return checked;
    return RemoveBoundMac(mac);
} catch (...) {
    return SC_FAIL;
}

KELVANE_EXPORT uint32_t QeltQueryBindedMac(uint32_t* curBindIndex, uint32_t* hasBindCnt,
                                           uint32_t* leftBindCnt, uint8_t* hasBindMac) try {
    if (!curBindIndex || !hasBindCnt || !leftBindCnt || !hasBindMac) return SC_ARG;
    const uint32_t checked = check_usable_and_logged_in();
    if (checked != SC_OK) return checked;
    CardRecord record;
    WipeOnExit wipe(record);
    const uint32_t result = read_card_record(&record);
    if (result != SC_OK) return result;
    uint32_t used = 0;
    for (const BindSlot& slot : record.slots) {
        if (slot.used != 1) continue;
        std::memcpy(hasBindMac + used * MAC_ADDRESS_SIZE, slot.mac, MAC_ADDRESS_SIZE);
        ++used;
    }
    const int64_t left = static_cast<int64_t>(record.bind_allowed) - used;
    *curBindIndex = card_session().curBindIndex;
    *hasBindCnt = used;
    *leftBindCnt = left > 0 ? static_cast<uint32_t>(left) : 0;
    return SC_OK;
} catch (...) {
    return SC_FAIL;
}
