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

using Rounds = Sm4Rounds<Xmm, TauGfni<Xmm>>;
using KeyTau = TauGfni<Xmm>;

}  // namespace

HALDEN_SM4_DEFINE_PATH(gfni_sse, Rounds, KeyTau)

}  // namespace crypto_internal

#pragma GCC pop_options

#endif
