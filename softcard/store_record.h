// The store file's 179-byte record: offsets, sizes, and its field-by-field encoding
// (integers little-endian 32-bit).
#pragma once

#include <cstdint>

constexpr uint32_t STORE_SEED = 0;
constexpr uint32_t STORE_SEED_SIZE = 16;
constexpr uint32_t STORE_KEY_PRESENT = 16;
constexpr uint32_t STORE_VOLUME_KEY = 20;
constexpr uint32_t STORE_VOLUME_KEY_SIZE = 32;
constexpr uint32_t STORE_PIN_LENGTH = 52;
constexpr uint32_t STORE_PIN = 56;
constexpr uint32_t STORE_PIN_SIZE = 16;
constexpr uint32_t STORE_ADMIN_KEY = 72;
constexpr uint32_t STORE_ADMIN_KEY_SIZE = 64;
constexpr uint32_t STORE_RETRIES_LEFT = 136;
constexpr uint32_t STORE_BIND_ALLOWED = 140;
constexpr uint32_t STORE_BIND_SLOTS = 144;
constexpr uint32_t BIND_SLOT_COUNT = 5;
constexpr uint32_t BIND_SLOT_SIZE = 7;  // u8 used, then the 6-byte MAC address
constexpr uint32_t STORE_RECORD_SIZE = STORE_BIND_SLOTS + BIND_SLOT_COUNT * BIND_SLOT_SIZE;
static_assert(STORE_RECORD_SIZE == 179);
static_assert(STORE_PIN + STORE_PIN_SIZE == STORE_ADMIN_KEY);
static_assert(STORE_ADMIN_KEY + STORE_ADMIN_KEY_SIZE == STORE_RETRIES_LEFT);

constexpr int32_t PIN_TRIES = 6;
constexpr int32_t BIND_SLOTS_ALLOWED = 5;

struct BindSlot {
    uint8_t used;
    uint8_t mac[6];
};

struct CardRecord {
    uint8_t seed[STORE_SEED_SIZE];
    int32_t key_present;
    uint8_t volume_key[STORE_VOLUME_KEY_SIZE];
    int32_t pin_length;
    uint8_t pin[STORE_PIN_SIZE];
    uint8_t admin_key[STORE_ADMIN_KEY_SIZE];
    int32_t retries_left;
    int32_t bind_allowed;
    BindSlot slots[BIND_SLOT_COUNT];
};

void decode_record(const uint8_t* bytes, CardRecord* record);
void encode_record(const CardRecord& record, uint8_t* bytes);
// Overwrites the record's secrets (and everything else) with zeros.
void wipe_record(CardRecord* record);
