// The portable multi-block path: the block function of crypto/sm4.cc, one block at a time.
#include <cstring>

#include "crypto/secure_wipe.h"
#include "crypto/sm4.h"
#include "crypto/sm4_blocks.h"
#include "crypto/sm4_xts.h"

namespace crypto_internal {

void sm4_blocks_portable(const uint32_t* rk, const uint8_t* in, uint8_t* out, size_t nblocks) {
    for (size_t i = 0; i < nblocks; ++i) sm4_crypt_block(rk, in + 16 * i, out + 16 * i);
}

void sm4_xts_portable(const uint32_t* rk, uint8_t* tweak, const uint8_t* in, uint8_t* out,
                      size_t nblocks) {
    uint8_t t[16];
    uint8_t b[16];
    std::memcpy(t, tweak, 16);
    for (size_t i = 0; i < nblocks; ++i) {
        for (int j = 0; j < 16; ++j) b[j] = in[16 * i + j] ^ t[j];
        sm4_crypt_block(rk, b, b);
        for (int j = 0; j < 16; ++j) out[16 * i + j] = b[j] ^ t[j];
        xts_mul_alpha(t);
    }
    std::memcpy(tweak, t, 16);
    secure_wipe(t, sizeof t);
    secure_wipe(b, sizeof b);
}

void sm4_expand_portable(const uint8_t* key, bool decrypt, uint32_t* rk) {
    sm4_ctx ctx;
    if (decrypt)
        sm4_set_decrypt_key(&ctx, key);
    else
        sm4_set_encrypt_key(&ctx, key);
    std::memcpy(rk, ctx.rk, sizeof ctx.rk);
    secure_wipe(&ctx, sizeof ctx);
}

void sm4_xts_setup_portable(const uint8_t* key, bool decrypt, const uint8_t* tweak_in,
                            uint32_t* rk1, uint32_t* rk2, uint8_t* t) {
    sm4_expand_portable(key, decrypt, rk1);
    sm4_ctx k2;
    sm4_set_encrypt_key(&k2, key + 16);
    if (tweak_in != nullptr) sm4_crypt_block(k2.rk, tweak_in, t);
    if (rk2 != nullptr) std::memcpy(rk2, k2.rk, sizeof k2.rk);
    secure_wipe(&k2, sizeof k2);
}

}  // namespace crypto_internal
