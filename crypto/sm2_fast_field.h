// The field modulo p on four words in Montgomery form (x * 2^256 mod p). p = -1 mod 2^64 makes
// the Montgomery reduction shifts and additions. Two backends give the products with the same
// words: PortableField here and AdxField (crypto/sm2_fast_field_adx.h); Field<F> is the
// arithmetic on backend F that the point code builds on. Inputs below p give results below p.
// Constant-time: no branch or address depends on the values.
#pragma once

#include "crypto/sm2_fast_field_adx.h"
#include "crypto/sm2_fast_internal.h"

namespace crypto_internal::sm2_fast {

// t[i .. i + 4] := t[i .. i + 3] + ai * b, the products' low and high words in two chains.
SM2_INLINE void mul_row(u64& t0, u64& t1, u64& t2, u64& t3, u64& t4, u64 ai, const Fe& b) {
    u64 h0, h1, h2, h3;
    const u64 l0 = mul_lo_hi(ai, b.v[0], h0);
    const u64 l1 = mul_lo_hi(ai, b.v[1], h1);
    const u64 l2 = mul_lo_hi(ai, b.v[2], h2);
    const u64 l3 = mul_lo_hi(ai, b.v[3], h3);
    Carry c = 0;
    t0 = addc(t0, l0, c);
    t1 = addc(t1, l1, c);
    t2 = addc(t2, l2, c);
    t3 = addc(t3, l3, c);
    t4 = c;
    c = 0;
    t1 = addc(t1, h0, c);
    t2 = addc(t2, h1, c);
    t3 = addc(t3, h2, c);
    t4 = addc(t4, h3, c);
}

// One reduction round of Montgomery modulo p. With -p^-1 = 1 mod 2^64 the multiplier is m = t0,
// and m p = m * (2^256 - 2^224 - 2^96 + 2^64 - 1) clears t0 and adds
// V = m * (2^192 - 2^160 - 2^32 + 1) to t1..t4. carry enters at t4 (the carry out of the previous
// round's top word; V's top word plus 1 never wraps) and leaves from t4.
SM2_INLINE void redc_round(u64 t0, u64& t1, u64& t2, u64& t3, u64& t4, Carry& carry) {
    const u64 lo = t0 << 32, hi = t0 >> 32;
    Carry borrow = 0;
    const u64 v0 = subb(t0, lo, borrow);
    const u64 v1 = subb(0, hi, borrow);
    const u64 v2 = subb(0, lo, borrow);
    const u64 v3 = subb(t0, hi, borrow) + carry;
    Carry c = 0;
    t1 = addc(t1, v0, c);
    t2 = addc(t2, v1, c);
    t3 = addc(t3, v2, c);
    t4 = addc(t4, v3, c);
    carry = c;
}

// out := t / 2^256 mod p, reduced once, for the product t = t0 + t1 2^64 + ... + t7 2^448.
SM2_INLINE void redc_p(Fe& out, u64 t0, u64 t1, u64 t2, u64 t3, u64 t4, u64 t5, u64 t6, u64 t7) {
    Carry carry = 0;
    redc_round(t0, t1, t2, t3, t4, carry);
    redc_round(t1, t2, t3, t4, t5, carry);
    redc_round(t2, t3, t4, t5, t6, carry);
    redc_round(t3, t4, t5, t6, t7, carry);
    const u64 r[4] = {t4, t5, t6, t7};
    final_subtract(out, r, carry, kP);
}

SM2_INLINE void fmul_portable(Fe& out, const Fe& a, const Fe& b) {
    u64 t0 = 0, t1 = 0, t2 = 0, t3 = 0, t4, t5, t6, t7;
    mul_row(t0, t1, t2, t3, t4, a.v[0], b);
    mul_row(t1, t2, t3, t4, t5, a.v[1], b);
    mul_row(t2, t3, t4, t5, t6, a.v[2], b);
    mul_row(t3, t4, t5, t6, t7, a.v[3], b);
    redc_p(out, t0, t1, t2, t3, t4, t5, t6, t7);
}

// The six cross products once, doubled, plus the four squares; then the reduction of fmul.
SM2_INLINE void fsqr_portable(Fe& out, const Fe& a) {
    const u64 a0 = a.v[0], a1 = a.v[1], a2 = a.v[2], a3 = a.v[3];
    u64 h01, h02, h03, h12, h13, h23;
    const u64 l01 = mul_lo_hi(a0, a1, h01);
    const u64 l02 = mul_lo_hi(a0, a2, h02);
    const u64 l03 = mul_lo_hi(a0, a3, h03);
    const u64 l12 = mul_lo_hi(a1, a2, h12);
    const u64 l13 = mul_lo_hi(a1, a3, h13);
    const u64 l23 = mul_lo_hi(a2, a3, h23);
    Carry c = 0;
    u64 t1 = l01;
    u64 t2 = addc(l02, h01, c);
    u64 t3 = addc(l03, h02, c);
    u64 t4 = addc(h03, 0, c);
    c = 0;
    t3 = addc(t3, l12, c);
    t4 = addc(t4, l13, c);
    u64 t5 = c;
    c = 0;
    t4 = addc(t4, h12, c);
    t5 = addc(t5, h13, c);
    c = 0;
    t5 = addc(t5, l23, c);
    u64 t6 = addc(h23, 0, c);
    c = 0;
    t1 = addc(t1, t1, c);
    t2 = addc(t2, t2, c);
    t3 = addc(t3, t3, c);
    t4 = addc(t4, t4, c);
    t5 = addc(t5, t5, c);
    t6 = addc(t6, t6, c);
    u64 t7 = c;
    u64 h0, h1, h2, h3;
    u64 t0 = mul_lo_hi(a0, a0, h0);
    const u64 l1 = mul_lo_hi(a1, a1, h1);
    const u64 l2 = mul_lo_hi(a2, a2, h2);
    const u64 l3 = mul_lo_hi(a3, a3, h3);
    c = 0;
    t1 = addc(t1, h0, c);
    t2 = addc(t2, l1, c);
    t3 = addc(t3, h1, c);
    t4 = addc(t4, l2, c);
    t5 = addc(t5, h2, c);
    t6 = addc(t6, l3, c);
    t7 = addc(t7, h3, c);
    redc_p(out, t0, t1, t2, t3, t4, t5, t6, t7);
}

struct PortableField {
    static SM2_INLINE void mul(Fe& out, const Fe& a, const Fe& b) { fmul_portable(out, a, b); }
    static SM2_INLINE void sqr(Fe& out, const Fe& a) { fsqr_portable(out, a); }
};

SM2_INLINE void fadd(Fe& out, const Fe& a, const Fe& b) {
    mod_add(out, a, b, kP);
}

SM2_INLINE void fsub(Fe& out, const Fe& a, const Fe& b) {
    mod_sub(out, a, b, kP);
}

// r + h 2^256 mod p for h <= 8 and r < 2^256: h 2^256 = h c (mod p) with
// c = 2^224 + 2^96 - 2^64 + 1, the words h, h 2^32 - h, 0, h 2^32.
SM2_INLINE void fold_small(Fe& out, u64 r0, u64 r1, u64 r2, u64 r3, u64 h) {
    Carry c = 0;
    r0 = addc(r0, h, c);
    r1 = addc(r1, (h << 32) - h, c);
    r2 = addc(r2, 0, c);
    r3 = addc(r3, h << 32, c);
    // A carry leaves less than 2^229: one more 2^256 = c cannot carry again.
    const u64 m = 0 - u64{c};
    c = 0;
    r0 = addc(r0, m & 1, c);
    r1 = addc(r1, m & 0xffffffffULL, c);
    r2 = addc(r2, 0, c);
    r3 = addc(r3, m & (u64{1} << 32), c);
    const u64 r[4] = {r0, r1, r2, r3};
    final_subtract(out, r, 0, kP);
}

// a * 2^s for s = 1..3.
SM2_INLINE void fshl(Fe& out, const Fe& a, int s) {
    const u64 h = a.v[3] >> (64 - s);
    fold_small(out, a.v[0] << s, (a.v[1] << s) | (a.v[0] >> (64 - s)),
               (a.v[2] << s) | (a.v[1] >> (64 - s)), (a.v[3] << s) | (a.v[2] >> (64 - s)), h);
}

// 3 a = a + 2 a.
SM2_INLINE void ftriple(Fe& out, const Fe& a) {
    Carry c = 0;
    const u64 r0 = addc(a.v[0], a.v[0] << 1, c);
    const u64 r1 = addc(a.v[1], (a.v[1] << 1) | (a.v[0] >> 63), c);
    const u64 r2 = addc(a.v[2], (a.v[2] << 1) | (a.v[1] >> 63), c);
    const u64 r3 = addc(a.v[3], (a.v[3] << 1) | (a.v[2] >> 63), c);
    fold_small(out, r0, r1, r2, r3, (a.v[3] >> 63) + c);
}

inline void fneg(Fe& out, const Fe& a) {
    const Fe zero = {};
    mod_sub(out, zero, a, kP);
}

// a := -a where mask is all ones, a where it is zero; constant-time.
inline void fneg_masked(Fe& a, u64 mask) {
    Fe negated;
    fneg(negated, a);
    select(a, mask, negated, a);
    secure_wipe(&negated, sizeof negated);
}

// Multiplication, squaring, the Montgomery domain and inversion on backend F (PortableField or
// AdxField).
template <class F>
struct Field {
    SM2_INLINE void fmul(Fe& out, const Fe& a, const Fe& b) { F::mul(out, a, b); }
    SM2_INLINE void fsqr(Fe& out, const Fe& a) { F::sqr(out, a); }

    void fsqr_n(Fe& out, const Fe& a, int n) {
        fsqr(out, a);
        for (int i = 1; i < n; ++i) fsqr(out, out);
    }

    void to_mont_p(Fe& out, const Fe& a) { fmul(out, a, kRRp); }

    void from_mont_p(Fe& out, const Fe& a) {
        const Fe one = {{1, 0, 0, 0}};
        fmul(out, a, one);
    }

    // a^(p - 2). p - 2 from the top: 31 ones, a zero, 128 ones, 32 zeros, 62 ones, 0, 1. With
    // x_k = a^(2^k - 1): 256 squarings and 15 multiplications, the same for every input.
    void finv(Fe& out, const Fe& a) {
        Fe x2, x3, x6, x12, x15, x30, x31, x32, t;
        fsqr(x2, a);
        fmul(x2, x2, a);
        fsqr(x3, x2);
        fmul(x3, x3, a);
        fsqr_n(x6, x3, 3);
        fmul(x6, x6, x3);
        fsqr_n(x12, x6, 6);
        fmul(x12, x12, x6);
        fsqr_n(x15, x12, 3);
        fmul(x15, x15, x3);
        fsqr_n(x30, x15, 15);
        fmul(x30, x30, x15);
        fsqr(x31, x30);
        fmul(x31, x31, a);
        fsqr(x32, x31);
        fmul(x32, x32, a);

        fsqr_n(t, x31, 33);
        fmul(t, t, x32);
        for (int i = 0; i < 3; ++i) {
            fsqr_n(t, t, 32);
            fmul(t, t, x32);
        }
        fsqr_n(t, t, 32);
        fsqr_n(t, t, 32);
        fmul(t, t, x32);
        fsqr_n(t, t, 30);
        fmul(t, t, x30);
        fsqr_n(t, t, 2);
        fmul(out, t, a);
        secure_wipe(&x2, sizeof x2);
        secure_wipe(&x3, sizeof x3);
        secure_wipe(&x6, sizeof x6);
        secure_wipe(&x12, sizeof x12);
        secure_wipe(&x15, sizeof x15);
        secure_wipe(&x30, sizeof x30);
        secure_wipe(&x31, sizeof x31);
        secure_wipe(&x32, sizeof x32);
        secure_wipe(&t, sizeof t);
    }
};

}  // namespace crypto_internal::sm2_fast
