// Pemra: SM2, SM3 and SM4 for host applications, in C and C++. Link libPemra.so (Linux) or
// Pemra.dll through its import library libPemra.dll.a (Windows, beside the DLL).
//
// Buffers belong to the caller and lengths are byte counts; keys are passed raw on every call and
// expanded inside it. Big numbers are big-endian: a public key is x || y (no prefix byte), a
// signature r || s, a ciphertext C1 (64 bytes) || C3 (32) || C2 (as long as the message).
// sm2_sign and sm2_verify take Z over the default user ID of GB/T 35276 (16 bytes). 0 is success
// for every function, the verification included. Every function runs on the caller's thread and
// takes no lock; the library's one state is its random provider, acquired on first use and kept
// until the process ends.
#ifndef HALDEN_PEMRA_H
#define HALDEN_PEMRA_H

#include <stdint.h>

// The exports have C linkage and the C calling convention.
#if defined(_WIN32)
#define PEMRA_API
#define PEMRA_CALL __cdecl
#elif defined(__GNUC__)
#define PEMRA_API __attribute__((visibility("default")))
#define PEMRA_CALL
#else
#define PEMRA_API
#define PEMRA_CALL
#endif

#define SM2_PRIVATE_KEY_SIZE 32u
#define SM2_PUBLIC_KEY_SIZE 64u
#define SM2_SIGNATURE_SIZE 64u
#define SM2_CIPHERTEXT_OVERHEAD 96u  // C1 and C3: a ciphertext is the message's length + 96
#define SM3_DIGEST_SIZE 32u
#define SM4_KEY_SIZE 16u
#define SM4_BLOCK_SIZE 16u
#define SM4_XTS_KEY_SIZE 32u  // the data key K1, then the tweak key K2
#define SM4_XTS_TWEAK_SIZE 16u

typedef uint8_t sm2_private_key[SM2_PRIVATE_KEY_SIZE];
typedef uint8_t sm2_public_key[SM2_PUBLIC_KEY_SIZE];
typedef uint8_t sm2_signature[SM2_SIGNATURE_SIZE];
typedef uint8_t sm4_xts_key[SM4_XTS_KEY_SIZE];

#ifdef __cplusplus
extern "C" {
#endif

// Writes len random bytes to buffer. 0; -1 when no provider could be acquired (buffer untouched)
// or it failed to deliver (buffer contents undefined).
PEMRA_API int32_t PEMRA_CALL get_random(uint8_t* buffer, uint32_t len);

// Decrypts the ciphertext in (inlen bytes) under priv into out (room for inlen - 96 bytes, not
// overlapping in); *out_len (required) := inlen - 96. 0; -1 when inlen < 96 or C1 is off the curve
// (nothing written), x2 or y2 is zero, or C3 does not match (out then cleared).
PEMRA_API int32_t PEMRA_CALL sm2_decrypt(const uint8_t* priv, const uint8_t* in, uint32_t inlen,
                                         uint8_t* out, uint32_t* out_len);
// Encrypts msg (len bytes) to pub into out (room for len + 96 bytes, not overlapping msg);
// *out_len := len + 96 when out_len is not null. 0; -1 when pub is not a curve point, no random
// bytes could be had, or x2 or y2 is zero (out then holds nothing usable).
PEMRA_API int32_t PEMRA_CALL sm2_encrypt(const uint8_t* pub, const uint8_t* msg, uint32_t len,
                                         uint8_t* out, uint32_t* out_len);
// Draws a key pair into priv (32 bytes) and pub (64 bytes) and signs and verifies a test message
// with it. 0; -1 when the test signature failed, -2 when it did not verify.
PEMRA_API int32_t PEMRA_CALL sm2_make_keypair(uint8_t* priv, uint8_t* pub);
// Signs SM3(Z || msg) with priv, Z over pub (the pair's own public key), into sig (64 bytes).
// 0, or -1.
PEMRA_API int32_t PEMRA_CALL sm2_sign(const uint8_t* priv, const uint8_t* pub, const uint8_t* msg,
                                      uint32_t len, uint8_t* sig);
// 0 when sig (64 bytes) is a valid signature of msg under pub; any other value: invalid.
PEMRA_API int32_t PEMRA_CALL sm2_verify(const uint8_t* pub, const uint8_t* msg, uint32_t len,
                                        const uint8_t* sig);

// The SM3 digest of len bytes of data into digest (32 bytes).
PEMRA_API void PEMRA_CALL sm3(const uint8_t* data, uint32_t len, uint8_t* digest);

// SM4-ECB of len bytes (at least 16, a multiple of 16) under a 16-byte key; in and out may be the
// same buffer. 0; 1 when a pointer is null or len is not valid (nothing written).
PEMRA_API int32_t PEMRA_CALL sm4_ecb_decrypt(const uint8_t* key, const uint8_t* in, uint32_t len,
                                             uint8_t* out);
PEMRA_API int32_t PEMRA_CALL sm4_ecb_encrypt(const uint8_t* key, const uint8_t* in, uint32_t len,
                                             uint8_t* out);

// SM4-XTS of GB/T 17964 over whole 16-byte blocks: key 32 bytes (K1 || K2), tweak 16 bytes (only
// read), block j under SM4(K2, tweak) * alpha^j; in and out may be the same buffer.
// Unchecked: encrypts when encrypt is nonzero, else decrypts, len / 16 whole blocks (bytes past
// them neither read nor written). Always 0.
PEMRA_API int32_t PEMRA_CALL sm4_xts(const uint8_t* key, const uint8_t* tweak, const uint8_t* in,
                                     uint32_t len, uint8_t* out, uint8_t encrypt);
// 0; 1 when a pointer is null or len is below 16 or not a multiple of 16 (nothing written).
PEMRA_API int32_t PEMRA_CALL sm4_xts_decrypt(const uint8_t* key, const uint8_t* tweak,
                                             const uint8_t* in, uint32_t len, uint8_t* out);
PEMRA_API int32_t PEMRA_CALL sm4_xts_encrypt(const uint8_t* key, const uint8_t* tweak,
                                             const uint8_t* in, uint32_t len, uint8_t* out);

#ifdef __cplusplus
}  // extern "C"
#endif

#endif  // HALDEN_PEMRA_H
