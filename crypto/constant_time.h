// Constant-time helpers: masks, selection, comparison, wiping and a value barrier.
//
// A mask is 0 or all ones. Nothing here branches on or indexes by its arguments. In a build with
// HALDEN_CT_VALGRIND, ct_poison marks memory as undefined for memcheck, so that a branch or an
// address computed from a secret is reported; ct_unpoison marks a value that is public by
// design (a signature, a comparison result). In other builds both do nothing.
#pragma once

#include <cstddef>
#include <cstdint>

#include "crypto/secure_wipe.h"

#if defined(HALDEN_CT_VALGRIND)
#include <valgrind/memcheck.h>
#endif

namespace crypto_internal {

// Hides x from the optimiser, which could otherwise turn mask arithmetic back into branches.
inline uint64_t value_barrier(uint64_t x) {
#if defined(__GNUC__)
    __asm__("" : "+r"(x));
#endif
    return x;
}

// All ones when x is zero, else zero.
inline uint64_t ct_is_zero_mask(uint64_t x) {
    return value_barrier(((~x & (x - 1)) >> 63) * ~uint64_t{0});
}

inline uint64_t ct_nonzero_mask(uint64_t x) {
    return ~ct_is_zero_mask(x);
}

inline uint64_t ct_eq_mask(uint64_t a, uint64_t b) {
    return ct_is_zero_mask(a ^ b);
}

// mask ? a : b. The mask passes the barrier, so that the optimiser cannot see that it is 0 or all
// ones and turn the selection into a branch.
inline uint64_t ct_select(uint64_t mask, uint64_t a, uint64_t b) {
    mask = value_barrier(mask);
    return (mask & a) | (~mask & b);
}

// All ones when the len bytes at a and b are equal.
inline uint64_t ct_bytes_eq_mask(const uint8_t* a, const uint8_t* b, size_t len) {
    uint64_t diff = 0;
    for (size_t i = 0; i < len; ++i) diff |= uint64_t{static_cast<uint8_t>(a[i] ^ b[i])};
    return ct_is_zero_mask(diff);
}

// All ones when the len bytes at a are zero.
inline uint64_t ct_bytes_zero_mask(const uint8_t* a, size_t len) {
    uint64_t acc = 0;
    for (size_t i = 0; i < len; ++i) acc |= a[i];
    return ct_is_zero_mask(acc);
}

inline void ct_poison(const void* data, size_t len) {
#if defined(HALDEN_CT_VALGRIND)
    VALGRIND_MAKE_MEM_UNDEFINED(data, len);
#else
    (void)data;
    (void)len;
#endif
}

inline void ct_unpoison(const void* data, size_t len) {
#if defined(HALDEN_CT_VALGRIND)
    VALGRIND_MAKE_MEM_DEFINED(data, len);
#else
    (void)data;
    (void)len;
#endif
}

// The public truth value of a mask computed from secrets (a rejection that is revealed anyway).
// The mask passes the barrier, so that code before the point of declassification cannot be
// rewritten by the optimiser to branch on it.
inline bool ct_declassify(uint64_t mask) {
    ct_unpoison(&mask, sizeof mask);
    return value_barrier(mask) != 0;
}

}  // namespace crypto_internal
