// Four-word numbers of the fast SM2 arithmetic: a 256-bit value as four 64-bit words, least
// significant first. The carry chains, the loads and stores of the bn256 limb form, masks and
// comparisons, and the once-reduced sum and difference modulo m that the field and the scalars
// share. Nothing here branches on or indexes by the values.
#pragma once

#include <cstdint>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include "base/byte_access.h"
#include "crypto/bn256.h"
#include "crypto/constant_time.h"

#if defined(__GNUC__)
#define SM2_INLINE inline __attribute__((always_inline))
#else
#define SM2_INLINE inline
#endif

namespace crypto_internal::sm2_fast {

using u64 = uint64_t;
using u128 = unsigned __int128;

struct Fe {
    u64 v[4];
};

// Carry and borrow bits of the word chains.
using Carry = unsigned char;

SM2_INLINE u64 addc(u64 a, u64 b, Carry& carry) {
#if defined(__x86_64__)
    unsigned long long out;
    carry = _addcarry_u64(carry, a, b, &out);
    return out;
#else
    const u128 s = static_cast<u128>(a) + b + carry;
    carry = static_cast<Carry>(s >> 64);
    return static_cast<u64>(s);
#endif
}

SM2_INLINE u64 subb(u64 a, u64 b, Carry& borrow) {
#if defined(__x86_64__)
    unsigned long long out;
    borrow = _subborrow_u64(borrow, a, b, &out);
    return out;
#else
    const u128 d = static_cast<u128>(a) - b - borrow;
    borrow = static_cast<Carry>(d >> 64) & 1;
    return static_cast<u64>(d);
#endif
}

// (hi, lo) := a * b.
SM2_INLINE u64 mul_lo_hi(u64 a, u64 b, u64& hi) {
    const u128 p = static_cast<u128>(a) * b;
    hi = static_cast<u64>(p >> 64);
    return static_cast<u64>(p);
}

// The bn256 limbs are little-endian, so each word is eight of them in order.
inline void load(Fe& out, const bn256 in) {
    for (int i = 0; i < 4; ++i) out.v[i] = bytes::load_le64(in + 8 * i);
}

inline void store(bn256 out, const Fe& in) {
    for (int i = 0; i < 4; ++i) bytes::store_le64(out + 8 * i, in.v[i]);
}

// mask ? a : b, word by word.
inline void select(Fe& out, u64 mask, const Fe& a, const Fe& b) {
    for (int i = 0; i < 4; ++i) out.v[i] = ct_select(mask, a.v[i], b.v[i]);
}

inline u64 is_zero_mask(const Fe& a) {
    return ct_is_zero_mask(a.v[0] | a.v[1] | a.v[2] | a.v[3]);
}

inline bool equal(const Fe& a, const Fe& b) {
    return ((a.v[0] ^ b.v[0]) | (a.v[1] ^ b.v[1]) | (a.v[2] ^ b.v[2]) | (a.v[3] ^ b.v[3])) == 0;
}

// Borrow of a - b: 1 when a < b.
inline u64 less_than(const Fe& a, const Fe& b) {
    Carry borrow = 0;
    for (int i = 0; i < 4; ++i) subb(a.v[i], b.v[i], borrow);
    return borrow;
}

// out := (hi * 2^256 + r) reduced once by m, for a value below 2m.
SM2_INLINE void final_subtract(Fe& out, const u64 r[4], u64 hi, const Fe& m) {
    u64 d[4];
    Carry borrow = 0;
    for (int i = 0; i < 4; ++i) d[i] = subb(r[i], m.v[i], borrow);
    // Add m back only when r < m with nothing above 2^256.
    const u64 keep = 0 - (u64{borrow} & (hi ^ 1));
    Carry carry = 0;
    for (int i = 0; i < 4; ++i) out.v[i] = addc(d[i], m.v[i] & keep, carry);
}

SM2_INLINE void mod_add(Fe& out, const Fe& a, const Fe& b, const Fe& m) {
    u64 r[4];
    Carry carry = 0;
    for (int i = 0; i < 4; ++i) r[i] = addc(a.v[i], b.v[i], carry);
    final_subtract(out, r, carry, m);
}

SM2_INLINE void mod_sub(Fe& out, const Fe& a, const Fe& b, const Fe& m) {
    u64 r[4];
    Carry borrow = 0;
    for (int i = 0; i < 4; ++i) r[i] = subb(a.v[i], b.v[i], borrow);
    const u64 mask = 0 - u64{borrow};
    Carry carry = 0;
    for (int i = 0; i < 4; ++i) out.v[i] = addc(r[i], m.v[i] & mask, carry);
}

}  // namespace crypto_internal::sm2_fast
