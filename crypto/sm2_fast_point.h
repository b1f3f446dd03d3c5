// Point formulas on a field backend F for the curve's a = -3: doubling, the sum with a Jacobian,
// cached or affine point, masked selection, and the way back to the affine limb form. The sums
// are incomplete: callers keep them away from P + P, P - P and the point at infinity, or (the
// variable-time ones) look at the cases that the sums report.
#pragma once

#include "crypto/sm2_fast_field.h"

namespace crypto_internal::sm2_fast {

template <class F>
struct Points : Field<F> {
    using Field<F>::fmul;
    using Field<F>::fsqr;
    using Field<F>::finv;
    using Field<F>::from_mont_p;

    // 2 P for a = -3 (dbl-2001-b); infinity stays infinity.
    void point_double(JacobianPoint& out, const JacobianPoint& in) {
        Fe delta, gamma, beta, alpha, t, u;
        fsqr(delta, in.z);
        fsqr(gamma, in.y);
        fmul(beta, in.x, gamma);
        fsub(t, in.x, delta);
        fadd(u, in.x, delta);
        fmul(alpha, t, u);
        ftriple(alpha, alpha);  // 3 (X - delta)(X + delta)
        fmul(t, in.y, in.z);
        fadd(out.z, t, t);  // 2 Y Z = (Y + Z)^2 - gamma - delta
        fshl(beta, beta, 2);
        fsqr(t, alpha);
        fadd(u, beta, beta);
        fsub(out.x, t, u);
        fsub(t, beta, out.x);
        fmul(t, alpha, t);
        fsqr(gamma, gamma);
        fshl(gamma, gamma, 3);
        fsub(out.y, t, gamma);
    }

    // p with its Z^2 and Z^3, for a point that is added many times.
    CachedPoint cached(const JacobianPoint& p) {
        CachedPoint c = {p.x, p.y, p.z, {}, {}};
        fsqr(c.zz, p.z);
        fmul(c.zzz, c.zz, p.z);
        return c;
    }

    // The end both sums share: X3 = r^2 - J - 2 V, Y3 = r (V - X3) - 2 S1 J, with r already
    // doubled. out.z is written by the caller; s1 may be out.y.
    SM2_INLINE void sum_xy(JacobianPoint& out, const Fe& r, const Fe& j, const Fe& v,
                           const Fe& s1) {
        Fe t, u;
        fsqr(t, r);
        fsub(t, t, j);
        fsub(t, t, v);
        fsub(out.x, t, v);
        fsub(t, v, out.x);
        fmul(t, r, t);
        fmul(u, s1, j);
        fadd(u, u, u);
        fsub(out.y, t, u);
    }

    // a + b (add-2007-bl) for a != +-b, neither at infinity. h_zero and r_zero report the
    // exceptional cases to the variable-time caller.
    void point_add_cached(JacobianPoint& out, const JacobianPoint& a, const CachedPoint& b,
                          u64* h_zero = nullptr, u64* r_zero = nullptr) {
        Fe z1z1, u1, u2, s1, s2, h, i, j, r, v, t;
        fsqr(z1z1, a.z);
        fmul(u1, a.x, b.zz);
        fmul(u2, b.x, z1z1);
        fmul(s1, a.y, b.zzz);
        fmul(s2, b.y, a.z);
        fmul(s2, s2, z1z1);
        fsub(h, u2, u1);
        fsub(r, s2, s1);
        if (h_zero != nullptr) *h_zero = is_zero_mask(h);
        if (r_zero != nullptr) *r_zero = is_zero_mask(r);
        fadd(i, h, h);
        fsqr(i, i);
        fmul(j, h, i);
        fadd(r, r, r);
        fmul(v, u1, i);
        fmul(t, a.z, b.z);
        fadd(t, t, t);
        fmul(out.z, t, h);  // 2 Z1 Z2 H
        sum_xy(out, r, j, v, s1);
    }

    void point_add_jacobian(JacobianPoint& out, const JacobianPoint& a, const JacobianPoint& b) {
        CachedPoint c = cached(b);
        point_add_cached(out, a, c);
        secure_wipe(&c, sizeof c);
    }

    // a + b for affine b (madd-2007-bl), with the same conditions as point_add_jacobian.
    void point_add_mixed(JacobianPoint& out, const JacobianPoint& a, const AffinePoint& b,
                         u64* h_zero = nullptr, u64* r_zero = nullptr) {
        Fe z1z1, u2, s2, h, hh, i, j, r, v, t;
        fsqr(z1z1, a.z);
        fmul(u2, b.x, z1z1);
        fmul(s2, b.y, a.z);
        fmul(s2, s2, z1z1);
        fsub(h, u2, a.x);
        fsub(r, s2, a.y);
        if (h_zero != nullptr) *h_zero = is_zero_mask(h);
        if (r_zero != nullptr) *r_zero = is_zero_mask(r);
        fsqr(hh, h);
        fadd(i, hh, hh);
        fadd(i, i, i);
        fmul(j, h, i);
        fadd(r, r, r);
        fmul(v, a.x, i);
        fmul(t, a.z, h);
        fadd(out.z, t, t);  // 2 Z1 H
        sum_xy(out, r, j, v, a.y);
    }

    inline void select_point(JacobianPoint& out, u64 mask, const JacobianPoint& a,
                             const JacobianPoint& b) {
        select(out.x, mask, a.x, b.x);
        select(out.y, mask, a.y, b.y);
        select(out.z, mask, a.z, b.z);
    }

    // The affine limb form of p given zinv = 1 / Z (0 for infinity, giving (0, 0)), y negated
    // under the mask. Constant-time.
    void to_affine_with(ec_point* out, const JacobianPoint& p, const Fe& zinv, u64 negate) {
        Fe zinv2, x, y;
        fsqr(zinv2, zinv);
        fmul(x, p.x, zinv2);
        fmul(zinv2, zinv2, zinv);
        fmul(y, p.y, zinv2);
        fneg_masked(y, negate);
        from_mont_p(x, x);
        from_mont_p(y, y);
        store(out->x, x);
        store(out->y, y);
        secure_wipe(&zinv2, sizeof zinv2);
        secure_wipe(&x, sizeof x);
        secure_wipe(&y, sizeof y);
    }

    void to_affine(ec_point* out, const JacobianPoint& p, u64 negate) {
        Fe zinv;
        finv(zinv, p.z);
        to_affine_with(out, p, zinv, negate);
        secure_wipe(&zinv, sizeof zinv);
    }

    // True for the point at infinity (Z = 0).
    bool at_infinity(const JacobianPoint& p) { return is_zero_mask(p.z) != 0; }
};

}  // namespace crypto_internal::sm2_fast
