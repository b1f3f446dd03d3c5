// The field's entry points on the limb form, and one Montgomery product on a chosen backend.
#include "crypto/sm2_fast_field.h"

#include "crypto/sm2_fast.h"
#include "crypto/sm2_fast_backend.h"

namespace crypto_internal::sm2_fast {
namespace {

template <class F>
struct FieldEntries : Field<F> {
    using Field<F>::fmul;
    using Field<F>::fsqr;
    using Field<F>::finv;
    using Field<F>::to_mont_p;
    using Field<F>::from_mont_p;

    void fp_mul(bn256 out, const bn256 x, const bn256 y) {
        Fe a, b;
        load(a, x);
        load(b, y);
        to_mont_p(a, a);
        to_mont_p(b, b);
        fmul(a, a, b);
        from_mont_p(a, a);
        store(out, a);
    }

    void fp_sqr(bn256 out, const bn256 x) {
        Fe a;
        load(a, x);
        to_mont_p(a, a);
        fsqr(a, a);
        from_mont_p(a, a);
        store(out, a);
    }

    void fp_inv(bn256 out, const bn256 x) {
        Fe a;
        load(a, x);
        to_mont_p(a, a);
        finv(a, a);
        from_mont_p(a, a);
        store(out, a);
        secure_wipe(&a, sizeof a);
    }
};

}  // namespace

void mont_mul_p(uint64_t out[4], const uint64_t x[4], const uint64_t y[4], FieldBackend b) {
    const Fe a = {{x[0], x[1], x[2], x[3]}}, c = {{y[0], y[1], y[2], y[3]}};
    Fe r;
    with_backend<Field>(b, [&](auto ops) { ops.fmul(r, a, c); });
    for (int i = 0; i < 4; ++i) out[i] = r.v[i];
}

void mont_sqr_p(uint64_t out[4], const uint64_t x[4], FieldBackend b) {
    const Fe a = {{x[0], x[1], x[2], x[3]}};
    Fe r;
    with_backend<Field>(b, [&](auto ops) { ops.fsqr(r, a); });
    for (int i = 0; i < 4; ++i) out[i] = r.v[i];
}

void fp_mul(bn256 out, const bn256 x, const bn256 y) {
    with_field<FieldEntries>([&](auto ops) { ops.fp_mul(out, x, y); });
}

void fp_sqr(bn256 out, const bn256 x) {
    with_field<FieldEntries>([&](auto ops) { ops.fp_sqr(out, x); });
}

void fp_inv(bn256 out, const bn256 x) {
    with_field<FieldEntries>([&](auto ops) { ops.fp_inv(out, x); });
}

}  // namespace crypto_internal::sm2_fast
