// SM4 on ZMM registers with GFNI: 16 blocks per group, up to four groups in flight for ECB and
// two for XTS (a 512-byte sector); the S-box is two affine instructions (crypto/sm4_sbox_affine.h).
// The vector ops of sm4_vector_rounds.h on ZMM registers are here, their only user.

// GCC 12's AVX-512 intrinsics initialise their "undefined" operands from themselves.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#include <immintrin.h>
#pragma GCC diagnostic pop

#include <cstddef>
#include <cstdint>

#include "crypto/sm4_blocks.h"
#include "crypto/sm4_sbox_affine.h"

#if defined(__x86_64__) && !defined(HALDEN_SM4_NO_VECTOR)

#pragma GCC push_options
#pragma GCC target("avx512f,avx512bw,avx512vl,gfni")

#include "crypto/sm4_key_setup.h"
#include "crypto/sm4_sse_rounds.h"
#include "crypto/sm4_vector_rounds.h"

namespace crypto_internal {
namespace {

struct Zmm {
    using V = __m512i;
    static constexpr int kBlocks = 4;
    static constexpr int kEcbInFlight = 4;

    static V load(const uint8_t* p) { return _mm512_loadu_si512(p); }
    static void store(uint8_t* p, V v) { _mm512_storeu_si512(p, v); }
    // The first n (0 to 4) blocks at p, zero past them; no access past them.
    static V load_part(const uint8_t* p, size_t n) {
        return _mm512_maskz_loadu_epi32(part_mask(n), p);
    }
    static void store_part(uint8_t* p, size_t n, V v) {
        _mm512_mask_storeu_epi32(p, part_mask(n), v);
    }

    static V lanes(__m128i x) { return _mm512_broadcast_i32x4(x); }
    static __m128i low128(V x) { return _mm512_castsi512_si128(x); }
    static __m128i lane(V x, size_t i) {
        const long long q = static_cast<long long>(2 * i);
        return low128(_mm512_permutexvar_epi64(_mm512_set_epi64(0, 0, 0, 0, 0, 0, q + 1, q), x));
    }
    // T, T * alpha, T * alpha^2, T * alpha^3, from the tweak T as a little-endian integer.
    static V first_tweaks(__m128i t) {
        const V v = lanes(t);
        const V a1 = mul_alpha_k<1, Zmm>(v);
        const V a2 = mul_alpha_k<2, Zmm>(v);
        const V a3 = mul_alpha_k<3, Zmm>(v);
        return _mm512_mask_blend_epi64(
            0xC0, _mm512_mask_blend_epi64(0x30, _mm512_mask_blend_epi64(0x0C, v, a1), a2), a3);
    }

    static V bxor(V a, V b) { return _mm512_xor_si512(a, b); }
    static V xor3(V a, V b, V c) { return _mm512_ternarylogic_epi32(a, b, c, 0x96); }
    static V band(V a, V b) { return _mm512_and_si512(a, b); }
    static V shuffle(V x, V idx) { return _mm512_shuffle_epi8(x, idx); }
    static V set1_32(uint32_t w) { return _mm512_set1_epi32(static_cast<int>(w)); }
    static V set1_64(uint64_t w) { return _mm512_set1_epi64(static_cast<long long>(w)); }
    static V slli64(V x, int n) { return _mm512_slli_epi64(x, static_cast<unsigned>(n)); }
    static V srli64(V x, int n) { return _mm512_srli_epi64(x, static_cast<unsigned>(n)); }
    static V bslli8(V x) { return _mm512_bslli_epi128(x, 8); }
    static V bsrli8(V x) { return _mm512_bsrli_epi128(x, 8); }
    static V unpacklo32(V a, V b) { return _mm512_unpacklo_epi32(a, b); }
    static V unpackhi32(V a, V b) { return _mm512_unpackhi_epi32(a, b); }
    static V unpacklo64(V a, V b) { return _mm512_unpacklo_epi64(a, b); }
    static V unpackhi64(V a, V b) { return _mm512_unpackhi_epi64(a, b); }

    // x0 ^ L(t) with VPROLD, the terms grouped so that the chain from t is as short as possible.
    static V mix(V x0, V t, const Sm4Shuffles<Zmm>&) {
        const V a = xor3(x0, t, _mm512_rol_epi32(t, 2));
        const V b = xor3(_mm512_rol_epi32(t, 10), _mm512_rol_epi32(t, 18), _mm512_rol_epi32(t, 24));
        return bxor(a, b);
    }

    template <int B>
    static V gf2p8affine(V x, V m) {
        return _mm512_gf2p8affine_epi64_epi8(x, m, B);
    }
    template <int B>
    static V gf2p8affineinv(V x, V m) {
        return _mm512_gf2p8affineinv_epi64_epi8(x, m, B);
    }

  private:
    static __mmask16 part_mask(size_t n) { return static_cast<__mmask16>((1u << (4 * n)) - 1); }
};

// The S-box on XMM registers for the key set-up, which may rotate with VPROLD.
struct Tau128 : TauGfni<Xmm> {
    static constexpr bool kAvx512Rotate = true;
};

using Rounds = Sm4Rounds<Zmm, TauGfni<Zmm>>;

}  // namespace

HALDEN_SM4_DEFINE_PATH(gfni_avx512, Rounds, Tau128)

}  // namespace crypto_internal

#pragma GCC pop_options

#endif
