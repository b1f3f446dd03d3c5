// The card exports that both builds of Kelvane have with the same arguments, and the buffer sizes
// they share. Each build's own header says what the results mean and declares the rest: the
// device build card/card_api.h, the software-card build softcard/exports.h (whose PIN and key
// pair exports take signed lengths).
#pragma once

#include <cstdint>

#include "card/commands/mac.h"
#include "card/export.h"

// CardInfo, filled by QeltQueryCardInfo (packed).
constexpr uint32_t CARD_INFO_STATE = 0;   // u8: the card's state (software card: status bits)
constexpr uint32_t CARD_INFO_SERIAL = 1;  // 32 lowercase hex digits and a NUL
constexpr uint32_t CARD_INFO_SERIAL_LENGTH = 34;  // u32 little-endian: 32
constexpr uint32_t CARD_INFO_SIZE = 38;
static_assert(CARD_INFO_SERIAL_LENGTH + 4 == CARD_INFO_SIZE);

constexpr uint32_t CHALLENGE_SIZE = 16;
constexpr uint32_t EXTRA_SIZE = 16;
constexpr uint32_t PIN_FIELD_SIZE = 17;  // newPin: the PIN, its NUL, zeros
constexpr uint32_t BIND_LIST_SIZE = 30;  // five MAC addresses

// Card information and logout.
KELVANE_EXPORT uint32_t QeltQueryCardInfo(uint8_t* info);
KELVANE_EXPORT uint32_t QeltCardLoginOut();
// Two 64-byte public keys: signing, then encryption.
KELVANE_EXPORT uint32_t QeltExportPubkeys(uint8_t* sign_public_key, uint8_t* enc_public_key);

// Challenge, unlock, PIN reset and zeroise: 16-byte challenge and extra, 64-byte signature,
// 17-byte newPin.
KELVANE_EXPORT uint32_t QeltGetChallengeCode(uint8_t* challenge);
KELVANE_EXPORT uint32_t QeltUnlockCard(const uint8_t* challenge, const uint8_t* extra,
                                       const uint8_t* signature);
KELVANE_EXPORT uint32_t QeltResetPin(const uint8_t* challenge, const uint8_t* extra,
                                     const uint8_t* newPin, const uint8_t* signature);
KELVANE_EXPORT uint32_t QeltZeroSetCard(const uint8_t* challenge, const uint8_t* extra,
                                        const uint8_t* signature);

// MAC binding. QeltBindCurMac binds this host's MAC address (11 when it cannot be read).
KELVANE_EXPORT uint32_t QeltBindCurMac();
KELVANE_EXPORT uint32_t QeltUnbindMac(const uint8_t* mac);
// Three counters and the 30-byte list of bound addresses.
KELVANE_EXPORT uint32_t QeltQueryBindedMac(uint32_t* curBindIndex, uint32_t* hasBindCnt,
                                           uint32_t* leftBindCnt, uint8_t* hasBindMac);

// V1 file containers: QeltEvEncFile encrypts ptFileName into ctFileName under a fresh file key
// wrapped for pke (64-byte public key); QeltEvDecFile takes the container first. Paths are
// NUL-terminated, 1..254 characters.
KELVANE_EXPORT uint32_t QeltEvEncFile(const uint8_t* pke, const char* ptFileName,
                                      const char* ctFileName);
KELVANE_EXPORT uint32_t QeltEvDecFile(const char* ctFileName, const char* ptFileName);
