// SM4 on YMM registers with GFNI (VEX form): the S-box is two affine instructions
// (crypto/sm4_sbox_affine.h); for CPUs with GFNI but without AVX-512.
#include "crypto/sm4_blocks.h"

#if defined(__x86_64__) && !defined(HALDEN_SM4_NO_VECTOR)

#include <immintrin.h>

#include "crypto/sm4_sbox_affine.h"

#pragma GCC push_options
#pragma GCC target("avx2,gfni")

#include "crypto/sm4_avx2_rounds.h"
#include "crypto/sm4_key_setup.h"
#include "crypto/sm4_sse_rounds.h"

namespace crypto_internal {
namespace {

using Rounds = Sm4Rounds<Ymm, TauGfni<Ymm>>;
using KeyTau = TauGfni<Xmm>;

}  // namespace

HALDEN_SM4_DEFINE_PATH(gfni_avx2, Rounds, KeyTau)

}  // namespace crypto_internal

#pragma GCC pop_options

#endif
