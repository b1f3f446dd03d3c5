// SM4-XTS of GB/T 17964-2021 over whole blocks. Every entry point expands K1 once per call and
// carries the tweak from block to block: block j gets T * alpha^j, as if computed afresh.
#include "crypto/sm4_xts.h"

#include <cstring>

#include "crypto/secure_wipe.h"
#include "crypto/sm4.h"
#include "crypto/sm4_blocks.h"
#include "crypto/sm4_internal.h"

using crypto_internal::secure_wipe;

namespace {

// Transforms the first blocks * 16 bytes of in into out; in and out may be the same buffer. The
// kernels of the fastest path this CPU supports give the bytes of the block-by-block definition.
void xts_blocks(const uint8_t* key, const uint8_t* tweak_input, const uint8_t* in, uint32_t blocks,
                uint8_t* out, bool encrypt) {
    const crypto_internal::Sm4Kernels& kernels = crypto_internal::sm4_kernels();
    sm4_ctx ctx;
    uint8_t tweak[SM4_BLOCK_SIZE];
    // K1's schedule for the direction, and T = E(K2, tweak input): always encryption.
    kernels.xts_setup(key, !encrypt, tweak_input, ctx.rk, nullptr, tweak);
    kernels.xts(ctx.rk, tweak, in, out, blocks);
    secure_wipe(&ctx, sizeof ctx);
    secure_wipe(tweak, sizeof tweak);
}

int32_t checked_xts(const uint8_t* key, const uint8_t* tweak, const uint8_t* in, uint32_t len,
                    uint8_t* out, bool encrypt) {
    if (!key || !tweak || !in || !out || !crypto_internal::sm4_whole_blocks(len)) return 1;
    xts_blocks(key, tweak, in, len / SM4_BLOCK_SIZE, out, encrypt);
    return 0;
}

}  // namespace

extern "C" int32_t sm4_xts_encrypt(const uint8_t* key, const uint8_t* tweak, const uint8_t* in,
                                   uint32_t len, uint8_t* out) {
    return checked_xts(key, tweak, in, len, out, true);
}

extern "C" int32_t sm4_xts_decrypt(const uint8_t* key, const uint8_t* tweak, const uint8_t* in,
                                   uint32_t len, uint8_t* out) {
    return checked_xts(key, tweak, in, len, out, false);
}

extern "C" int32_t sm4_xts(const uint8_t* key, const uint8_t* tweak, const uint8_t* in,
                           uint32_t len, uint8_t* out, uint8_t encrypt) {
    xts_blocks(key, tweak, in, len / SM4_BLOCK_SIZE, out, encrypt != 0);
    return 0;
}

// The 16 bytes as one 128-bit string, t[0] first and bit 7 of each byte first, shifted right by
// one bit; a bit shifted out of t[15] folds back as 0xE1 into t[0] (x^128 + x^7 + x^2 + x + 1,
// bit-reflected).
extern "C" void xts_mul_alpha(uint8_t* t) {
    const uint8_t carry = t[15] & 1;
    for (int i = 15; i > 0; --i) t[i] = static_cast<uint8_t>((t[i] >> 1) | (t[i - 1] << 7));
    t[0] = static_cast<uint8_t>(t[0] >> 1);
    if (carry) t[0] ^= 0xE1;
}

extern "C" void reverse_bits_16(uint8_t* t) {
    for (int i = 0; i < 16; ++i) {
        uint8_t b = t[i], r = 0;
        for (int k = 0; k < 8; ++k) r = static_cast<uint8_t>(r | (((b >> k) & 1) << (7 - k)));
        t[i] = r;
    }
}
