#include "crypto/sm2_kx.h"

#include "crypto/constant_time.h"
#include "crypto/ec.h"
#include "crypto/secure_wipe.h"
#include "crypto/sm2.h"
#include "crypto/sm2_encrypt.h"
#include "crypto/sm2_fast.h"
#include "crypto/sm2_point_bytes.h"
#include "crypto/sm3.h"

// SM2 key agreement (GB/T 32918.3). Failures (an invalid peer point, a shared point at infinity,
// a failed ephemeral draw) are reported as -1 with no key written.

namespace fast = crypto_internal::sm2_fast;
using crypto_internal::ct_declassify;
using crypto_internal::point_from_bytes;
using crypto_internal::point_to_bytes;
using crypto_internal::secure_wipe;

namespace {

constexpr uint8_t kTagResponder = 0x02;
constexpr uint8_t kTagInitiator = 0x03;

// Compares confirmation values; only the answer is revealed.
bool same_32(const uint8_t* a, const uint8_t* b) {
    return ct_declassify(crypto_internal::ct_bytes_eq_mask(a, b, 32));
}

// K and the inner hash of one side's shared point.
void derive_key_and_inner(const uint8_t* u, const uint8_t* ra, const uint8_t* rb, const uint8_t* za,
                          const uint8_t* zb, uint32_t klen, uint8_t* k, uint8_t* inner) {
    sm2_kx_derive_key(u, za, zb, klen, k);
    sm2_kx_inner_hash(u, ra, rb, za, zb, inner);
}

}  // namespace

void sm2_kx_x_bar(bn256 out, const bn256 x) {
    bn256 low;
    bn_copy(low, x);
    bn_clear(out);
    for (int i = 0; i < 16; ++i) out[i] = low[i];
    out[15] |= 0x80;
}

int32_t sm2_kx_shared_point(const uint8_t* d, const uint8_t* r, const uint8_t* own_r,
                            const uint8_t* peer_p, const uint8_t* peer_r, uint8_t* u) {
    ec_point own_big_r, peer_big_r, peer_big_p, w;
    point_from_bytes(&own_big_r, own_r);
    point_from_bytes(&peer_big_r, peer_r);
    point_from_bytes(&peer_big_p, peer_p);
    // The peer's long-term key is checked too: [t] of a point off the curve would lead the
    // secret t into a group of small order and into arithmetic that is not constant-time.
    if (sm2_point_check(&peer_big_r) != 0 || sm2_point_check(&peer_big_p) != 0) return -1;

    // t = (d + x_bar(own R) r) mod n; d and r are secret and may be any 256-bit numbers.
    bn256 dbn, rbn, x_bar, t;
    bn_from_bytes(dbn, d);
    bn_from_bytes(rbn, r);
    fast::fn_reduce(dbn, dbn);
    fast::fn_reduce(rbn, rbn);
    sm2_kx_x_bar(x_bar, own_big_r.x);
    fast::fn_mul(t, x_bar, rbn);
    fast::fn_add(t, dbn, t);

    // W = P + [x_bar(peer R)] R is public. A W off the curve (the point at infinity) takes the
    // reference ladder, whose result for it is its own.
    sm2_kx_x_bar(x_bar, peer_big_r.x);
    fast::point_mul(&w, &peer_big_r, x_bar);
    fast::point_add(&w, &peer_big_p, &w);
    if (fast::point_check(&w) == 0) {
        fast::point_mul(&w, &w, t);
    } else {
        ec_point_mul(&w, &w, t, nullptr);
    }

    int32_t result = -1;
    const uint64_t at_infinity =
        crypto_internal::ct_bytes_zero_mask(reinterpret_cast<const uint8_t*>(&w), sizeof w);
    if (!ct_declassify(at_infinity)) {  // GB/T 32918.3: U at infinity fails the exchange
        point_to_bytes(u, &w);
        result = 0;
    }
    secure_wipe(dbn, sizeof dbn);
    secure_wipe(rbn, sizeof rbn);
    secure_wipe(t, sizeof t);
    secure_wipe(&w, sizeof w);
    return result;
}

int32_t sm2_kx_derive_key(const uint8_t* u, const uint8_t* za, const uint8_t* zb, uint32_t klen,
                          uint8_t* k) {
    uint8_t input[128];
    for (int i = 0; i < 64; ++i) input[i] = u[i];
    for (int i = 0; i < 32; ++i) input[64 + i] = za[i];
    for (int i = 0; i < 32; ++i) input[96 + i] = zb[i];
    sm2_kdf(input, sizeof input, k, klen);
    secure_wipe(input, sizeof input);
    return 0;
}

int32_t sm2_kx_inner_hash(const uint8_t* u, const uint8_t* ra, const uint8_t* rb, const uint8_t* za,
                          const uint8_t* zb, uint8_t* out) {
    sm3_ctx ctx;
    sm3_init(&ctx);
    sm3_update(&ctx, u, 32);
    sm3_update(&ctx, za, 32);
    sm3_update(&ctx, zb, 32);
    sm3_update(&ctx, ra, 64);
    sm3_update(&ctx, rb, 64);
    sm3_final(&ctx, out);
    secure_wipe(&ctx, sizeof ctx);
    return 0;
}

int32_t sm2_kx_confirm_hash(uint8_t tag, const uint8_t* yu, const uint8_t* inner, uint8_t* out) {
    sm3_ctx ctx;
    sm3_init(&ctx);
    sm3_update(&ctx, &tag, 1);
    sm3_update(&ctx, yu, 32);
    sm3_update(&ctx, inner, 32);
    sm3_final(&ctx, out);
    secure_wipe(&ctx, sizeof ctx);
    return 0;
}

int32_t sm2_kx_make_ephemeral(uint8_t* r, uint8_t* big_r) {
    return sm2_make_keypair(r, big_r);
}

int32_t sm2_kx_responder(uint8_t* rb, const uint8_t* db, const uint8_t* ra, const uint8_t* pa,
                         const uint8_t* za, const uint8_t* zb, uint8_t* k, uint32_t klen,
                         uint8_t* big_rb, uint8_t* v, uint8_t* sb) {
    if (sm2_make_keypair(rb, big_rb) != 0) return -1;
    if (sm2_kx_shared_point(db, rb, big_rb, pa, ra, v) != 0) return -1;
    uint8_t inner[32];
    derive_key_and_inner(v, ra, big_rb, za, zb, klen, k, inner);
    if (sb != nullptr) sm2_kx_confirm_hash(kTagResponder, v + 32, inner, sb);
    secure_wipe(inner, sizeof inner);
    return 0;
}

int32_t sm2_kx_initiator(const uint8_t* ra, const uint8_t* da, const uint8_t* big_ra,
                         const uint8_t* big_rb, const uint8_t* pb, const uint8_t* za,
                         const uint8_t* zb, const uint8_t* sb, uint8_t* k, uint32_t klen,
                         uint8_t* sa) {
    uint8_t u[64];
    if (sm2_kx_shared_point(da, ra, big_ra, pb, big_rb, u) != 0) return -1;
    uint8_t inner[32], s1[32];
    derive_key_and_inner(u, big_ra, big_rb, za, zb, klen, k, inner);
    sm2_kx_confirm_hash(kTagResponder, u + 32, inner, s1);
    int32_t result = 0;
    if (sb != nullptr && !same_32(sb, s1)) {
        result = -1;  // K is already written
    } else if (sa != nullptr) {
        sm2_kx_confirm_hash(kTagInitiator, u + 32, inner, sa);
    }
    secure_wipe(u, sizeof u);
    secure_wipe(inner, sizeof inner);
    secure_wipe(s1, sizeof s1);
    return result;
}

int32_t sm2_kx_responder_check(const uint8_t* v, const uint8_t* big_ra, const uint8_t* big_rb,
                               const uint8_t* za, const uint8_t* zb, const uint8_t* sa) {
    uint8_t inner[32], s2[32];
    sm2_kx_inner_hash(v, big_ra, big_rb, za, zb, inner);
    sm2_kx_confirm_hash(kTagInitiator, v + 32, inner, s2);
    const int32_t result = same_32(s2, sa) ? 0 : -1;
    secure_wipe(inner, sizeof inner);
    secure_wipe(s2, sizeof s2);
    return result;
}

int32_t sm2_kx_compute_key(uint8_t initiator, const uint8_t* d, const uint8_t* p, const uint8_t* r,
                           const uint8_t* big_r, const uint8_t* own_id, uint32_t own_id_len,
                           const uint8_t* peer_id, uint32_t peer_id_len, const uint8_t* peer_p,
                           const uint8_t* peer_r, uint32_t klen, uint8_t* k) {
    uint8_t own_z[32], peer_z[32];
    sm2_compute_z(own_id, own_id_len, p, own_z);
    sm2_compute_z(peer_id, peer_id_len, peer_p, peer_z);
    const uint8_t* za = initiator ? own_z : peer_z;
    const uint8_t* zb = initiator ? peer_z : own_z;
    return sm2_kx_initiator(r, d, big_r, peer_r, peer_p, za, zb, nullptr, k, klen, nullptr);
}
