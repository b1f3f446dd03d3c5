// The device build's card exports beyond those both builds share (card/shared_exports.h). In this
// build every card export, the shared ones too, returns a result code (card/exchange/result.h) or
// the card's status word, and writes its outputs only when the card answered with status 0 (the PIN
// commands also write the remaining tries on status 20). Buffers have the fixed sizes given.
#pragma once

#include <cstdint>

#include "card/shared_exports.h"

constexpr uint32_t PIN_MIN_LENGTH = 8;
constexpr uint32_t PIN_MAX_LENGTH = 16;
constexpr uint32_t IMPORT_KEY_SIZE = 128;
constexpr uint32_t BACKUP_DATA_SIZE = 304;

// PIN and key pairs.
// pin: NUL-terminated; length 8..16 travels as given, with the PIN's first 16 characters at most.
KELVANE_EXPORT uint32_t QeltVerifyPinCode(const uint8_t* pin, uint32_t length, uint32_t* tries);
KELVANE_EXPORT uint32_t QeltSetPinCode(const uint8_t* old_pin, uint32_t old_length,
                                       const uint8_t* new_pin, uint32_t new_length,
                                       uint32_t* tries);
// The card signs SM3(Z || message), Z from the signing public key; 64-byte signature r || s.
KELVANE_EXPORT uint32_t QeltSm2SignIn(const uint8_t* message, uint32_t length, uint8_t* signature);
// length must be 128.
KELVANE_EXPORT uint32_t QeltImportKey(const uint8_t* key, uint32_t length);

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
// every block through the card as a card command (QeltEvEncFile, card/shared_exports.h) or an
// FPGA data frame (_FPGA), both writing the same file. A failure leaves what was written in place.
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
