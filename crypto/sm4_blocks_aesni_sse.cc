// SM4 on XMM registers with AES-NI in the legacy SSE encoding (no AVX state): the S-box is
// AESENCLAST between two affine maps, each a pair of PSHUFB nibble lookups in registers
// (crypto/sm4_sbox_affine.h).
#include "crypto/sm4_blocks.h"

#if defined(__x86_64__) && !defined(HALDEN_SM4_NO_VECTOR)

#include <immintrin.h>

#include "crypto/sm4_sbox_affine.h"

#pragma GCC push_options
#pragma GCC target("sse4.1,aes")

#include "crypto/sm4_key_setup.h"
#include "crypto/sm4_sse_rounds.h"

namespace crypto_internal {
namespace {

__m128i table128(const uint8_t (&t)[16]) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(t));
}

struct TauAesniSse {
    TauAesniSse()
        : mask0f(_mm_set1_epi8(0x0f)),
          inv_shift_rows(_mm_setr_epi8(0, 13, 10, 7, 4, 1, 14, 11, 8, 5, 2, 15, 12, 9, 6, 3)),
          pre_lo(table128(sm4_affine::kAesPreLo)),
          pre_hi(table128(sm4_affine::kAesPreHi)),
          post_lo(table128(sm4_affine::kAesPostLo)),
          post_hi(table128(sm4_affine::kAesPostHi)) {}

    __m128i mask0f;
    __m128i inv_shift_rows;  // AESENCLAST also applies ShiftRows; its inverse goes first
    __m128i pre_lo;
    __m128i pre_hi;
    __m128i post_lo;
    __m128i post_hi;

    __m128i affine(__m128i x, __m128i lo, __m128i hi) const {
        const __m128i l = _mm_and_si128(x, mask0f);
        const __m128i h = _mm_and_si128(_mm_srli_epi16(x, 4), mask0f);
        return _mm_xor_si128(_mm_shuffle_epi8(lo, l), _mm_shuffle_epi8(hi, h));
    }

    __m128i operator()(__m128i x) const {
        x = affine(_mm_shuffle_epi8(x, inv_shift_rows), pre_lo, pre_hi);
        return affine(_mm_aesenclast_si128(x, _mm_setzero_si128()), post_lo, post_hi);
    }
};

}  // namespace

void sm4_blocks_aesni_sse(const uint32_t* rk, const uint8_t* in, uint8_t* out, size_t nblocks) {
    Sm4Sse<TauAesniSse>::blocks(rk, in, out, nblocks);
}

void sm4_xts_aesni_sse(const uint32_t* rk, uint8_t* tweak, const uint8_t* in, uint8_t* out,
                       size_t nblocks) {
    Sm4Sse<TauAesniSse>::xts(rk, tweak, in, out, nblocks);
}

void sm4_expand_aesni_sse(const uint8_t* key, bool decrypt, uint32_t* rk) {
    Sm4KeySetup<TauAesniSse>::run<false, false>(TauAesniSse(), key, key, decrypt, rk, nullptr,
                                                nullptr, nullptr);
}

void sm4_xts_setup_aesni_sse(const uint8_t* key, bool decrypt, const uint8_t* tweak_in,
                             uint32_t* rk1, uint32_t* rk2, uint8_t* t) {
    const TauAesniSse tau;
    using Setup = Sm4KeySetup<TauAesniSse>;
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
