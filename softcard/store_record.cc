#include "softcard/store_record.h"

#include <cstring>

#include "base/byte_access.h"
#include "crypto/secure_wipe.h"

namespace {

int32_t read_i32(const uint8_t* bytes, uint32_t offset) {
    return static_cast<int32_t>(bytes::load_le32(bytes + offset));
}

void write_i32(uint8_t* bytes, uint32_t offset, int32_t value) {
    bytes::store_le32(bytes + offset, static_cast<uint32_t>(value));
}

}  // namespace

void decode_record(const uint8_t* bytes, CardRecord* record) {
    std::memcpy(record->seed, bytes + STORE_SEED, STORE_SEED_SIZE);
    record->key_present = read_i32(bytes, STORE_KEY_PRESENT);
    std::memcpy(record->volume_key, bytes + STORE_VOLUME_KEY, STORE_VOLUME_KEY_SIZE);
    record->pin_length = read_i32(bytes, STORE_PIN_LENGTH);
    std::memcpy(record->pin, bytes + STORE_PIN, STORE_PIN_SIZE);
    std::memcpy(record->admin_key, bytes + STORE_ADMIN_KEY, STORE_ADMIN_KEY_SIZE);
    record->retries_left = read_i32(bytes, STORE_RETRIES_LEFT);
    record->bind_allowed = read_i32(bytes, STORE_BIND_ALLOWED);
    for (uint32_t i = 0; i < BIND_SLOT_COUNT; ++i) {
        const uint8_t* slot = bytes + STORE_BIND_SLOTS + i * BIND_SLOT_SIZE;
        record->slots[i].used = slot[0];
        std::memcpy(record->slots[i].mac, slot + 1, sizeof record->slots[i].mac);
    }
}

void encode_record(const CardRecord& record, uint8_t* bytes) {
    std::memcpy(bytes + STORE_SEED, record.seed, STORE_SEED_SIZE);
    write_i32(bytes, STORE_KEY_PRESENT, record.key_present);
    std::memcpy(bytes + STORE_VOLUME_KEY, record.volume_key, STORE_VOLUME_KEY_SIZE);
    write_i32(bytes, STORE_PIN_LENGTH, record.pin_length);
    std::memcpy(bytes + STORE_PIN, record.pin, STORE_PIN_SIZE);
    std::memcpy(bytes + STORE_ADMIN_KEY, record.admin_key, STORE_ADMIN_KEY_SIZE);
    write_i32(bytes, STORE_RETRIES_LEFT, record.retries_left);
    write_i32(bytes, STORE_BIND_ALLOWED, record.bind_allowed);
    for (uint32_t i = 0; i < BIND_SLOT_COUNT; ++i) {
        uint8_t* slot = bytes + STORE_BIND_SLOTS + i * BIND_SLOT_SIZE;
        slot[0] = record.slots[i].used;
        std::memcpy(slot + 1, record.slots[i].mac, sizeof record.slots[i].mac);
    }
}

void wipe_record(CardRecord* record) {
    crypto_internal::secure_wipe(record, sizeof *record);
}
