// The affine entry points on points from outside: the curve check and the variable-time sum.
#include "crypto/sm2_fast_point.h"

#include "crypto/sm2_fast.h"
#include "crypto/sm2_fast_backend.h"

namespace crypto_internal::sm2_fast {
namespace {

template <class F>
struct AffinePoints : Points<F> {
    using Points<F>::fmul;
    using Points<F>::fsqr;
    using Points<F>::finv;
    using Points<F>::to_mont_p;
    using Points<F>::from_mont_p;

    int32_t point_check(const ec_point* point) {
        Fe x, y;
        load(x, point->x);
        load(y, point->y);
        if (is_zero_mask(x) & is_zero_mask(y)) return 1;
        if (!less_than(x, kP) || !less_than(y, kP)) return 1;
        to_mont_p(x, x);
        to_mont_p(y, y);
        Fe lhs, rhs, three;
        fsqr(lhs, y);
        fadd(three, kOneP, kOneP);
        fadd(three, three, kOneP);
        fsqr(rhs, x);
        fsub(rhs, rhs, three);
        fmul(rhs, rhs, x);
        fadd(rhs, rhs, kBMont);
        return equal(lhs, rhs) ? 0 : 1;
    }

    void point_add(ec_point* out, const ec_point* p1, const ec_point* p2) {
        Fe x1, y1, x2, y2;
        load(x1, p1->x);
        load(y1, p1->y);
        load(x2, p2->x);
        load(y2, p2->y);
        if (equal(x1, x2)) {
            bn_clear(out->x);
            bn_clear(out->y);
            return;
        }
        to_mont_p(x1, x1);
        to_mont_p(y1, y1);
        to_mont_p(x2, x2);
        to_mont_p(y2, y2);
        Fe lambda, t, x3, y3;
        fsub(t, x2, x1);
        finv(t, t);
        fsub(lambda, y2, y1);
        fmul(lambda, lambda, t);
        fsqr(x3, lambda);
        fsub(x3, x3, x1);
        fsub(x3, x3, x2);
        fsub(t, x1, x3);
        fmul(y3, lambda, t);
        fsub(y3, y3, y1);
        from_mont_p(x3, x3);
        from_mont_p(y3, y3);
        store(out->x, x3);
        store(out->y, y3);
    }
};

}  // namespace

int32_t point_check(const ec_point* point) {
    return with_field<AffinePoints>([&](auto ops) { return ops.point_check(point); });
}

void point_add(ec_point* out, const ec_point* p1, const ec_point* p2) {
    with_field<AffinePoints>([&](auto ops) { ops.point_add(out, p1, p2); });
}

}  // namespace crypto_internal::sm2_fast
