// Card information, PIN and login.
#include <cstring>

#include "base/byte_access.h"
#include "card/commands/mac.h"
#include "crypto/hex.h"
#include "softcard/binding.h"
#include "softcard/exports.h"
#include "softcard/result.h"
#include "softcard/session.h"
#include "softcard/wipe.h"

namespace {

bool pin_length_ok(int32_t length) {
    return length >= PIN_MIN_LENGTH && length <= PIN_MAX_LENGTH;
}

}  // namespace

KELVANE_EXPORT uint32_t QeltQueryCardInfo(uint8_t* info) try {
    if (!info) return SC_ARG;
    CardRecord record;
    WipeOnExit wipe(record);
    const uint32_t result = read_card_record(&record);
    if (result != SC_OK) return result;
    std::memset(info, 0, CARD_INFO_SIZE);
    bytes_to_hex(record.seed, STORE_SEED_SIZE, reinterpret_cast<char*>(info + CARD_INFO_SERIAL));
    bytes::store_le32(info + CARD_INFO_SERIAL_LENGTH, 2 * STORE_SEED_SIZE);
    const CardSession& session = card_session();
    uint8_t status = 0;
    if (session.loggedIn) status |= CARD_STATUS_LOGGED_IN;
    if (record.key_present != 0) status |= CARD_STATUS_KEY_STORED;
    if (record_locked(record)) status |= CARD_STATUS_LOCKED;
    if (session.bound) status |= CARD_STATUS_BOUND;
    info[CARD_INFO_STATE] = status;
    return SC_OK;
} catch (...) {
    return SC_FAIL;
}

KELVANE_EXPORT uint32_t QeltVerifyPinCode(const uint8_t* pin, int32_t length,
                                          uint32_t* tries_left) try {
    if (!pin || !tries_left || !pin_length_ok(length)) return SC_ARG;
    CardSession& session = card_session();
    {
        // The lock's state and the PIN's count as one step: a locked card counts no more.
        StoreLock lock;
        if (!lock.held()) return SC_STORE;
        const uint32_t state = CheckCardState();
        if (state != SC_OK) return state;
        if (session.loggedIn) return SC_ALREADY_LOGGED_IN;
        const uint32_t checked = CheckPin(pin, length, tries_left);
        if (checked != SC_OK) return checked;
    }
    session.loggedIn = 1;
    uint8_t mac[MAC_ADDRESS_SIZE];
    uint32_t index = 0;
    if (GetMac(mac) == 0 && FindBoundMac(mac, &index) == SC_OK) {
        session.bound = 1;
        session.curBindIndex = index;
        return SC_OK;
    }
    session.bound = 0;
    session.curBindIndex = 0;
    return SC_PIN_OK_NOT_BOUND;
} catch (...) {
    return SC_FAIL;
}

KELVANE_EXPORT uint32_t QeltSetPinCode(const uint8_t* old_pin, int32_t old_length,
                                       const uint8_t* new_pin, int32_t new_length,
                                       uint32_t* tries_left) try {
    if (!old_pin || !new_pin || !tries_left || !pin_length_ok(old_length) ||
        !pin_length_ok(new_length))
        return SC_ARG;
    StoreLock lock;
    if (!lock.held()) return SC_STORE;
    const uint32_t state = CheckCardState();
    if (state != SC_OK) return state;
    const CardSession& session = card_session();
    if (!session.loggedIn) return SC_NOT_LOGGED_IN;
    if (!session.bound) return SC_NOT_BOUND;
    uint32_t result = CheckPin(old_pin, old_length, tries_left);
    if (result != SC_OK) return result;
    CardRecord record;
    WipeOnExit wipe(record);
    result = read_card_record(&record);
    if (result != SC_OK) return result;
    record.pin_length = new_length;
    std::memset(record.pin, 0, sizeof record.pin);
    std::memcpy(record.pin, new_pin, static_cast<size_t>(new_length));
    return write_card_record(record);
} catch (...) {
    return SC_FAIL;
}

KELVANE_EXPORT uint32_t QeltCardLoginOut() try {
    CardSession& session = card_session();
    if (!session.loggedIn) return SC_NOT_LOGGED_IN;
    end_login(session);
    return SC_OK;
} catch (...) {
    return SC_FAIL;
}
