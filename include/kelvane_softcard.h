// Kelvane, the software-card build: the card API over a card emulated in the store file
// "C:/Halden/etc/halden.ini". Link libKelvane.so (Linux) or Kelvane.dll through its import
// library libKelvane.dll.a (Windows, beside the DLL). C and C++. With the exports of both builds
// (kelvane_shared.h).
//
// Every card export, the shared ones too, returns an SC_ code below; the volume exports return a
// VOLUME_ code (kelvane_shared.h). Login, binding and a pending challenge are kept per process; the
// store file is read and rewritten whole on every change. The exports are meant for one thread at a
// time.
#ifndef HALDEN_KELVANE_SOFTCARD_H
#define HALDEN_KELVANE_SOFTCARD_H

#include "kelvane_shared.h"

// The software card's result codes.
#define SC_OK 0u
// A wrong PIN (the tries left written), a failed random source or SM2 operation, no matching
// pending challenge, an administrator signature that does not verify, an unlock of a card that
// is not locked, a file error of the encryptor; also a failed allocation.
#define SC_FAIL 1u
#define SC_STORE 2u  // the store file missing, unreadable, short or not fully written
#define SC_ARG 3u    // a null pointer or a length out of range
#define SC_IMAGE_MISSING 5u
#define SC_NOT_LOGGED_IN 6u
#define SC_NO_VOLUME_KEY 7u
#define SC_LOCKED 8u  // no PIN tries left
#define SC_NOT_BOUND 9u
#define SC_ALREADY_BOUND 10u  // or this host's MAC address is already in a bind slot
#define SC_MAC_UNREADABLE 11u
#define SC_NO_FREE_SLOT 12u
#define SC_MAC_NOT_LISTED 13u
#define SC_ALREADY_LOGGED_IN 14u
#define SC_PIN_OK_NOT_BOUND 15u  // the PIN is right but this host is not bound (logged in anyway)
// Decrypting an encrypted file: a read failed, the last block or a block could not be written.
// (18 is not returned.)
#define SC_DEC_READ 17u
#define SC_DEC_FINAL_WRITE 19u
#define SC_DEC_BLOCK_WRITE 20u

// The status bits of CardInfo's state byte.
#define CARD_STATUS_LOGGED_IN 0x02u
#define CARD_STATUS_KEY_STORED 0x04u
#define CARD_STATUS_LOCKED 0x08u
#define CARD_STATUS_BOUND 0x10u

#ifdef __cplusplus
extern "C" {
#endif

// Logs in with pin (length 8..16 bytes). SC_OK when this host is bound, SC_PIN_OK_NOT_BOUND when
// it is not (logged in all the same); SC_FAIL for a wrong PIN, with *tries_left written.
KELVANE_API uint32_t KELVANE_CALL QeltVerifyPinCode(const uint8_t* pin, int32_t length,
                                                    uint32_t* tries_left);
// Changes the PIN, both as QeltVerifyPinCode takes them.
KELVANE_API uint32_t KELVANE_CALL QeltSetPinCode(const uint8_t* old_pin, int32_t old_length,
                                                 const uint8_t* new_pin, int32_t new_length,
                                                 uint32_t* tries_left);
// Stores the volume key in ciphertext (length 128: SM2-encrypted to the card's encryption key).
KELVANE_API uint32_t KELVANE_CALL QeltImportKey(const uint8_t* ciphertext, int32_t length);
// Signs SM3(Z || message) (length at least 1) with the card's signing key into signature (64
// bytes).
KELVANE_API uint32_t KELVANE_CALL QeltSm2SignIn(const uint8_t* message, int32_t length,
                                                uint8_t* signature);

// A new card in the store file: new identity and key pairs, the default PIN, 6 tries, no volume
// key, no bound hosts. SC_FAIL when no random bytes could be drawn (the file left alone);
// SC_STORE when the file could not be written.
KELVANE_API uint32_t KELVANE_CALL init_cfg(void);
// Runs the built-in test routines, printing to standard output; leaves a new card behind.
KELVANE_API void KELVANE_CALL test(void);

#ifdef __cplusplus
}  // extern "C"
#endif

#endif  // HALDEN_KELVANE_SOFTCARD_H
