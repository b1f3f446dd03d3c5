// Kelvane, the device build: the card API over the USB card. Link libKelvane.so (Linux) or
// Kelvane.dll through its import library libKelvane.dll.a (Windows, beside the DLL). C and C++.
// With the exports of both builds (kelvane_shared.h).
//
// Every card export, the shared ones too, returns a CARD_ code below or, for any other value, the
// card's status word unchanged; the volume exports return a VOLUME_ code (kelvane_shared.h). The
// card exports write their outputs only when the card answered with status 0 (the PIN commands also
// write the tries left on status 20, CARD_WRONG_PIN). One lock serialises the card exports of a
// process.
#ifndef HALDEN_KELVANE_DEVICE_H
#define HALDEN_KELVANE_DEVICE_H

#include "kelvane_shared.h"

// The device build's own result codes; the card's status words share their number space.
#define CARD_OK 0u
#define CARD_FILE_FAILED 1u  // a file could not be opened, read or written, or has no valid length
#define CARD_INVALID_ARG 3u
#define CARD_MAC_UNREADABLE 11u  // this host's MAC address could not be read
#define CARD_NO_MEMORY 16u
#define CARD_LINK_FAILED 17u   // the card link could not be opened, written or read
#define CARD_WRONG_PIN 20u     // the card's status for a wrong PIN; the tries come with it
#define CARD_SM2_FAILED 21u    // SM2 encryption of a PIN-derived key failed
#define CARD_FPGA_FAILED 29u   // an FPGA data frame's reply reported an error
#define CARD_PIN_MISMATCH 30u  // the PIN does not match a container's check value

#ifdef __cplusplus
extern "C" {
#endif

// Logs in with pin (NUL-terminated; length 8..16 travels as given, with the PIN's first 16
// characters at most); *tries := the tries left on CARD_WRONG_PIN.
KELVANE_API uint32_t KELVANE_CALL QeltVerifyPinCode(const uint8_t* pin, uint32_t length,
                                                    uint32_t* tries);
// Changes the PIN, both as QeltVerifyPinCode takes them.
KELVANE_API uint32_t KELVANE_CALL QeltSetPinCode(const uint8_t* old_pin, uint32_t old_length,
                                                 const uint8_t* new_pin, uint32_t new_length,
                                                 uint32_t* tries);
// The card signs SM3(Z || message), Z from its signing public key, into signature (64 bytes).
KELVANE_API uint32_t KELVANE_CALL QeltSm2SignIn(const uint8_t* message, uint32_t length,
                                                uint8_t* signature);
// Gives the card a volume key SM2-encrypted to its encryption key; length must be 128.
KELVANE_API uint32_t KELVANE_CALL QeltImportKey(const uint8_t* key, uint32_t length);

// length (at least 1) random bytes from the card into buffer, 4096 an exchange; on a failure
// the chunks already written stay.
KELVANE_API uint32_t KELVANE_CALL QeltGenRand(uint8_t* buffer, uint32_t length);
// *count := the number of cards present (0..255). 0, or CARD_INVALID_ARG for a null pointer.
KELVANE_API uint32_t KELVANE_CALL QeltGetCardCnt(uint32_t* count);
// Commands without payload (codes 0x737 and 0x767): the card's status.
KELVANE_API uint32_t KELVANE_CALL QeltActiveDevEx(void);
KELVANE_API uint32_t KELVANE_CALL BREL_Unsupport(void);

// The card's key backup block into, and back from, the file file_name (1..255 characters); the
// password (at least 8 characters) reaches the card only as its SM3 digest.
KELVANE_API uint32_t KELVANE_CALL QeltBackupXk(const char* file_name, const char* password);
KELVANE_API uint32_t KELVANE_CALL QeltRecoveryXk(const char* file_name, const char* password);

// One 4096-byte block (len must be 4096) in SM4-XTS on the card in an FPGA data frame, under key
// slot slot (0..128; 0 goes to the card as it is) and a 16-byte tweak; encrypt nonzero encrypts.
// out is written only when the card processed the whole block; CARD_FPGA_FAILED when its reply
// reports an error or falls short.
KELVANE_API uint32_t KELVANE_CALL brel_xts_fpga(uint32_t slot, const uint8_t* tweak,
                                                const uint8_t* in, uint32_t len, uint8_t* out,
                                                uint8_t encrypt);

// File containers; the decryptors take the container first. CARD_FILE_FAILED: a file could not be
// opened, read or written, or the container's length is not valid.
// V1 (QeltEvEncFile and QeltEvDecFile, and these): a file key that the card makes in a key slot
// and wraps for pke; every block through the card as a card command or, here, as an FPGA data
// frame, both writing the same file. A failure leaves what was written in place.
KELVANE_API uint32_t KELVANE_CALL QeltEvEncFile_FPGA(const uint8_t* pke, const char* ptFileName,
                                                     const char* ctFileName);
KELVANE_API uint32_t KELVANE_CALL QeltEvDecFile_FPGA(const char* ctFileName,
                                                     const char* ptFileName);
// V2: a key derived from pin (8..16 characters), a built-in constant and a salt drawn from the
// card; the blocks go through FPGA data frames on one card link held for the whole file.
// CARD_PIN_MISMATCH: the PIN does not match the container; CARD_SM2_FAILED: the card's encryption
// key could not wrap the key. A failure removes the output file that the call created.
KELVANE_API uint32_t KELVANE_CALL QeltEvEncFile_V2(const char* pin, const char* ptFileName,
                                                   const char* ctFileName);
KELVANE_API uint32_t KELVANE_CALL QeltEvDecFile_V2(const char* pin, const char* ctFileName,
                                                   const char* ptFileName);

#ifdef __cplusplus
}  // extern "C"
#endif

#endif  // HALDEN_KELVANE_DEVICE_H
