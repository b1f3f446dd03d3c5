// The V2 container's key: derived on the host from a PIN, the system's key constant and a salt,
// wrapped under the card's encryption public key and loaded into a card key slot. The key is on
// the host only inside gen_key.
#pragma once

#include <cstdint>

constexpr uint32_t PIN_KEY_SALT_SIZE = 16;
constexpr uint32_t PIN_KEY_MAC_SIZE = 32;

// key := sm2_kdf(PIN field (the PIN's characters, zero-padded to 16) || constant || salt, 32);
// the card takes it into a slot (*slot) through its encryption public key; mac := SM3(key ||
// constant), the container's check value, written whenever the key reached brel_import_sk.
// pin: 8..16 characters (the callers check). 0, 21 (SM2 encryption failed), or the result of
// QeltExportPubkeys or brel_import_sk.
uint32_t gen_key(const char* pin, const uint8_t* salt, uint32_t* slot, uint8_t* mac);
