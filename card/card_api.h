// The device build's card exports. Each returns a result code (card/result.h) or the card's
// status word, and writes its outputs only when the card answered with status 0 (the PIN
// commands also write the remaining tries on status 20). Buffers have the fixed sizes below.
#pragma once

#include <cstdint>

#include "card/export.h"
#include "card/mac.h"

// CardInfo, filled by QeltQueryCardInfo.
constexpr uint32_t CARD_INFO_STATE = 0;           // u8, as the card reports it
constexpr uint32_t CARD_INFO_SERIAL = 1;          // 32 lowercase hex digits and a NUL
constexpr uint32_t CARD_INFO_SERIAL_LENGTH = 34;  // u32 little-endian: 32
constexpr uint32_t CARD_INFO_SIZE = 38;
static_assert(CARD_INFO_SERIAL_LENGTH + 4 == CARD_INFO_SIZE);

constexpr uint32_t PIN_MIN_LENGTH = 8;
constexpr uint32_t PIN_MAX_LENGTH = 16;
constexpr uint32_t CHALLENGE_SIZE = 16;
constexpr uint32_t EXTRA_SIZE = 16;
constexpr uint32_t PIN_FIELD_SIZE = 17;  // newPin: the PIN, its NUL, zeros
constexpr uint32_t IMPORT_KEY_SIZE = 128;
constexpr uint32_t BIND_LIST_SIZE = 30;  // five MAC addresses
constexpr uint32_t BACKUP_DATA_SIZE = 304;

// Card information, PIN and key pairs.
KELVANE_EXPORT uint32_t QeltQueryCardInfo(uint8_t* info);
// pin: NUL-terminated; length 8..16 travels as given, with the PIN's first 16 characters at most.
KELVANE_EXPORT uint32_t QeltVerifyPinCode(const uint8_t* pin, uint32_t length, uint32_t* tries);
KELVANE_EXPORT uint32_t QeltCardLoginOut();
KELVANE_EXPORT uint32_t QeltSetPinCode(const uint8_t* old_pin, uint32_t old_length,
                                       const uint8_t* new_pin, uint32_t new_length,
                                       uint32_t* tries);
// Two 64-byte public keys: signing, then encryption.
KELVANE_EXPORT uint32_t QeltExportPubkeys(uint8_t* sign_public_key, uint8_t* enc_public_key);
// The card signs SM3(Z || message), Z from the signing public key; 64-byte signature r || s.
KELVANE_EXPORT uint32_t QeltSm2SignIn(const uint8_t* message, uint32_t length, uint8_t* signature);
// length must be 128.
KELVANE_EXPORT uint32_t QeltImportKey(const uint8_t* key, uint32_t length);

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
// Three counters (one response byte each) and the 30-byte list as the card sent them.
KELVANE_EXPORT uint32_t QeltQueryBindedMac(uint32_t* curBindIndex, uint32_t* hasBindCnt,
                                           uint32_t* leftBindCnt, uint8_t* hasBindMac);

// Random bytes from the card, 4096 bytes an exchange; on a failure the earlier chunks stay.
KELVANE_EXPORT uint32_t QeltGenRand(uint8_t* buffer, uint32_t length);
// The number of cards present (0..255); 3 for a null pointer.
KELVANE_EXPORT uint32_t QeltGetCardCnt(uint32_t* count);
KELVANE_EXPORT uint32_t QeltActiveDevEx();
KELVANE_EXPORT uint32_t BREL_Unsupport();

// The card's 304-byte backup block kept in a file (name of 1..255 characters); the password (at
// least 8 characters) reaches the card only as its SM3 digest.
KELVANE_EXPORT uint32_t QeltBackupXk(const char* file_name, const char* password);
KELVANE_EXPORT uint32_t QeltRecoveryXk(const char* file_name, const char* password);

// File containers. Paths are NUL-terminated, 1..254 characters; the decryptors take the container
// first. 1: a file could not be opened, read or written, or the container's length is not valid.
// V1: a file key that the card makes in a key slot and wraps under pke (64-byte public key);
// every block through the card as a card command (QeltEvEncFile) or an FPGA data frame (_FPGA),
// both writing the same file. A failure leaves what was written in place.
KELVANE_EXPORT uint32_t QeltEvEncFile(const uint8_t* pke, const char* ptFileName,
                                      const char* ctFileName);
KELVANE_EXPORT uint32_t QeltEvDecFile(const char* ctFileName, const char* ptFileName);
KELVANE_EXPORT uint32_t QeltEvEncFile_FPGA(const uint8_t* pke, const char* ptFileName,
                                           const char* ctFileName);
KELVANE_EXPORT uint32_t QeltEvDecFile_FPGA(const char* ctFileName, const char* ptFileName);
// V2: a key derived from the PIN (8..16 characters), a built-in constant and a salt drawn from
// the card; the blocks go through FPGA data frames on one card link held under the card lock for
// the whole file. 30: the PIN does not match the container; 21: the card's encryption key could
// not wrap the key. A failure removes the output file that the call created.
KELVANE_EXPORT uint32_t QeltEvEncFile_V2(const char* pin, const char* ptFileName,
                                         const char* ctFileName);
KELVANE_EXPORT uint32_t QeltEvDecFile_V2(const char* pin, const char* ctFileName,
                                         const char* ptFileName);
