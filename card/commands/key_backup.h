// The card's backup block: asked for with a password hash, given back with one.
#pragma once

#include <cstdint>

constexpr uint32_t PASSWORD_HASH_SIZE = 32;

// Copies the card's 304-byte block into backup_data on status 0; untouched otherwise.
uint32_t brel_backup_xk(const uint8_t* password_hash, uint8_t* backup_data);
uint32_t brel_recovery_xk(const uint8_t* password_hash, const uint8_t* backup_data);
