// SM2 key exchange (GB/T 32918.3) between an initiator A and a responder B.
//
// d and P are a side's long-term key pair, r and R its ephemeral pair (encodings of sm2.h);
// U and V are shared points (64 bytes, x then y), Z values 32 bytes.
#pragma once

#include <cstdint>

#include "crypto/bn256.h"

extern "C" {

// out := 2^127 + (x mod 2^127).
void sm2_kx_x_bar(bn256 out, const bn256 x);
// 0; -1 when peer_r is not a valid point (u not written).
int32_t sm2_kx_shared_point(const uint8_t* d, const uint8_t* r, const uint8_t* own_r,
                            const uint8_t* peer_p, const uint8_t* peer_r, uint8_t* u);
// k := KDF(xU || yU || ZA || ZB, klen). 0.
int32_t sm2_kx_derive_key(const uint8_t* u, const uint8_t* za, const uint8_t* zb, uint32_t klen,
                          uint8_t* k);
// SM3(xU || ZA || ZB || xRA || yRA || xRB || yRB). 0.
int32_t sm2_kx_inner_hash(const uint8_t* u, const uint8_t* ra, const uint8_t* rb, const uint8_t* za,
                          const uint8_t* zb, uint8_t* out);
// SM3(tag || yU || inner). 0.
int32_t sm2_kx_confirm_hash(uint8_t tag, const uint8_t* yu, const uint8_t* inner, uint8_t* out);
int32_t sm2_kx_make_ephemeral(uint8_t* r, uint8_t* big_r);
// Draws rB/RB, computes V, K and (when sb is not null) SB. 0.
int32_t sm2_kx_responder(uint8_t* rb, const uint8_t* db, const uint8_t* ra, const uint8_t* pa,
                         const uint8_t* za, const uint8_t* zb, uint8_t* k, uint32_t klen,
                         uint8_t* big_rb, uint8_t* v, uint8_t* sb);
// Computes U and K; checks SB when given (-1 on mismatch, K already written); SA when wanted.
int32_t sm2_kx_initiator(const uint8_t* ra, const uint8_t* da, const uint8_t* big_ra,
                         const uint8_t* big_rb, const uint8_t* pb, const uint8_t* za,
                         const uint8_t* zb, const uint8_t* sb, uint8_t* k, uint32_t klen,
                         uint8_t* sa);
// 0 when SA matches, else -1.
int32_t sm2_kx_responder_check(const uint8_t* v, const uint8_t* big_ra, const uint8_t* big_rb,
                               const uint8_t* za, const uint8_t* zb, const uint8_t* sa);
// Key without confirmation; initiator nonzero means this side is A. 0.
int32_t sm2_kx_compute_key(uint8_t initiator, const uint8_t* d, const uint8_t* p, const uint8_t* r,
                           const uint8_t* big_r, const uint8_t* own_id, uint32_t own_id_len,
                           const uint8_t* peer_id, uint32_t peer_id_len, const uint8_t* peer_p,
                           const uint8_t* peer_r, uint32_t klen, uint8_t* k);

}  // extern "C"
