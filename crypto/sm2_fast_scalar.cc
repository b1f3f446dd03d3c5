// Scalars modulo n: Montgomery multiplication with the generic reduction (n has no special form),
// inversion by Fermat with 4-bit windows of the public exponent, and the reductions, sums and
// differences of the signature equations. Constant-time.
#include "crypto/sm2_fast.h"
#include "crypto/sm2_fast_internal.h"

namespace crypto_internal::sm2_fast {
namespace {

// t[0..7] := a * b.
SM2_INLINE void mul_wide(u64 t[8], const Fe& a, const Fe& b) {
    for (int i = 0; i < 8; ++i) t[i] = 0;
    for (int i = 0; i < 4; ++i) {
        u64 carry = 0;
        for (int j = 0; j < 4; ++j) {
            const u128 acc = static_cast<u128>(a.v[i]) * b.v[j] + t[i + j] + carry;
            t[i + j] = static_cast<u64>(acc);
            carry = static_cast<u64>(acc >> 64);
        }
        t[i + 4] = carry;
    }
}

// Montgomery reduction modulo n (generic, with kN0).
inline void redc_n(Fe& out, u64 t[8]) {
    u64 top = 0;
    for (int i = 0; i < 4; ++i) {
        const u64 m = t[i] * kN0;
        u64 high = 0;
        for (int j = 0; j < 4; ++j) {
            const u128 acc = static_cast<u128>(m) * kN.v[j] + t[i + j] + high;
            t[i + j] = static_cast<u64>(acc);
            high = static_cast<u64>(acc >> 64);
        }
        Carry carry = 0;
        t[i + 4] = addc(t[i + 4], high, carry);
        for (int j = i + 5; j < 8; ++j) t[j] = addc(t[j], 0, carry);
        top += carry;
    }
    final_subtract(out, t + 4, top, kN);
}

inline void nmul(Fe& out, const Fe& a, const Fe& b) {
    u64 t[8];
    mul_wide(t, a, b);
    redc_n(out, t);
    secure_wipe(t, sizeof t);
}

// a^(n - 2) in the Montgomery domain, with 4-bit windows of the public exponent.
void ninv_mont(Fe& out, const Fe& a) {
    Fe table[16];
    table[0] = kOneN;
    table[1] = a;
    for (int i = 2; i < 16; ++i) nmul(table[i], table[i - 1], a);
    Fe r = table[(kNMinus2.v[3] >> 60) & 15];
    for (int i = 62; i >= 0; --i) {
        for (int s = 0; s < 4; ++s) nmul(r, r, r);
        const unsigned nibble = (kNMinus2.v[i / 16] >> (4 * (i % 16))) & 15;
        nmul(r, r, table[nibble]);  // exponent digits are public
    }
    out = r;
    secure_wipe(table, sizeof table);
    secure_wipe(&r, sizeof r);
}

// out := op(x, y) on scalars loaded as words; the working copies are wiped.
template <class Op>
void scalar_binary(bn256 out, const bn256 x, const bn256 y, Op op) {
    Fe a, b;
    load(a, x);
    load(b, y);
    op(a, b);
    store(out, a);
    secure_wipe(&a, sizeof a);
    secure_wipe(&b, sizeof b);
}

}  // namespace

void fn_reduce(bn256 out, const bn256 x) {
    Fe a;
    load(a, x);
    nreduce(a, a);
    store(out, a);
    secure_wipe(&a, sizeof a);
}

void fn_add(bn256 out, const bn256 x, const bn256 y) {
    scalar_binary(out, x, y, [](Fe& a, const Fe& b) { mod_add(a, a, b, kN); });
}

void fn_sub(bn256 out, const bn256 x, const bn256 y) {
    scalar_binary(out, x, y, [](Fe& a, const Fe& b) { mod_sub(a, a, b, kN); });
}

void fn_mul(bn256 out, const bn256 x, const bn256 y) {
    scalar_binary(out, x, y, [](Fe& a, const Fe& b) {
        nmul(a, a, b);  // x y / R
        nmul(a, a, kRRn);
    });
}

void fn_inv(bn256 out, const bn256 x) {
    Fe a;
    load(a, x);
    nmul(a, a, kRRn);
    ninv_mont(a, a);
    const Fe one = {{1, 0, 0, 0}};
    nmul(a, a, one);
    store(out, a);
    secure_wipe(&a, sizeof a);
}

}  // namespace crypto_internal::sm2_fast
