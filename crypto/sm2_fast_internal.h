// What the files of the fast SM2 arithmetic (crypto/sm2_fast_*, behind crypto/sm2_fast.h) share:
// the curve's constants in word form, the point representations, and the scalar reads of both
// multiplications.
//
// Field elements are Montgomery residues x * 2^256 mod p (crypto/sm2_fast_field.h, with the
// MULX/ADX backend in crypto/sm2_fast_field_adx.h); scalars are Montgomery residues modulo n while
// they are multiplied (sm2_fast_scalar.cc). The point formulas (crypto/sm2_fast_point.h) run on
// a field backend F; the constant-time multiplications (sm2_fast_mul.cc) and the variable-time
// ones (sm2_fast_mul_vartime.cc) build on them; sm2_fast_backend.{h,cc} picks F once per public
// operation.
#pragma once

#include "crypto/sm2_fast_words.h"

namespace crypto_internal::sm2_fast {

inline constexpr Fe kP = {
    {0xffffffffffffffffULL, 0xffffffff00000000ULL, 0xffffffffffffffffULL, 0xfffffffeffffffffULL}};
inline constexpr Fe kN = {
    {0x53bbf40939d54123ULL, 0x7203df6b21c6052bULL, 0xffffffffffffffffULL, 0xfffffffeffffffffULL}};
// (n - 1) / 2: scalars above it are negated so that every window sum stays below n / 2.
inline constexpr Fe kHalfN = {
    {0xa9ddfa049ceaa091ULL, 0xb901efb590e30295ULL, 0xffffffffffffffffULL, 0x7fffffff7fffffffULL}};
inline constexpr Fe kNMinus2 = {
    {0x53bbf40939d54121ULL, 0x7203df6b21c6052bULL, 0xffffffffffffffffULL, 0xfffffffeffffffffULL}};
// -n^-1 mod 2^64; for p it is 1.
inline constexpr u64 kN0 = 0x327f9e8872350975ULL;
// 2^512 mod p and mod n: Montgomery multiplication by them enters the Montgomery domain.
inline constexpr Fe kRRp = {
    {0x0000000200000003ULL, 0x00000002ffffffffULL, 0x0000000100000001ULL, 0x0000000400000002ULL}};
inline constexpr Fe kRRn = {
    {0x901192af7c114f20ULL, 0x3464504ade6fa2faULL, 0x620fc84c3affe0d4ULL, 0x1eb5e412a22b3d3bULL}};
// 1 in Montgomery form (2^256 mod p and mod n), and b in Montgomery form modulo p.
inline constexpr Fe kOneP = {
    {0x0000000000000001ULL, 0x00000000ffffffffULL, 0x0000000000000000ULL, 0x0000000100000000ULL}};
inline constexpr Fe kOneN = {
    {0xac440bf6c62abeddULL, 0x8dfc2094de39fad4ULL, 0x0000000000000000ULL, 0x0000000100000000ULL}};
inline constexpr Fe kBMont = {
    {0x90d230632bc0dd42ULL, 0x71cf379ae9b537abULL, 0x527981505ea51c3cULL, 0x240fe188ba20e2c8ULL}};

struct AffinePoint {
    Fe x, y;
};

// Jacobian (X, Y, Z) = (X / Z^2, Y / Z^3); Z = 0 is the point at infinity.
struct JacobianPoint {
    Fe x, y, z;
};

// A Jacobian point with Z^2 and Z^3, for points added many times.
struct CachedPoint {
    Fe x, y, z, zz, zzz;
};

// x mod n for x < 2^256 < 2n.
inline void nreduce(Fe& out, const Fe& x) {
    final_subtract(out, x.v, 0, kN);
}

// width bits of k from bit position pos (which may be -1, reading a zero below bit 0). The
// position is public.
inline u64 window_bits(const u64 k[5], int pos, int width) {
    const u64 mask = (u64{1} << width) - 1;
    if (pos < 0) return (k[0] << 1) & mask;
    const int word = pos / 64, shift = pos % 64;
    u64 bits = k[word] >> shift;
    if (shift + width > 64) bits |= k[word + 1] << (64 - shift);
    return bits & mask;
}

}  // namespace crypto_internal::sm2_fast
