#include <initializer_list>

#include "crypto/constant_time.h"
#include "crypto/ec.h"
#include "crypto/random.h"
#include "crypto/secure_wipe.h"
#include "crypto/sm2.h"
#include "crypto/sm2_fast.h"
#include "crypto/sm2_point_bytes.h"

// SM2 key pairs, user hash and signatures (GB/T 32918.2).

namespace fast = crypto_internal::sm2_fast;
using crypto_internal::ct_bytes_zero_mask;
using crypto_internal::ct_declassify;
using crypto_internal::ct_poison;
using crypto_internal::ct_unpoison;
using crypto_internal::point_from_bytes;
using crypto_internal::point_to_bytes;
using crypto_internal::secure_wipe;

namespace {

const uint8_t* const N = sm2_curve.n;

// Any fixed value serves as the digest of the pairwise test.
constexpr uint8_t kPairwiseDigest[32] = {
    0x70, 0x61, 0x69, 0x72, 0x77, 0x69, 0x73, 0x65, 0x20, 0x74, 0x65, 0x73, 0x74, 0x20, 0x64, 0x69,
    0x67, 0x65, 0x73, 0x74, 0x20, 0x6f, 0x66, 0x20, 0x6b, 0x65, 0x79, 0x20, 0x70, 0x61, 0x69, 0x72};

// (x1 + e) mod n for any x1 and e below 2^256 < 2n: each is reduced once first. Constant-time.
void add_mod_n(bn256 out, const bn256 x1, const bn256 e) {
    bn256 xr, er;
    fast::fn_reduce(xr, x1);
    fast::fn_reduce(er, e);
    fast::fn_add(out, xr, er);
    secure_wipe(xr, sizeof xr);
}

}  // namespace

void sm2_compute_z(const uint8_t* id, uint32_t id_len, const uint8_t* pub, uint8_t* z) {
    const uint16_t entl = static_cast<uint16_t>(id_len * 8);
    const uint8_t entl_bytes[2] = {static_cast<uint8_t>(entl >> 8), static_cast<uint8_t>(entl)};
    sm3_ctx ctx;
    sm3_init(&ctx);
    sm3_update(&ctx, entl_bytes, 2);
    if (id_len != 0) sm3_update(&ctx, id, id_len);  // id may be null when empty
    for (const uint8_t* value : {sm2_curve.a, sm2_curve.b, sm2_curve.g.x, sm2_curve.g.y}) {
        uint8_t be[32];
        bn_from_bytes(be, value);
        sm3_update(&ctx, be, 32);
    }
    sm3_update(&ctx, pub, SM2_PUBLIC_KEY_SIZE);
    sm3_final(&ctx, z);
}

void sm2_digest_init_z(sm3_ctx* ctx, const uint8_t* id, uint32_t id_len, const uint8_t* pub) {
    uint8_t z[32];
    sm2_compute_z(id, id_len, pub, z);
    sm3_init(ctx);
    sm3_update(ctx, z, 32);
}

void sm2_msg_digest_id(const uint8_t* id, uint32_t id_len, const uint8_t* pub, const uint8_t* msg,
                       uint32_t len, uint8_t* e) {
    sm3_ctx ctx;
    sm2_digest_init_z(&ctx, id, id_len, pub);
    if (len != 0) sm3_update(&ctx, msg, len);  // msg may be null when empty
    sm3_final(&ctx, e);
    secure_wipe(&ctx, sizeof ctx);
}

void sm2_msg_digest(const uint8_t* pub, const uint8_t* msg, uint32_t len, uint8_t* e) {
    sm2_msg_digest_id(sm2_curve.default_id, sizeof sm2_curve.default_id, pub, msg, len, e);
}

// priv is secret; pub is public.
int32_t sm2_pubkey_from_private(const uint8_t* priv, uint8_t* pub) {
    if (priv == nullptr || pub == nullptr) return -1;
    bn256 d;
    bn_from_bytes(d, priv);
    ec_point q;
    fast::base_mul(&q, d);
    point_to_bytes(pub, &q);
    ct_unpoison(pub, SM2_PUBLIC_KEY_SIZE);
    secure_wipe(d, sizeof d);
    secure_wipe(&q, sizeof q);
    return 0;
}

// The drawn key is secret; only whether it came out zero is revealed.
int32_t sm2_gen_private_key(uint8_t* priv) {
    if (priv == nullptr) return -1;
    bn256 d;
    int32_t result = -1;
    for (int redraws = 10; redraws >= 0; --redraws) {
        if (get_random(d, sizeof d) != 0) break;  // no usable random bytes: fail, never guess
        ct_poison(d, sizeof d);
        fast::fn_reduce(d, d);
        if (!ct_declassify(ct_bytes_zero_mask(d, sizeof d))) {
            bn_from_bytes(priv, d);
            result = 0;
            break;
        }
    }
    secure_wipe(d, sizeof d);
    return result;
}

int32_t sm2_make_keypair(uint8_t* priv, uint8_t* pub) {
    if (priv == nullptr || pub == nullptr) return -1;
    if (sm2_gen_private_key(priv) != 0) return -1;
    sm2_pubkey_from_private(priv, pub);
    uint8_t sig[SM2_SIGNATURE_SIZE];
    if (sm2_sign_digest(sig, sig + 32, priv, kPairwiseDigest) != 0) return -1;
    if (sm2_verify_digest(pub, kPairwiseDigest, sig, sig + 32) != 0) return -2;
    return 0;
}

// priv and the nonce are secret; e, r and s are public. Rejections reveal only that they
// happened.
int32_t sm2_sign_digest(uint8_t* r, uint8_t* s, const uint8_t* priv, const uint8_t* e) {
    if (r == nullptr || s == nullptr || priv == nullptr || e == nullptr) return -1;
    bn256 d, ebn, k;
    if (get_random(k, sizeof k) != 0) {
        secure_wipe(k, sizeof k);
        return -1;
    }
    ct_poison(k, sizeof k);
    fast::fn_reduce(k, k);
    // k = 0, or k = n, which would give s away.
    if (ct_declassify(ct_bytes_zero_mask(k, sizeof k))) {
        secure_wipe(k, sizeof k);
        return -1;
    }
    bn_from_bytes(d, priv);
    bn_from_bytes(ebn, e);

    ec_point kg;
    fast::base_mul(&kg, k);
    bn256 rbn;
    add_mod_n(rbn, kg.x, ebn);
    ct_unpoison(rbn, sizeof rbn);  // r is the public half of the signature

    int32_t result = -1;
    bn256 r_plus_k, sbn, d1, dr, one = {1};
    fast::fn_add(r_plus_k, rbn, k);
    if (bn_is_zero(rbn) || ct_declassify(ct_bytes_zero_mask(r_plus_k, sizeof r_plus_k))) {
        bn_clear(r);  // r = 0, or r + k = n (GB/T 32918.2 draws afresh; the caller may retry)
    } else {
        // s = (1 + d)^-1 (k - r d) mod n; d may be any 256-bit number, 1 + d = 0 gives s = 0.
        fast::fn_reduce(dr, d);
        fast::fn_mul(sbn, rbn, dr);
        fast::fn_sub(sbn, k, sbn);
        fast::fn_add(d1, dr, one);
        fast::fn_inv(d1, d1);
        fast::fn_mul(sbn, d1, sbn);
        if (ct_declassify(ct_bytes_zero_mask(sbn, sizeof sbn))) {
            bn_clear(r);
        } else {
            ct_unpoison(sbn, sizeof sbn);
            bn_from_bytes(r, rbn);
            bn_from_bytes(s, sbn);
            result = 0;
        }
    }
    secure_wipe(d, sizeof d);
    secure_wipe(dr, sizeof dr);
    secure_wipe(k, sizeof k);
    secure_wipe(&kg, sizeof kg);
    secure_wipe(r_plus_k, sizeof r_plus_k);
    secure_wipe(sbn, sizeof sbn);
    secure_wipe(d1, sizeof d1);
    return result;
}

int32_t sm2_verify_digest(const uint8_t* pub, const uint8_t* e, const uint8_t* r,
                          const uint8_t* s) {
    if (pub == nullptr || e == nullptr || r == nullptr || s == nullptr) return -1;
    ec_point q;
    point_from_bytes(&q, pub);
    bn256 ebn, rbn, sbn, t;
    bn_from_bytes(ebn, e);
    bn_from_bytes(rbn, r);
    bn_from_bytes(sbn, s);
    if (bn_is_zero(rbn) || bn_is_zero(sbn) || bn_cmp(rbn, N) >= 0 || bn_cmp(sbn, N) >= 0) return -1;
    bn_mod_add(t, rbn, sbn, N);
    if (bn_is_zero(t)) return -1;

    if (fast::point_check(&q) == 0) return fast::verify_compare(sbn, &q, t, ebn, rbn);
    ec_point x1;
    ec_double_point_mul(&x1, &sm2_curve.g, &q, sbn, t);  // a key off the curve
    bn256 big_r;
    add_mod_n(big_r, x1.x, ebn);
    return bn_cmp(big_r, rbn);
}

int32_t sm2_sign(const uint8_t* priv, const uint8_t* pub, const uint8_t* msg, uint32_t len,
                 uint8_t* sig) {
    if (priv == nullptr || pub == nullptr || sig == nullptr || (msg == nullptr && len != 0))
        return -1;
    uint8_t e[32];
    sm2_msg_digest(pub, msg, len, e);
    return sm2_sign_digest(sig, sig + 32, priv, e);
}

int32_t sm2_verify(const uint8_t* pub, const uint8_t* msg, uint32_t len, const uint8_t* sig) {
    if (pub == nullptr || sig == nullptr || (msg == nullptr && len != 0)) return -1;
    uint8_t e[32];
    sm2_msg_digest(pub, msg, len, e);
    return sm2_verify_digest(pub, e, sig, sig + 32);
}

int32_t sm2_point_check(const ec_point* point) {
    if (point == nullptr) return 1;
    return fast::point_check(point);
}

// scalar is secret; the point is public.
int32_t sm2_point_mul_bytes(const uint8_t* point, const uint8_t* scalar, uint8_t* out) {
    if (point == nullptr || scalar == nullptr || out == nullptr) return -1;
    ec_point q;
    point_from_bytes(&q, point);
    bn256 k;
    bn_from_bytes(k, scalar);
    if (fast::point_check(&q) == 0) {
        fast::point_mul(&q, &q, k);
    } else {
        ec_point_mul(&q, &q, k, nullptr);  // not a curve point: the co-Z ladder's own result
    }
    point_to_bytes(out, &q);
    secure_wipe(k, sizeof k);
    secure_wipe(&q, sizeof q);
    return 0;
}
