// SM2 key pairs, the user hash Z, message digests and signatures (GB/T 32918.2).
//
// Encodings: every big number is big-endian. A public key is x then y (no 0x04 prefix), a
// signature r then s. The default user ID is the 16-byte identifier of sm2_curve.
#pragma once

#include <cstdint>

#include "crypto/bn256.h"
#include "crypto/sm3.h"
#include "include/pemra.h"

// The key and signature sizes and types, sm2_make_keypair, sm2_sign and sm2_verify are Pemra's
// (include/pemra.h). On failure sm2_make_keypair's outputs hold the drawn key and its public key.
extern "C" {

// e = SM3(Z || msg) with the default user ID (or the given one).
void sm2_msg_digest(const uint8_t* pub, const uint8_t* msg, uint32_t len, uint8_t* e);
void sm2_msg_digest_id(const uint8_t* id, uint32_t id_len, const uint8_t* pub, const uint8_t* msg,
                       uint32_t len, uint8_t* e);
// The SM3 state after absorbing Z, ready for the message.
void sm2_digest_init_z(sm3_ctx* ctx, const uint8_t* id, uint32_t id_len, const uint8_t* pub);
void sm2_compute_z(const uint8_t* id, uint32_t id_len, const uint8_t* pub, uint8_t* z);

// pub := [priv] G. 0 (-1 only for a null pointer).
int32_t sm2_pubkey_from_private(const uint8_t* priv, uint8_t* pub);
// 0; -1 after eleven zero draws (output untouched).
int32_t sm2_gen_private_key(uint8_t* priv);
// Signs the 32-byte digest e into r and s (32 bytes each). 0, or -1: no random bytes (nothing
// written), a zero nonce, or r = 0, r + k = n or s = 0 (r then holds zeros, s is untouched).
int32_t sm2_sign_digest(uint8_t* r, uint8_t* s, const uint8_t* priv, const uint8_t* e);
// 0 valid; -1 or 1 invalid.
int32_t sm2_verify_digest(const uint8_t* pub, const uint8_t* e, const uint8_t* r, const uint8_t* s);
// 0 when point (limb form) is a valid affine curve point, else 1.
int32_t sm2_point_check(const ec_point* point);
// out := [scalar] point, all big-endian (64, 32, 64 bytes). 0 (-1 only for a null pointer).
int32_t sm2_point_mul_bytes(const uint8_t* point, const uint8_t* scalar, uint8_t* out);

}  // extern "C"
