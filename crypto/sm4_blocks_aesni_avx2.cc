// SM4 on YMM registers with AES-NI: the S-box is AESENCLAST between two affine maps, each a pair
// of PSHUFB nibble lookups in registers (crypto/sm4_sbox_affine.h).
#include "crypto/sm4_blocks.h"

#if defined(__x86_64__) && !defined(HALDEN_SM4_NO_VECTOR)

#include <immintrin.h>

#include "crypto/sm4_sbox_affine.h"

#pragma GCC push_options
#pragma GCC target("avx2,aes")

#include "crypto/sm4_avx2_rounds.h"
#include "crypto/sm4_key_setup.h"
#include "crypto/sm4_sse_rounds.h"

namespace crypto_internal {
namespace {

using Rounds = Sm4Rounds<Ymm, TauAesni<Ymm>>;
using KeyTau = TauAesni<Xmm>;

}  // namespace

HALDEN_SM4_DEFINE_PATH(aesni_avx2, Rounds, KeyTau)

}  // namespace crypto_internal

#pragma GCC pop_options

#endif
