// SM4 on YMM registers with GFNI (VEX form): the S-box is two affine instructions
// (crypto/sm4_sbox_affine.h); for CPUs with GFNI but without AVX-512.
#include "crypto/sm4_blocks.h"

// HALDEN_SM4_NO_AVX leaves out the paths that need the AVX register state.
#if defined(__x86_64__) && !defined(HALDEN_SM4_NO_VECTOR) && !defined(HALDEN_SM4_NO_AVX)

#include <immintrin.h>

#include "crypto/sm4_sbox_affine.h"

#pragma GCC push_options
#pragma GCC target("avx2,gfni")

#include "crypto/sm4_avx2_rounds.h"
#include "crypto/sm4_key_setup.h"

namespace crypto_internal {
namespace {

struct TauGfni {
    TauGfni()
        : pre(_mm256_set1_epi64x(static_cast<long long>(sm4_affine::kGfniPreMatrix))),
          post(_mm256_set1_epi64x(static_cast<long long>(sm4_affine::kGfniPostMatrix))) {}

    __m256i pre;
    __m256i post;

    __m256i operator()(__m256i x) const {
        x = _mm256_gf2p8affine_epi64_epi8(x, pre, sm4_affine::kGfniPreConst);
        return _mm256_gf2p8affineinv_epi64_epi8(x, post, sm4_affine::kGfniPostConst);
    }

    __m128i operator()(__m128i x) const {
        x = _mm_gf2p8affine_epi64_epi8(x, _mm256_castsi256_si128(pre), sm4_affine::kGfniPreConst);
        return _mm_gf2p8affineinv_epi64_epi8(x, _mm256_castsi256_si128(post),
                                             sm4_affine::kGfniPostConst);
    }
};

}  // namespace

void sm4_blocks_gfni_avx2(const uint32_t* rk, const uint8_t* in, uint8_t* out, size_t nblocks) {
    Sm4Avx2<TauGfni>::blocks(rk, in, out, nblocks);
}

void sm4_xts_gfni_avx2(const uint32_t* rk, uint8_t* tweak, const uint8_t* in, uint8_t* out,
                       size_t nblocks) {
    Sm4Avx2<TauGfni>::xts(rk, tweak, in, out, nblocks);
}

void sm4_expand_gfni_avx2(const uint8_t* key, bool decrypt, uint32_t* rk) {
    Sm4KeySetup<TauGfni>::run<false, false>(TauGfni(), key, key, decrypt, rk, nullptr, nullptr,
                                            nullptr);
}

void sm4_xts_setup_gfni_avx2(const uint8_t* key, bool decrypt, const uint8_t* tweak_in,
                             uint32_t* rk1, uint32_t* rk2, uint8_t* t) {
    const TauGfni tau;
    using Setup = Sm4KeySetup<TauGfni>;
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
