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

using Rounds = Sm4Rounds<Xmm, TauAesni<Xmm>>;
using KeyTau = TauAesni<Xmm>;

}  // namespace

HALDEN_SM4_DEFINE_PATH(aesni_sse, Rounds, KeyTau)

}  // namespace crypto_internal

#pragma GCC pop_options

#endif
