// The vector ops of sm4_vector_rounds.h on YMM registers, for the AVX2 paths: 8 blocks per group,
// two groups in flight. Each path file includes this after its target pragma; everything here has
// internal linkage, so each path file gets its own copy compiled for its own target. It includes
// no standard header: the path file includes <immintrin.h>, sm4_blocks.h and sm4_sbox_affine.h
// first.
#pragma once

#include "crypto/sm4_vector_rounds.h"

namespace crypto_internal {
namespace {

struct Ymm {
    using V = __m256i;
    static constexpr int kBlocks = 2;
    static constexpr int kEcbInFlight = 2;

    static V load(const uint8_t* p) { return _mm256_loadu_si256(reinterpret_cast<const V*>(p)); }
    static void store(uint8_t* p, V v) { _mm256_storeu_si256(reinterpret_cast<V*>(p), v); }
    // The first n (0 to 2) blocks at p, zero past them; no access past them.
    static V load_part(const uint8_t* p, size_t n) {
        return _mm256_maskload_epi32(reinterpret_cast<const int*>(p), part_mask(n));
    }
    static void store_part(uint8_t* p, size_t n, V v) {
        _mm256_maskstore_epi32(reinterpret_cast<int*>(p), part_mask(n), v);
    }

    static V lanes(__m128i x) { return _mm256_broadcastsi128_si256(x); }
    static __m128i low128(V x) { return _mm256_castsi256_si128(x); }
    static __m128i lane(V x, size_t i) {
        return i ? _mm256_extracti128_si256(x, 1) : _mm256_castsi256_si128(x);
    }
    // T and T * alpha, from the tweak T as a little-endian integer.
    static V first_tweaks(__m128i t) {
        const V v = lanes(t);
        const V next = mul_alpha_k<1, Ymm>(v);
        return _mm256_blend_epi32(v, next, 0xF0);
    }

    static V bxor(V a, V b) { return _mm256_xor_si256(a, b); }
    static V xor3(V a, V b, V c) { return bxor(bxor(a, b), c); }
    static V band(V a, V b) { return _mm256_and_si256(a, b); }
    static V shuffle(V x, V idx) { return _mm256_shuffle_epi8(x, idx); }
    static V set1_32(uint32_t w) { return _mm256_set1_epi32(static_cast<int>(w)); }
    static V set1_64(uint64_t w) { return _mm256_set1_epi64x(static_cast<long long>(w)); }
    static V slli64(V x, int n) { return _mm256_slli_epi64(x, n); }
    static V srli64(V x, int n) { return _mm256_srli_epi64(x, n); }
    static V srli16(V x, int n) { return _mm256_srli_epi16(x, n); }
    static V bslli8(V x) { return _mm256_bslli_epi128(x, 8); }
    static V bsrli8(V x) { return _mm256_bsrli_epi128(x, 8); }
    static V unpacklo32(V a, V b) { return _mm256_unpacklo_epi32(a, b); }
    static V unpackhi32(V a, V b) { return _mm256_unpackhi_epi32(a, b); }
    static V unpacklo64(V a, V b) { return _mm256_unpacklo_epi64(a, b); }
    static V unpackhi64(V a, V b) { return _mm256_unpackhi_epi64(a, b); }

    // x0 ^ L(t), L(t) = t ^ (t <<< 24) ^ ((t ^ (t <<< 8) ^ (t <<< 16)) <<< 2).
    static V mix(V x0, V t, const Sm4Shuffles<Ymm>& k) {
        V a = xor3(t, shuffle(t, k.rol8), shuffle(t, k.rol16));
        a = _mm256_or_si256(_mm256_slli_epi32(a, 2), _mm256_srli_epi32(a, 30));
        return bxor(bxor(x0, t), bxor(a, shuffle(t, k.rol24)));
    }

    // For the S-box layers: each is used only by a path whose target has the instruction.
    template <int B>
    static V gf2p8affine(V x, V m) {
        return _mm256_gf2p8affine_epi64_epi8(x, m, B);
    }
    template <int B>
    static V gf2p8affineinv(V x, V m) {
        return _mm256_gf2p8affineinv_epi64_epi8(x, m, B);
    }
    // AESENCLAST on each lane (no VAES: one XMM instruction per lane).
    static V aesenclast_zero(V x) {
        const __m128i zero = _mm_setzero_si128();
        const __m128i lo = _mm_aesenclast_si128(_mm256_castsi256_si128(x), zero);
        const __m128i hi = _mm_aesenclast_si128(_mm256_extracti128_si256(x, 1), zero);
        return _mm256_set_m128i(hi, lo);
    }

  private:
    // Word mask of the first n blocks of a register.
    static V part_mask(size_t n) {
        return _mm256_cmpgt_epi32(_mm256_set1_epi32(static_cast<int>(4 * n)),
                                  _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7));
    }
};

}  // namespace
}  // namespace crypto_internal
