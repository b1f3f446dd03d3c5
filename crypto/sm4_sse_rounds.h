// The vector ops of sm4_vector_rounds.h on XMM registers: 4 blocks per group, two groups in flight.
// Compiled for an SSE target they use the legacy SSE encoding and no AVX state, so they also suit
// code that may not touch the YMM/ZMM registers (a Windows kernel-mode caller that does not save
// the extended state); the AVX paths use them for the key set-up. Each path file includes this
// after its target pragma; everything here has internal linkage. It includes no standard header:
// the path file includes <immintrin.h>, sm4_blocks.h and sm4_sbox_affine.h first.
#pragma once

#include "crypto/sm4_vector_rounds.h"

namespace crypto_internal {
namespace {

struct Xmm {
    using V = __m128i;
    static constexpr int kBlocks = 1;
    static constexpr int kEcbInFlight = 2;

    static V load(const uint8_t* p) { return _mm_loadu_si128(reinterpret_cast<const V*>(p)); }
    static void store(uint8_t* p, V v) { _mm_storeu_si128(reinterpret_cast<V*>(p), v); }
    // The first n (0 or 1) blocks at p, zero past them.
    static V load_part(const uint8_t* p, size_t n) { return n ? load(p) : _mm_setzero_si128(); }
    static void store_part(uint8_t* p, size_t n, V v) {
        if (n) store(p, v);
    }

    static V lanes(__m128i x) { return x; }
    static __m128i low128(V x) { return x; }
    static __m128i lane(V x, size_t) { return x; }
    static V first_tweaks(__m128i t) { return t; }

    static V bxor(V a, V b) { return _mm_xor_si128(a, b); }
    static V xor3(V a, V b, V c) { return bxor(bxor(a, b), c); }
    static V band(V a, V b) { return _mm_and_si128(a, b); }
    static V shuffle(V x, V idx) { return _mm_shuffle_epi8(x, idx); }
    static V set1_32(uint32_t w) { return _mm_set1_epi32(static_cast<int>(w)); }
    static V set1_64(uint64_t w) { return _mm_set1_epi64x(static_cast<long long>(w)); }
    static V slli64(V x, int n) { return _mm_slli_epi64(x, n); }
    static V srli64(V x, int n) { return _mm_srli_epi64(x, n); }
    static V srli16(V x, int n) { return _mm_srli_epi16(x, n); }
    static V bslli8(V x) { return _mm_slli_si128(x, 8); }
    static V bsrli8(V x) { return _mm_srli_si128(x, 8); }
    static V unpacklo32(V a, V b) { return _mm_unpacklo_epi32(a, b); }
    static V unpackhi32(V a, V b) { return _mm_unpackhi_epi32(a, b); }
    static V unpacklo64(V a, V b) { return _mm_unpacklo_epi64(a, b); }
    static V unpackhi64(V a, V b) { return _mm_unpackhi_epi64(a, b); }

    // x0 ^ L(t), L(t) = t ^ (t <<< 24) ^ ((t ^ (t <<< 8) ^ (t <<< 16)) <<< 2).
    static V mix(V x0, V t, const Sm4Shuffles<Xmm>& k) {
        V a = xor3(t, shuffle(t, k.rol8), shuffle(t, k.rol16));
        a = _mm_or_si128(_mm_slli_epi32(a, 2), _mm_srli_epi32(a, 30));
        return bxor(bxor(x0, t), bxor(a, shuffle(t, k.rol24)));
    }

    // For the S-box layers: each is used only by a path whose target has the instruction.
    template <int B>
    static V gf2p8affine(V x, V m) {
        return _mm_gf2p8affine_epi64_epi8(x, m, B);
    }
    template <int B>
    static V gf2p8affineinv(V x, V m) {
        return _mm_gf2p8affineinv_epi64_epi8(x, m, B);
    }
    static V aesenclast_zero(V x) { return _mm_aesenclast_si128(x, _mm_setzero_si128()); }
};

}  // namespace
}  // namespace crypto_internal
