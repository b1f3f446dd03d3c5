// [u1] G + [u2] Q for public scalars and a public point, as signature verification needs it:
// interleaved width-w NAF, width 8 over the table of odd multiples of G and width 5 over odd
// multiples of Q built here. Variable-time; the sums look at their exceptional cases.
#include "crypto/sm2_fast.h"
#include "crypto/sm2_fast_backend.h"
#include "crypto/sm2_fast_point.h"

namespace crypto_internal::sm2_fast {
namespace {

#include "crypto/sm2_tables.inc"

// Width-w NAF of u < 2^256: digits[i] odd or zero, |digits[i]| < 2^(w-1). Returns the length.
int wnaf(int8_t digits[257], const bn256 u, int w) {
    Fe k;
    load(k, u);
    const u64 x[5] = {k.v[0], k.v[1], k.v[2], k.v[3], 0};
    for (int i = 0; i < 257; ++i) digits[i] = 0;
    // Scan for the next bit that differs from the carry; a window from there gives an odd digit
    // in (-2^(w-1), 2^(w-1)), and a negative digit carries into the bits above.
    u64 carry = 0;
    int len = 0;
    for (int bit = 0; bit < 256;) {
        if (((x[bit / 64] >> (bit % 64)) & 1) == carry) {
            ++bit;
            continue;
        }
        const int width = w < 256 - bit ? w : 256 - bit;
        u64 word = window_bits(x, bit, width) + carry;
        carry = (word >> (w - 1)) & 1;
        const int digit = static_cast<int>(word) - static_cast<int>(carry << w);
        digits[bit] = static_cast<int8_t>(digit);
        len = bit + 1;
        bit += width;
    }
    if (carry) {
        digits[256] = 1;
        len = 257;
    }
    return len;
}

template <class F>
struct VartimeMul : Points<F> {
    using Points<F>::fmul;
    using Points<F>::fsqr;
    using Points<F>::to_mont_p;
    using Points<F>::point_double;
    using Points<F>::cached;
    using Points<F>::point_add_cached;
    using Points<F>::point_add_mixed;
    using Points<F>::to_affine;
    using Points<F>::at_infinity;

    // acc := acc + b, any inputs.
    void add_vartime(JacobianPoint& acc, const CachedPoint& b) {
        if (is_zero_mask(b.z)) return;
        if (at_infinity(acc)) {
            acc = {b.x, b.y, b.z};
            return;
        }
        JacobianPoint sum;
        u64 h_zero, r_zero;
        point_add_cached(sum, acc, b, &h_zero, &r_zero);
        if (h_zero) {
            if (r_zero)
                point_double(acc, {b.x, b.y, b.z});
            else
                acc = {};
            return;
        }
        acc = sum;
    }

    void add_mixed_vartime(JacobianPoint& acc, const AffinePoint& b) {
        if (at_infinity(acc)) {
            acc = {b.x, b.y, kOneP};
            return;
        }
        JacobianPoint sum;
        u64 h_zero, r_zero;
        point_add_mixed(sum, acc, b, &h_zero, &r_zero);
        if (h_zero) {
            if (r_zero)
                point_double(acc, {b.x, b.y, kOneP});
            else
                acc = {};
            return;
        }
        acc = sum;
    }

    void double_mul_jacobian(JacobianPoint& acc, const bn256 u1, const ec_point* q,
                             const bn256 u2) {
        constexpr int kWidthG = 8, kWidthQ = 5;
        int8_t d1[257] = {}, d2[257] = {};
        const int len1 = wnaf(d1, u1, kWidthG);
        const int len2 = wnaf(d2, u2, kWidthQ);

        // Odd multiples [1, 3, ..., 15] q.
        AffinePoint qa;
        load(qa.x, q->x);
        load(qa.y, q->y);
        to_mont_p(qa.x, qa.x);
        to_mont_p(qa.y, qa.y);
        CachedPoint odd_q[8];
        JacobianPoint q1 = {qa.x, qa.y, kOneP}, q2;
        odd_q[0] = {qa.x, qa.y, kOneP, kOneP, kOneP};
        point_double(q2, q1);
        const CachedPoint q2c = cached(q2);
        for (int j = 1; j < 8; ++j) {
            add_vartime(q1, q2c);
            odd_q[j] = cached(q1);
        }

        acc = {};
        for (int i = (len1 > len2 ? len1 : len2) - 1; i >= 0; --i) {
            if (!at_infinity(acc)) point_double(acc, acc);
            if (d2[i] != 0) {
                CachedPoint e = odd_q[(d2[i] > 0 ? d2[i] : -d2[i]) / 2];
                if (d2[i] < 0) fneg(e.y, e.y);
                add_vartime(acc, e);
            }
            if (d1[i] != 0) {
                AffinePoint e = kOddG[(d1[i] > 0 ? d1[i] : -d1[i]) / 2];
                if (d1[i] < 0) fneg(e.y, e.y);
                add_mixed_vartime(acc, e);
            }
        }
    }

    void double_mul(ec_point* out, const bn256 u1, const ec_point* q, const bn256 u2) {
        JacobianPoint acc;
        double_mul_jacobian(acc, u1, q, u2);
        to_affine(out, acc, 0);
    }

    int32_t verify_compare(const bn256 u1, const ec_point* q, const bn256 u2, const bn256 e,
                           const bn256 r) {
        JacobianPoint acc;
        double_mul_jacobian(acc, u1, q, u2);
        Fe er, rw, candidate;
        load(er, e);
        nreduce(er, er);
        load(rw, r);
        // R = r exactly when x = r - e mod n or that plus n (below p), and x = X / Z^2.
        mod_sub(candidate, rw, er, kN);
        if (!at_infinity(acc)) {
            Fe zz, t;
            fsqr(zz, acc.z);
            for (int i = 0; i < 2; ++i) {
                Fe m;
                to_mont_p(m, candidate);
                fmul(t, m, zz);
                if (equal(t, acc.x)) return 0;
                Carry carry = 0;
                for (int w = 0; w < 4; ++w) candidate.v[w] = addc(candidate.v[w], kN.v[w], carry);
                if (carry || !less_than(candidate, kP)) break;
            }
        }
        // No match: the comparison needs R itself.
        ec_point x1;
        to_affine(&x1, acc, 0);
        Fe big_r;
        load(big_r, x1.x);
        nreduce(big_r, big_r);
        mod_add(big_r, big_r, er, kN);
        bn256 big_r_limbs;
        store(big_r_limbs, big_r);
        return bn_cmp(big_r_limbs, r);
    }
};

}  // namespace

void double_mul(ec_point* out, const bn256 u1, const ec_point* q, const bn256 u2) {
    with_field<VartimeMul>([&](auto ops) { ops.double_mul(out, u1, q, u2); });
}

int32_t verify_compare(const bn256 u1, const ec_point* q, const bn256 u2, const bn256 e,
                       const bn256 r) {
    return with_field<VartimeMul>([&](auto ops) { return ops.verify_compare(u1, q, u2, e, r); });
}

}  // namespace crypto_internal::sm2_fast
