// Fast SM2 arithmetic on 64-bit words beside the byte-limb functions of bn256.h and ec.h, with
// the same results. Numbers and points come and go in the bn256 / ec_point limb form.
//
// Field elements are kept in Montgomery form modulo p inside; p = -1 mod 2^64 makes the
// reduction shifts and additions. Scalars use Montgomery multiplication modulo n. Functions
// marked constant-time take secret inputs without secret-dependent branches or addresses. The code
// is in crypto/sm2_fast_*; crypto/sm2_fast_internal.h says which file holds what.
#pragma once

#include <cstdint>

#include "crypto/bn256.h"

namespace crypto_internal::sm2_fast {

// Field modulo p, inputs below p. fp_inv is x^(p - 2) (0 for 0). Constant-time.
void fp_mul(bn256 out, const bn256 x, const bn256 y);
void fp_sqr(bn256 out, const bn256 x);
void fp_inv(bn256 out, const bn256 x);

// Scalars modulo n, constant-time. fn_reduce takes any 256-bit x; the others inputs below n.
// fn_inv is x^(n - 2) (0 for 0).
void fn_reduce(bn256 out, const bn256 x);
void fn_add(bn256 out, const bn256 x, const bn256 y);
void fn_sub(bn256 out, const bn256 x, const bn256 y);
void fn_mul(bn256 out, const bn256 x, const bn256 y);
void fn_inv(bn256 out, const bn256 x);

// 0 when point is an affine curve point with coordinates below p, else 1 (sm2_point_check).
int32_t point_check(const ec_point* point);

// out := [k mod n] G, (0, 0) for k = 0 mod n. Constant-time in k (secret).
void base_mul(ec_point* out, const bn256 k);
// out := [k mod n] point for a point that passes point_check. Constant-time in k (secret); the
// point is public.
void point_mul(ec_point* out, const ec_point* point, const bn256 k);
// base_out := [k mod n] G and point_out := [k mod n] point (base_mul and point_mul) with one
// inversion. Constant-time in k (secret).
void base_and_point_mul(ec_point* base_out, ec_point* point_out, const ec_point* point,
                        const bn256 k);
// out := [u1] G + [u2] q for q that passes point_check; (0, 0) for the point at infinity.
// Variable-time: every input is public.
void double_mul(ec_point* out, const bn256 u1, const ec_point* q, const bn256 u2);
// The comparison of SM2 verification: bn_cmp((x + e) mod n, r) for (x, y) = [u1] G + [u2] q
// ((0, 0) at infinity), q passing point_check, r below n. Variable-time.
int32_t verify_compare(const bn256 u1, const ec_point* q, const bn256 u2, const bn256 e,
                       const bn256 r);
// out := p1 + p2 for points that pass point_check, (0, 0) when their x coordinates are equal
// (ec_point_add). Variable-time.
void point_add(ec_point* out, const ec_point* p1, const ec_point* p2);

// The field arithmetic under all of the above: portable C++, or MULX/ADCX/ADOX (BMI2 and ADX)
// on x86-64. The results are the same; the fastest supported backend is chosen on first use.
enum class FieldBackend { kPortable, kAdx };
bool field_backend_supported(FieldBackend backend);
FieldBackend field_backend();
// Makes backend the active one, for tests and benchmarks; false (nothing changed) when it is not
// supported. Not to be called while another thread runs SM2.
bool force_field_backend(FieldBackend backend);
// One Montgomery multiplication x y / 2^256 (squaring x x / 2^256) modulo p on words, least
// significant first, with a supported backend. Inputs below p give the result below p; any
// other 256-bit inputs give the same words on every backend.
void mont_mul_p(uint64_t out[4], const uint64_t x[4], const uint64_t y[4], FieldBackend backend);
void mont_sqr_p(uint64_t out[4], const uint64_t x[4], FieldBackend backend);

}  // namespace crypto_internal::sm2_fast
