// SM4-XTS of GB/T 17964-2021 over whole blocks. Every entry point expands K1 once per call and
// carries the tweak from block to block: block j gets T * alpha^j, as if computed afresh.
#include "crypto/sm4_xts.h"

#include <cstring>

#include "crypto/secure_wipe.h"
#include "crypto/sm4.h"
#include "crypto/sm4_internal.h"

using crypto_internal::secure_wipe;
using crypto_internal::xor_block;

namespace {

// Transforms the first blocks * 16 bytes of in into out; in and out may be the same buffer.
void xts_blocks(const uint8_t* key, const uint8_t* tweak_input, const uint8_t* in, uint32_t blocks,
                uint8_t* out, bool encrypt) {
    sm4_ctx ctx;
    uint8_t tweak[SM4_BLOCK_SIZE];
    // T = E(K2, tweak input): always encryption, also when decrypting data.
    sm4_set_encrypt_key(&ctx, key + SM4_KEY_SIZE);
    sm4_crypt_block(ctx.rk, tweak_input, tweak);
    if (encrypt) {
        sm4_set_encrypt_key(&ctx, key);
    } else {
        sm4_set_decrypt_key(&ctx, key);
    }
    for (uint32_t j = 0; j < blocks; ++j) {
        uint8_t* block = out + SM4_BLOCK_SIZE * j;
        xor_block(block, in + SM4_BLOCK_SIZE * j, tweak);
        sm4_crypt_block(ctx.rk, block, block);
        xor_block(block, block, tweak);
        xts_mul_alpha(tweak);
    }
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
