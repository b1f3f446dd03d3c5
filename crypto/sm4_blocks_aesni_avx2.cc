// SM4 on YMM registers with AES-NI: the S-box is AESENCLAST between two affine maps, each a pair
// of PSHUFB nibble lookups in registers (crypto/sm4_sbox_affine.h).
#include "crypto/sm4_blocks.h"

// HALDEN_SM4_NO_AVX leaves out the paths that need the AVX register state.
#if defined(__x86_64__) && !defined(HALDEN_SM4_NO_VECTOR) && !defined(HALDEN_SM4_NO_AVX)

#include <immintrin.h>

#include "crypto/sm4_sbox_affine.h"

#pragma GCC push_options
#pragma GCC target("avx2,aes")

#include "crypto/sm4_avx2_rounds.h"
#include "crypto/sm4_key_setup.h"

namespace crypto_internal {
namespace {

__m256i table256(const uint8_t (&t)[16]) {
    return lanes(_mm_loadu_si128(reinterpret_cast<const __m128i*>(t)));
}

struct TauAesni {
    TauAesni()
        : mask0f(_mm256_set1_epi8(0x0f)),
          inv_shift_rows(
              lanes(_mm_setr_epi8(0, 13, 10, 7, 4, 1, 14, 11, 8, 5, 2, 15, 12, 9, 6, 3))),
          pre_lo(table256(sm4_affine::kAesPreLo)),
          pre_hi(table256(sm4_affine::kAesPreHi)),
          post_lo(table256(sm4_affine::kAesPostLo)),
          post_hi(table256(sm4_affine::kAesPostHi)) {}

    __m256i mask0f;
    __m256i inv_shift_rows;  // AESENCLAST also applies ShiftRows; its inverse goes first
    __m256i pre_lo;
    __m256i pre_hi;
    __m256i post_lo;
    __m256i post_hi;

    __m256i affine(__m256i x, __m256i lo, __m256i hi) const {
        const __m256i l = _mm256_and_si256(x, mask0f);
        const __m256i h = _mm256_and_si256(_mm256_srli_epi16(x, 4), mask0f);
        return _mm256_xor_si256(_mm256_shuffle_epi8(lo, l), _mm256_shuffle_epi8(hi, h));
    }

    __m256i operator()(__m256i x) const {
        x = affine(_mm256_shuffle_epi8(x, inv_shift_rows), pre_lo, pre_hi);
        const __m128i zero = _mm_setzero_si128();
        const __m128i lo = _mm_aesenclast_si128(_mm256_castsi256_si128(x), zero);
        const __m128i hi = _mm_aesenclast_si128(_mm256_extracti128_si256(x, 1), zero);
        return affine(_mm256_set_m128i(hi, lo), post_lo, post_hi);
    }

    __m128i affine(__m128i x, __m256i lo, __m256i hi) const {
        const __m128i m = _mm256_castsi256_si128(mask0f);
        const __m128i l = _mm_and_si128(x, m);
        const __m128i h = _mm_and_si128(_mm_srli_epi16(x, 4), m);
        return _mm_xor_si128(_mm_shuffle_epi8(_mm256_castsi256_si128(lo), l),
                             _mm_shuffle_epi8(_mm256_castsi256_si128(hi), h));
    }

    __m128i operator()(__m128i x) const {
        x = affine(_mm_shuffle_epi8(x, _mm256_castsi256_si128(inv_shift_rows)), pre_lo, pre_hi);
        return affine(_mm_aesenclast_si128(x, _mm_setzero_si128()), post_lo, post_hi);
    }
};

}  // namespace

void sm4_blocks_aesni_avx2(const uint32_t* rk, const uint8_t* in, uint8_t* out, size_t nblocks) {
    Sm4Avx2<TauAesni>::blocks(rk, in, out, nblocks);
}

void sm4_xts_aesni_avx2(const uint32_t* rk, uint8_t* tweak, const uint8_t* in, uint8_t* out,
                        size_t nblocks) {
    Sm4Avx2<TauAesni>::xts(rk, tweak, in, out, nblocks);
}

void sm4_expand_aesni_avx2(const uint8_t* key, bool decrypt, uint32_t* rk) {
    Sm4KeySetup<TauAesni>::run<false, false>(TauAesni(), key, key, decrypt, rk, nullptr, nullptr,
                                             nullptr);
}

void sm4_xts_setup_aesni_avx2(const uint8_t* key, bool decrypt, const uint8_t* tweak_in,
                              uint32_t* rk1, uint32_t* rk2, uint8_t* t) {
    const TauAesni tau;
    using Setup = Sm4KeySetup<TauAesni>;
    if (rk2 != nullptr && tweak_in != nullptr)
        Setup::run<true, true>(tau, key, key + 16, decrypt, rk1, rk2, tweak_in, t);
    else if (rk2 != nullptr)
        Setup::run<true, false>(tau, key, key + 16, decrypt, rk1, rk2, nullptr, nullptr);
    else if (tweak_in != nullptr)
        Setup::run<false, true>(tau, key, key + 16, decrypt, rk1, nullptr, tweak_in, t);
    else
        Setup::run<false, false>(tau, key, key, decrypt, rk1, nullptr, nullptr, nullptr);
}

}  // namespace crypto_internal

#pragma GCC pop_options

#endif
