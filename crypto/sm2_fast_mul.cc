// Scalar multiplication with a secret scalar, constant-time in it: [k] G by 64 signed 4-bit
// windows over the comb table of multiples of G, [k] P by signed 5-bit fixed windows over a table
// of [1..16] P on the stack, both with masked table scans. The scalar is first taken to k mod n or
// n - (k mod n), whichever is smaller, so that the incomplete sums meet neither doubling nor
// cancellation; the choice is undone on the result's y.
#include "crypto/sm2_fast.h"
#include "crypto/sm2_fast_backend.h"
#include "crypto/sm2_fast_point.h"

namespace crypto_internal::sm2_fast {
namespace {

#include "crypto/sm2_tables.inc"

// The scalar for the windowed methods: k mod n, or n - (k mod n) when that is smaller, with
// the mask of the choice. Five words, the fifth zero, for window reads past bit 255.
u64 small_scalar(u64 out[5], const bn256 k) {
    Fe kw, kn;
    load(kw, k);
    nreduce(kw, kw);
    const u64 negate = 0 - less_than(kHalfN, kw);
    Carry borrow = 0;
    for (int i = 0; i < 4; ++i) kn.v[i] = subb(kN.v[i], kw.v[i], borrow);
    for (int i = 0; i < 4; ++i) out[i] = ct_select(negate, kn.v[i], kw.v[i]);
    out[4] = 0;
    secure_wipe(&kw, sizeof kw);
    secure_wipe(&kn, sizeof kn);
    return negate;
}

// Signed digit of a window of w + 1 bits (the low bit belongs to the window below): the
// magnitude (0..2^(w-1)) and a sign mask.
inline void booth_recode(u64 in, int w, u64& magnitude, u64& negative) {
    const u64 s = ~((in >> w) - 1);
    u64 d = (u64{1} << (w + 1)) - in - 1;
    d = (d & s) | (in & ~s);
    magnitude = (d >> 1) + (d & 1);
    negative = s;
}

template <class F>
struct ConstantTimeMul : Points<F> {
    using Points<F>::fmul;
    using Points<F>::finv;
    using Points<F>::to_mont_p;
    using Points<F>::point_double;
    using Points<F>::point_add_jacobian;
    using Points<F>::point_add_mixed;
    using Points<F>::select_point;
    using Points<F>::to_affine_with;
    using Points<F>::to_affine;

    // A window's step once sum = acc + entry: acc takes sum, or entry itself while acc is still at
    // infinity (at_infinity all ones), and stays for a zero digit. Constant-time.
    void take_sum(JacobianPoint& acc, JacobianPoint& sum, const JacobianPoint& entry, u64 magnitude,
                  u64& at_infinity) {
        const u64 skip = ct_is_zero_mask(magnitude);
        select_point(sum, at_infinity, entry, sum);
        select_point(acc, skip, acc, sum);
        at_infinity &= skip;
    }

    // [k'] G with k' = k mod n or n - (k mod n); returns the mask of the second choice.
    u64 base_mul_jacobian(JacobianPoint& acc, const bn256 k) {
        u64 scalar[5];
        const u64 negate = small_scalar(scalar, k);
        JacobianPoint sum, entry_j;
        acc = {};
        u64 at_infinity = ~u64{0};
        AffinePoint entry;
        for (int i = 0; i < 64; ++i) {
            u64 magnitude, negative;
            booth_recode(window_bits(scalar, 4 * i - 1, 5), 4, magnitude, negative);
            entry = {};
            for (int j = 0; j < 8; ++j) {
                const u64 hit = ct_eq_mask(magnitude, static_cast<u64>(j + 1));
                for (int w = 0; w < 4; ++w) {
                    entry.x.v[w] |= hit & kComb[i][j].x.v[w];
                    entry.y.v[w] |= hit & kComb[i][j].y.v[w];
                }
            }
            fneg_masked(entry.y, negative);
            // The window sums stay below n / 2 in magnitude, so the addition meets neither
            // doubling nor cancellation; only an accumulator at infinity needs the entry itself.
            point_add_mixed(sum, acc, entry);
            entry_j = {entry.x, entry.y, kOneP};
            take_sum(acc, sum, entry_j, magnitude, at_infinity);
        }
        secure_wipe(scalar, sizeof scalar);
        secure_wipe(&sum, sizeof sum);
        secure_wipe(&entry, sizeof entry);
        secure_wipe(&entry_j, sizeof entry_j);
        return negate;
    }

    // [k'] point as base_mul_jacobian.
    u64 point_mul_jacobian(JacobianPoint& acc, const ec_point* point, const bn256 k) {
        // [1..16] point; the point is public, so building the table may branch.
        AffinePoint p;
        load(p.x, point->x);
        load(p.y, point->y);
        to_mont_p(p.x, p.x);
        to_mont_p(p.y, p.y);
        JacobianPoint table[16];
        table[0] = {p.x, p.y, kOneP};
        point_double(table[1], table[0]);
        for (int j = 2; j < 16; ++j) point_add_mixed(table[j], table[j - 1], p);

        u64 scalar[5];
        const u64 negate = small_scalar(scalar, k);
        JacobianPoint sum, entry;
        acc = {};
        u64 at_infinity = ~u64{0};
        for (int i = 51; i >= 0; --i) {
            if (i != 51)
                for (int d = 0; d < 5; ++d) point_double(acc, acc);
            u64 magnitude, negative;
            booth_recode(window_bits(scalar, 5 * i - 1, 6), 5, magnitude, negative);
            entry = {};
            for (int j = 0; j < 16; ++j) {
                const u64 hit = ct_eq_mask(magnitude, static_cast<u64>(j + 1));
                for (int w = 0; w < 4; ++w) {
                    entry.x.v[w] |= hit & table[j].x.v[w];
                    entry.y.v[w] |= hit & table[j].y.v[w];
                    entry.z.v[w] |= hit & table[j].z.v[w];
                }
            }
            fneg_masked(entry.y, negative);
            // The accumulator holds [a] point with 0 <= 32 a <= n / 2 + 16 before the addition of
            // [d] point, |d| <= 16: the two are equal or opposite only when a = 0.
            point_add_jacobian(sum, acc, entry);
            take_sum(acc, sum, entry, magnitude, at_infinity);
        }
        secure_wipe(scalar, sizeof scalar);
        secure_wipe(&sum, sizeof sum);
        secure_wipe(&entry, sizeof entry);
        return negate;
    }

    void base_mul(ec_point* out, const bn256 k) {
        JacobianPoint acc;
        const u64 negate = base_mul_jacobian(acc, k);
        to_affine(out, acc, negate);
        secure_wipe(&acc, sizeof acc);
    }

    void point_mul(ec_point* out, const ec_point* point, const bn256 k) {
        JacobianPoint acc;
        const u64 negate = point_mul_jacobian(acc, point, k);
        to_affine(out, acc, negate);
        secure_wipe(&acc, sizeof acc);
    }

    void base_and_point_mul(ec_point* base_out, ec_point* point_out, const ec_point* point,
                            const bn256 k) {
        JacobianPoint a, b;
        const u64 negate = base_mul_jacobian(a, k);
        point_mul_jacobian(b, point, k);
        // One inversion for both: 1 / Za = Zb / (Za Zb) and the other way round.
        Fe zz, inv, zinv;
        fmul(zz, a.z, b.z);
        finv(inv, zz);
        fmul(zinv, inv, b.z);
        to_affine_with(base_out, a, zinv, negate);
        fmul(zinv, inv, a.z);
        to_affine_with(point_out, b, zinv, negate);
        secure_wipe(&a, sizeof a);
        secure_wipe(&b, sizeof b);
        secure_wipe(&zz, sizeof zz);
        secure_wipe(&inv, sizeof inv);
        secure_wipe(&zinv, sizeof zinv);
    }
};

}  // namespace

void base_mul(ec_point* out, const bn256 k) {
    with_field<ConstantTimeMul>([&](auto ops) { ops.base_mul(out, k); });
}

void point_mul(ec_point* out, const ec_point* point, const bn256 k) {
    with_field<ConstantTimeMul>([&](auto ops) { ops.point_mul(out, point, k); });
}

void base_and_point_mul(ec_point* base_out, ec_point* point_out, const ec_point* point,
                        const bn256 k) {
    with_field<ConstantTimeMul>(
        [&](auto ops) { ops.base_and_point_mul(base_out, point_out, point, k); });
}

}  // namespace crypto_internal::sm2_fast
