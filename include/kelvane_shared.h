// The exports that both builds of Kelvane have with the same arguments: card information, logout,
// public keys, challenge, unlock, PIN reset and zeroise, MAC binding, the file encryptor and the
// volume functions. A host application includes its build's header, kelvane_device.h or
// kelvane_softcard.h, which includes this one, says what the card exports' results mean and
// declares the rest. C and C++.
//
// Every export but the software card's test returns an unsigned 32-bit result, 0 on success; no
// exception leaves an export. Buffers belong to the caller; those without a length argument have
// the fixed sizes given here. Paths are NUL-terminated 8-bit strings.
#ifndef HALDEN_KELVANE_SHARED_H
#define HALDEN_KELVANE_SHARED_H

#include <stdint.h>

// The exports have C linkage and the C calling convention.
#if defined(_WIN32)
#define KELVANE_API
#define KELVANE_CALL __cdecl
#elif defined(__GNUC__)
#define KELVANE_API __attribute__((visibility("default")))
#define KELVANE_CALL
#else
#define KELVANE_API
#define KELVANE_CALL
#endif

// CardInfo, the 38 bytes that QeltQueryCardInfo fills.
#define CARD_INFO_STATE 0u           // u8: the card's state (software card: CARD_STATUS_ bits)
#define CARD_INFO_SERIAL 1u          // the serial number: 32 lowercase hex digits and a NUL
#define CARD_INFO_SERIAL_LENGTH 34u  // u32 little-endian: 32
#define CARD_INFO_SIZE 38u

#define CARD_PUBLIC_KEY_SIZE 64u  // an SM2 public key, x || y
#define CARD_SIGNATURE_SIZE 64u   // an SM2 signature, r || s
#define CHALLENGE_SIZE 16u
#define EXTRA_SIZE 16u
#define PIN_FIELD_SIZE 17u  // newPin of QeltResetPin: the PIN, its NUL, zeros
#define PIN_MIN_LENGTH 8    // a PIN's length in characters, 8 to 16
#define PIN_MAX_LENGTH 16
#define IMPORT_KEY_SIZE 128u  // QeltImportKey's length: a volume key SM2-encrypted to the card
#define MAC_ADDRESS_SIZE 6u
#define BIND_LIST_SIZE 30u   // five MAC addresses
#define VOLUME_KEY_SIZE 32u  // SM4-XTS: the data key, then the tweak key

// The volume exports' argument records, natural alignment.
typedef struct VolumeFormatArgs {
    const char* path;   // the image to create (an absolute path with a drive letter)
    uint64_t size;      // bytes
    uint32_t deviceNo;  // the Orvik device, from 1
    char letter;        // the drive letter
} VolumeFormatArgs;
typedef struct VolumeMountArgs {
    const char* path;
    uint32_t deviceNo;
    char letter;
} VolumeMountArgs;
typedef struct VolumeDismountArgs {
    char letter;
    uint8_t force;  // nonzero: dismount even when the volume cannot be locked
} VolumeDismountArgs;

// Results of the volume exports, in both builds. On a failure errorText holds, cut to
// errorTextSize, "[operation]detail <the system's message for the thread's last error>".
#define VOLUME_OK 0u
#define VOLUME_FAILED 1u         // a volume step failed
#define VOLUME_INVALID_ARG 3u    // a null record, path or key
#define VOLUME_IMAGE_MISSING 5u  // the image to mount does not exist
#define VOLUME_NO_KEY 7u         // software card: no volume key stored, or the store unreadable
#define VOLUME_NO_CARD 17u       // card mode: no card found

#ifdef __cplusplus
extern "C" {
#endif

// Card information into info (CARD_INFO_SIZE bytes).
KELVANE_API uint32_t KELVANE_CALL QeltQueryCardInfo(uint8_t* info);
// Logs the card out.
KELVANE_API uint32_t KELVANE_CALL QeltCardLoginOut(void);
// The card's two public keys (64 bytes each): signing, then encryption.
KELVANE_API uint32_t KELVANE_CALL QeltExportPubkeys(uint8_t* sign_public_key,
                                                    uint8_t* enc_public_key);

// A 16-byte challenge for the administrator's signature that one of the next three calls takes.
KELVANE_API uint32_t KELVANE_CALL QeltGetChallengeCode(uint8_t* challenge);
// Unlocks the card: challenge and extra 16 bytes each, the administrator's 64-byte signature.
KELVANE_API uint32_t KELVANE_CALL QeltUnlockCard(const uint8_t* challenge, const uint8_t* extra,
                                                 const uint8_t* signature);
// Sets the PIN in newPin (PIN_FIELD_SIZE bytes) with the administrator's 64-byte signature.
KELVANE_API uint32_t KELVANE_CALL QeltResetPin(const uint8_t* challenge, const uint8_t* extra,
                                               const uint8_t* newPin, const uint8_t* signature);
// Clears the card with the administrator's 64-byte signature.
KELVANE_API uint32_t KELVANE_CALL QeltZeroSetCard(const uint8_t* challenge, const uint8_t* extra,
                                                  const uint8_t* signature);

// Binds this host's MAC address to the card.
KELVANE_API uint32_t KELVANE_CALL QeltBindCurMac(void);
// Removes the 6-byte MAC address mac from the card's list.
KELVANE_API uint32_t KELVANE_CALL QeltUnbindMac(const uint8_t* mac);
// This host's bind slot (1-based, 0: not bound), the slots used and left, and the list of bound
// addresses (BIND_LIST_SIZE bytes).
KELVANE_API uint32_t KELVANE_CALL QeltQueryBindedMac(uint32_t* curBindIndex, uint32_t* hasBindCnt,
                                                     uint32_t* leftBindCnt, uint8_t* hasBindMac);
// This host's MAC address into out (6 bytes). 0, or 1 when no network adapter answered.
KELVANE_API uint32_t KELVANE_CALL get_mac(uint8_t* out);

// Encrypts the file ptFileName into ctFileName under a new file key wrapped for pke (a 64-byte
// public key); QeltEvDecFile takes the encrypted file first. Paths of 1 to 254 characters.
KELVANE_API uint32_t KELVANE_CALL QeltEvEncFile(const uint8_t* pke, const char* ptFileName,
                                                const char* ctFileName);
KELVANE_API uint32_t KELVANE_CALL QeltEvDecFile(const char* ctFileName, const char* ptFileName);

// Creates the image args->path of args->size bytes on Orvik device args->deviceNo (device
// build: in card mode; software card: under the stored volume key), formats it NTFS on
// args->letter and takes it down again. A VOLUME_ code.
KELVANE_API uint32_t KELVANE_CALL QeltFormatVolume(const VolumeFormatArgs* args, char* errorText,
                                                   uint32_t errorTextSize);
// Mounts the image args->path on args->letter: with useSoftwareKey nonzero under key (32 bytes,
// read only then), else in card mode (device build) or under the stored volume key (software
// card). A VOLUME_ code.
KELVANE_API uint32_t KELVANE_CALL QeltMountVolume(const VolumeMountArgs* args, char* errorText,
                                                  uint32_t errorTextSize, uint32_t useSoftwareKey,
                                                  const uint8_t* key);
// Takes the volume on args->letter down. A VOLUME_ code.
KELVANE_API uint32_t KELVANE_CALL QeltDismountVolume(const VolumeDismountArgs* args,
                                                     char* errorText, uint32_t errorTextSize);

#ifdef __cplusplus
}  // extern "C"
#endif

#endif  // HALDEN_KELVANE_SHARED_H
