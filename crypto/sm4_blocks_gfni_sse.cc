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

HALDEN_SM4_DEFINE_PATH(gfni_sse, Sm4Sse<TauGfniSse>, TauGfniSse)

}  // namespace crypto_internal

#pragma GCC pop_options

#endif
