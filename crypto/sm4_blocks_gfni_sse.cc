// SM4 on XMM registers with GFNI in the legacy SSE encoding (no AVX state): the S-box is two
// affine instructions (crypto/sm4_sbox_affine.h).
#include "crypto/sm4_blocks.h"

#if defined(__x86_64__) && !defined(HALDEN_SM4_NO_VECTOR)

#include <immintrin.h>

#include "crypto/sm4_sbox_affine.h"

#pragma GCC push_options
#pragma GCC target("sse4.1,gfni")

#include "crypto/sm4_key_setup.h"
#include "crypto/sm4_sse_rounds.h"

namespace crypto_internal {
namespace {

struct TauGfniSse {
    TauGfniSse()
        : pre(_mm_set1_epi64x(static_cast<long long>(sm4_affine::kGfniPreMatrix))),
          post(_mm_set1_epi64x(static_cast<long long>(sm4_affine::kGfniPostMatrix))) {}

    __m128i operator()(__m128i x) const {
        x = _mm_gf2p8affine_epi64_epi8(x, pre, sm4_affine::kGfniPreConst);
        return _mm_gf2p8affineinv_epi64_epi8(x, post, sm4_affine::kGfniPostConst);
    }

    __m128i pre;
    __m128i post;
};

}  // namespace

void sm4_blocks_gfni_sse(const uint32_t* rk, const uint8_t* in, uint8_t* out, size_t nblocks) {
    Sm4Sse<TauGfniSse>::blocks(rk, in, out, nblocks);
}

void sm4_xts_gfni_sse(const uint32_t* rk, uint8_t* tweak, const uint8_t* in, uint8_t* out,
                      size_t nblocks) {
    Sm4Sse<TauGfniSse>::xts(rk, tweak, in, out, nblocks);
}

void sm4_expand_gfni_sse(const uint8_t* key, bool decrypt, uint32_t* rk) {
    Sm4KeySetup<TauGfniSse>::run<false, false>(TauGfniSse(), key, key, decrypt, rk, nullptr,
                                               nullptr, nullptr);
}

void sm4_xts_setup_gfni_sse(const uint8_t* key, bool decrypt, const uint8_t* tweak_in,
                            uint32_t* rk1, uint32_t* rk2, uint8_t* t) {
    const TauGfniSse tau;
    using Setup = Sm4KeySetup<TauGfniSse>;
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
