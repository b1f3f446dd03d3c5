#include "softcard/store.h"

#include <cstring>

#include "crypto/random.h"
#include "softcard/admin_key.h"
#include "softcard/result.h"
#include "softcard/wipe.h"

namespace {

constexpr char kDefaultPin[] = "58302741";

// Every byte of both is compared, so the time does not tell how much of a PIN was right.
bool same_bytes(const uint8_t* a, const uint8_t* b, size_t n) {
    uint8_t difference = 0;
    for (size_t i = 0; i < n; ++i) difference |= a[i] ^ b[i];
    return difference == 0;
}

}  // namespace

uint32_t read_card_record(CardRecord* record) {
    uint8_t bytes[STORE_RECORD_SIZE];
    WipeOnExit wipe(bytes);
    const uint32_t result = get_cfg(bytes);
    if (result == SC_OK) decode_record(bytes, record);
    return result;
}

uint32_t write_card_record(const CardRecord& record) {
    uint8_t bytes[STORE_RECORD_SIZE];
    WipeOnExit wipe(bytes);
    encode_record(record, bytes);
    return WriteCardStore(bytes);
}

bool record_locked(const CardRecord& record) {
    return record.retries_left <= 0;
}

KELVANE_EXPORT uint32_t init_cfg() try {
    CardRecord record{};
    WipeOnExit wipe(record);
    if (get_random(record.seed, sizeof record.seed) != 0) return SC_FAIL;
    record.pin_length = static_cast<int32_t>(std::strlen(kDefaultPin));
    std::memcpy(record.pin, kDefaultPin, std::strlen(kDefaultPin));
    std::memcpy(record.admin_key, kAdminPublicKey, sizeof record.admin_key);
    record.retries_left = PIN_TRIES;
    record.bind_allowed = BIND_SLOTS_ALLOWED;
    return write_card_record(record);
} catch (...) {
    return SC_FAIL;
}

uint32_t CheckCardState() {
    CardRecord record;
    WipeOnExit wipe(record);
    const uint32_t result = read_card_record(&record);
    if (result != SC_OK) return result;
    return record_locked(record) ? SC_LOCKED : SC_OK;
}

uint32_t CheckPin(const uint8_t* pin, int32_t length, uint32_t* tries_left) {
    LockedCardRecord locked;  // the comparison and its count are one step
    if (locked.result() != SC_OK) return locked.result();
    const CardRecord& record = locked.record();
    // A damaged length never matches, so nothing past the 16-byte field is compared.
    const bool matches =
        record.pin_length >= 0 && record.pin_length <= static_cast<int32_t>(STORE_PIN_SIZE) &&
        length == record.pin_length && same_bytes(pin, record.pin, static_cast<size_t>(length));
    if (matches) return ResetPinRetries();
    const uint32_t counted = DecrementPinRetries(tries_left);
    return counted != SC_OK ? counted : SC_FAIL;
}

uint32_t DecrementPinRetries(uint32_t* tries_left) {
    LockedCardRecord locked;
    if (locked.result() != SC_OK) return locked.result();
    CardRecord& record = locked.record();
    if (record.retries_left > 0) --record.retries_left;
    const uint32_t result = write_card_record(record);
    if (result != SC_OK) return result;
    if (tries_left)
        *tries_left = record.retries_left > 0 ? static_cast<uint32_t>(record.retries_left) : 0;
    return SC_OK;
}

uint32_t ResetPinRetries() {
    LockedCardRecord locked;
    if (locked.result() != SC_OK) return locked.result();
    CardRecord& record = locked.record();
    record.retries_left = PIN_TRIES;
    return write_card_record(record);
}

uint32_t StoreVolumeKey(const uint8_t* key) {
    LockedCardRecord locked;
    if (locked.result() != SC_OK) return locked.result();
    CardRecord& record = locked.record();
    std::memcpy(record.volume_key, key, sizeof record.volume_key);
    record.key_present = 1;
    return write_card_record(record);
}

uint32_t get_key(uint8_t* key, uint32_t* length) {
    if (!key || !length) return SC_ARG;
    CardRecord record;
    WipeOnExit wipe(record);
    const uint32_t result = read_card_record(&record);
    if (result != SC_OK) return result;
    if (record.key_present == 0) return SC_NO_VOLUME_KEY;
    std::memcpy(key, record.volume_key, sizeof record.volume_key);
    *length = STORE_VOLUME_KEY_SIZE;
    return SC_OK;
}
