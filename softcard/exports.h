// The software-card build's exports of Kelvane beyond those both builds share
// (card/shared_exports.h). In this build every export returns a result code of softcard/result.h.
#pragma once

#include <cstdint>

#include "card/shared_exports.h"
#include "softcard/store.h"

// The status bits of CardInfo's state byte.
constexpr uint8_t CARD_STATUS_LOGGED_IN = 0x02;
constexpr uint8_t CARD_STATUS_KEY_STORED = 0x04;
constexpr uint8_t CARD_STATUS_LOCKED = 0x08;
constexpr uint8_t CARD_STATUS_BOUND = 0x10;

constexpr int32_t PIN_MIN_LENGTH = 8;
constexpr int32_t PIN_MAX_LENGTH = 16;

// PIN and key pairs: the device build's arguments, with signed lengths.
KELVANE_EXPORT uint32_t QeltVerifyPinCode(const uint8_t* pin, int32_t length, uint32_t* tries_left);
KELVANE_EXPORT uint32_t QeltSetPinCode(const uint8_t* old_pin, int32_t old_length,
                                       const uint8_t* new_pin, int32_t new_length,
                                       uint32_t* tries_left);
KELVANE_EXPORT uint32_t QeltImportKey(const uint8_t* ciphertext, int32_t length);
KELVANE_EXPORT uint32_t QeltSm2SignIn(const uint8_t* message, int32_t length, uint8_t* signature);

// The built-in test routines.
KELVANE_EXPORT void test();
