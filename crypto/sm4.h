// SM4 block cipher (GB/T 32907) with ECB, CBC and CBC-MAC.
//
// Every mode takes the raw 16-byte key and expands it inside the call. Lengths are byte counts,
// at least 16 and a multiple of 16; in and out may be the same buffer. Results: 0 success, 1 bad
// arguments (nothing written), 2 no memory (CBC-MAC only).
#pragma once

#include <cstdint>

#include "include/pemra.h"

// The sizes and ECB are Pemra's (include/pemra.h).
extern "C" {

// Expanded key: the 32 round keys in the order the rounds use them.
struct sm4_ctx {
    uint32_t rk[32];
};

void sm4_set_encrypt_key(sm4_ctx* ctx, const uint8_t* key);
// The encryption schedule reversed: decryption runs the same block function.
void sm4_set_decrypt_key(sm4_ctx* ctx, const uint8_t* key);
void sm4_crypt_block(const uint32_t* rk, const uint8_t* in, uint8_t* out);

// iv is the caller's chaining value: read at the start, left holding the last ciphertext block.
int32_t sm4_cbc_encrypt(const uint8_t* key, uint8_t* iv, const uint8_t* in, uint32_t len,
                        uint8_t* out);
int32_t sm4_cbc_decrypt(const uint8_t* key, uint8_t* iv, const uint8_t* in, uint32_t len,
                        uint8_t* out);
// CBC-encrypts in with the chaining value and writes the last block (16 bytes) to mac.
int32_t sm4_cbc_mac(const uint8_t* key, uint8_t* iv, const uint8_t* in, uint32_t len, uint8_t* mac);

}  // extern "C"
