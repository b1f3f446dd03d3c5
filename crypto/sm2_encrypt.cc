#include "crypto/sm2_encrypt.h"

#include "crypto/constant_time.h"
#include "crypto/random.h"
#include "crypto/secure_wipe.h"
#include "crypto/sm2.h"
#include "crypto/sm2_fast.h"
#include "crypto/sm2_point_bytes.h"
#include "crypto/sm3.h"

// SM2 public-key encryption (GB/T 32918.4): C1 || C3 || C2.

namespace fast = crypto_internal::sm2_fast;
using crypto_internal::ct_bytes_zero_mask;
using crypto_internal::ct_declassify;
using crypto_internal::ct_poison;
using crypto_internal::ct_unpoison;
using crypto_internal::point_from_bytes;
using crypto_internal::point_to_bytes;
using crypto_internal::secure_wipe;

namespace {

constexpr uint32_t kC1 = 0;
constexpr uint32_t kC3 = 64;
constexpr uint32_t kC2 = 96;
static_assert(kC2 == SM2_CIPHERTEXT_OVERHEAD);

// Nonce draws before encryption gives up; a redraw follows only a zero nonce or an all-zero
// key stream, which for a one-byte message has a chance of 1 in 256.
constexpr int kMaxNonceDraws = 11;

// Whether the len secret bytes at data are all zero; only the answer is revealed.
bool all_zero(const uint8_t* data, uint32_t len) {
    return ct_declassify(ct_bytes_zero_mask(data, len));
}

// The 64 bytes x2 || y2 of [scalar] point, for a valid point. scalar is secret.
void shared_point_bytes(uint8_t* x2y2, const ec_point* point, const bn256 scalar) {
    ec_point s;
    fast::point_mul(&s, point, scalar);
    point_to_bytes(x2y2, &s);
    secure_wipe(&s, sizeof s);
}

// SM3(x2 || m || y2).
void hash_c3(uint8_t* c3, const uint8_t* x2y2, const uint8_t* m, uint32_t len) {
    sm3_ctx ctx;
    sm3_init(&ctx);
    sm3_update(&ctx, x2y2, 32);
    if (len != 0) sm3_update(&ctx, m, len);  // m may be null when empty
    sm3_update(&ctx, x2y2 + 32, 32);
    sm3_final(&ctx, c3);
    secure_wipe(&ctx, sizeof ctx);
}

enum class Attempt { kDone, kFailed, kRedraw };

// One encryption with the nonce k; out is written unless the nonce is zero modulo n.
Attempt encrypt_with_nonce(const ec_point* pub, const bn256 k, const uint8_t* msg, uint32_t len,
                           uint8_t* out) {
    bn256 k_mod_n;
    fast::fn_reduce(k_mod_n, k);
    const bool zero_nonce = all_zero(k_mod_n, sizeof k_mod_n);
    secure_wipe(k_mod_n, sizeof k_mod_n);
    if (zero_nonce) return Attempt::kRedraw;

    ec_point c1, shared;
    fast::base_and_point_mul(&c1, &shared, pub, k);
    point_to_bytes(out + kC1, &c1);
    ct_unpoison(out + kC1, 64);
    uint8_t x2y2[64];
    point_to_bytes(x2y2, &shared);
    secure_wipe(&shared, sizeof shared);

    hash_c3(out + kC3, x2y2, msg, len);
    sm2_kdf(x2y2, sizeof x2y2, out + kC2, len);
    Attempt result = Attempt::kDone;
    if (all_zero(x2y2, 32) || all_zero(x2y2 + 32, 32)) {
        result = Attempt::kFailed;
    } else if (len != 0 && all_zero(out + kC2, len)) {
        result = Attempt::kRedraw;  // GB/T 32918.4: an all-zero key stream takes a new k
    } else {
        for (uint32_t i = 0; i < len; ++i) out[kC2 + i] ^= msg[i];
        ct_unpoison(out + kC3, 32 + len);  // the ciphertext is public
    }
    secure_wipe(x2y2, sizeof x2y2);
    return result;
}

}  // namespace

// The nonce is secret; pub, msg's length and the ciphertext are public.
int32_t sm2_encrypt(const uint8_t* pub, const uint8_t* msg, uint32_t len, uint8_t* out,
                    uint32_t* out_len) {
    if (pub == nullptr || out == nullptr || (msg == nullptr && len != 0)) return -1;
    if (len > UINT32_MAX - SM2_CIPHERTEXT_OVERHEAD) return -1;
    ec_point p;
    point_from_bytes(&p, pub);
    // With cofactor 1, [h]P is P itself: the cofactor test is the point check. Done before
    // anything is written, so a bad key leaves out alone.
    if (sm2_point_check(&p) != 0) return -1;

    bn256 k;
    Attempt attempt = Attempt::kFailed;
    bool written = false;
    for (int draw = 0; draw < kMaxNonceDraws; ++draw) {
        // Without random bytes there is no nonce: fail rather than use what the buffer holds.
        if (get_random(k, sizeof k) != 0) {
            attempt = Attempt::kFailed;
            break;
        }
        ct_poison(k, sizeof k);
        attempt = encrypt_with_nonce(&p, k, msg, len, out);
        written = true;
        if (attempt != Attempt::kRedraw) break;
    }
    secure_wipe(k, sizeof k);
    if (attempt != Attempt::kDone) {
        if (written) secure_wipe(out, len + SM2_CIPHERTEXT_OVERHEAD);
        return -1;
    }
    if (out_len != nullptr) *out_len = len + SM2_CIPHERTEXT_OVERHEAD;
    return 0;
}

// priv and the plaintext are secret; the ciphertext and the result are public.
int32_t sm2_decrypt(const uint8_t* priv, const uint8_t* in, uint32_t inlen, uint8_t* out,
                    uint32_t* out_len) {
    if (priv == nullptr || in == nullptr || out_len == nullptr) return -1;
    if (inlen < SM2_CIPHERTEXT_OVERHEAD) return -1;
    const uint32_t klen = inlen - SM2_CIPHERTEXT_OVERHEAD;
    if (out == nullptr && klen != 0) return -1;
    ec_point c1;
    point_from_bytes(&c1, in + kC1);
    if (sm2_point_check(&c1) != 0) return -1;

    bn256 d;
    bn_from_bytes(d, priv);
    uint8_t x2y2[64];
    shared_point_bytes(x2y2, &c1, d);
    secure_wipe(d, sizeof d);

    sm2_kdf(x2y2, sizeof x2y2, out, klen);
    int32_t result = -1;
    if (!all_zero(x2y2, 32) && !all_zero(x2y2 + 32, 32)) {
        for (uint32_t i = 0; i < klen; ++i) out[i] ^= in[kC2 + i];
        uint8_t u[32];
        hash_c3(u, x2y2, out, klen);
        *out_len = klen;
        if (ct_declassify(crypto_internal::ct_bytes_eq_mask(u, in + kC3, 32))) result = 0;
        secure_wipe(u, sizeof u);
    }
    // Unauthenticated bytes (or the bare key stream) never reach the caller.
    if (result != 0) secure_wipe(out, klen);
    secure_wipe(x2y2, sizeof x2y2);
    return result;
}
