// The software-card build's exports of Kelvane (all return a result code of softcard/result.h).
#pragma once

#include <cstdint>

#include "card/export.h"
#include "card/mac.h"
#include "softcard/store.h"

constexpr uint32_t CARD_INFO_SIZE = 38;  // u8 status, 33-char serial, u32 serial length
constexpr uint32_t CARD_INFO_STATUS = 0;
constexpr uint32_t CARD_INFO_SERIAL = 1;
constexpr uint32_t CARD_INFO_SERIAL_LENGTH = 34;

constexpr uint8_t CARD_STATUS_LOGGED_IN = 0x02;
constexpr uint8_t CARD_STATUS_KEY_STORED = 0x04;
constexpr uint8_t CARD_STATUS_LOCKED = 0x08;
constexpr uint8_t CARD_STATUS_BOUND = 0x10;

constexpr int32_t PIN_MIN_LENGTH = 8;
constexpr int32_t PIN_MAX_LENGTH = 16;
constexpr uint32_t PIN_FIELD_SIZE = 17;  // newPin: NUL-terminated, zero-padded
constexpr uint32_t BIND_LIST_SIZE = 30;

// PIN, login and binding.
KELVANE_EXPORT uint32_t QeltQueryCardInfo(uint8_t* info);
KELVANE_EXPORT uint32_t QeltVerifyPinCode(const uint8_t* pin, int32_t length, uint32_t* tries_left);
KELVANE_EXPORT uint32_t QeltSetPinCode(const uint8_t* old_pin, int32_t old_length,
                                       const uint8_t* new_pin, int32_t new_length,
                                       uint32_t* tries_left);
KELVANE_EXPORT uint32_t QeltCardLoginOut();
KELVANE_EXPORT uint32_t QeltBindCurMac();
KELVANE_EXPORT uint32_t QeltUnbindMac(const uint8_t* mac);
KELVANE_EXPORT uint32_t QeltQueryBindedMac(uint32_t* curBindIndex, uint32_t* hasBindCnt,
                                           uint32_t* leftBindCnt, uint8_t* hasBindMac);

// Derived key pairs.
KELVANE_EXPORT uint32_t QeltImportKey(const uint8_t* ciphertext, int32_t length);
KELVANE_EXPORT uint32_t QeltExportPubkeys(uint8_t* sign_public_key, uint8_t* enc_public_key);
KELVANE_EXPORT uint32_t QeltSm2SignIn(const uint8_t* message, int32_t length, uint8_t* signature);

// Administrator operations.
KELVANE_EXPORT uint32_t QeltGetChallengeCode(uint8_t* challenge);
KELVANE_EXPORT uint32_t QeltUnlockCard(const uint8_t* challenge, const uint8_t* extra,
                                       const uint8_t* signature);
KELVANE_EXPORT uint32_t QeltResetPin(const uint8_t* challenge, const uint8_t* extra,
                                     const uint8_t* newPin, const uint8_t* signature);
KELVANE_EXPORT uint32_t QeltZeroSetCard(const uint8_t* challenge, const uint8_t* extra,
                                        const uint8_t* signature);

// Envelope files.
KELVANE_EXPORT uint32_t QeltEvEncFile(const uint8_t* pke, const char* ptFileName,
                                      const char* ctFileName);
KELVANE_EXPORT uint32_t QeltEvDecFile(const char* ctFileName, const char* ptFileName);

// The built-in test routines.
KELVANE_EXPORT void test();
