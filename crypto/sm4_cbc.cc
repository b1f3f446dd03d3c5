// SM4 in CBC mode, both directions, and the CBC-MAC over it.
#include <cstring>
#include <new>

#include "crypto/secure_wipe.h"
#include "crypto/sm4.h"
#include "crypto/sm4_internal.h"

using crypto_internal::secure_wipe;
using crypto_internal::sm4_whole_blocks;
using crypto_internal::xor_block;

namespace {

// out_k = E(in_k xor C), C = out_k. in and out may be the same buffer.
void cbc_encrypt_blocks(const sm4_ctx& ctx, uint8_t* iv, const uint8_t* in, uint32_t len,
                        uint8_t* out) {
    for (uint32_t offset = 0; offset < len; offset += SM4_BLOCK_SIZE) {
        xor_block(out + offset, in + offset, iv);
        sm4_crypt_block(ctx.rk, out + offset, out + offset);
        std::memcpy(iv, out + offset, SM4_BLOCK_SIZE);
    }
}

}  // namespace

extern "C" int32_t sm4_cbc_encrypt(const uint8_t* key, uint8_t* iv, const uint8_t* in, uint32_t len,
                                   uint8_t* out) {
    if (!key || !iv || !in || !out || !sm4_whole_blocks(len)) return 1;
    sm4_ctx ctx;
    sm4_set_encrypt_key(&ctx, key);
    cbc_encrypt_blocks(ctx, iv, in, len, out);
    secure_wipe(&ctx, sizeof ctx);
    return 0;
}

extern "C" int32_t sm4_cbc_decrypt(const uint8_t* key, uint8_t* iv, const uint8_t* in, uint32_t len,
                                   uint8_t* out) {
    if (!key || !iv || !in || !out || !sm4_whole_blocks(len)) return 1;
    sm4_ctx ctx;
    sm4_set_decrypt_key(&ctx, key);
    uint8_t saved[SM4_BLOCK_SIZE];
    for (uint32_t offset = 0; offset < len; offset += SM4_BLOCK_SIZE) {
        // Saved first: with in == out the block is overwritten below.
        std::memcpy(saved, in + offset, SM4_BLOCK_SIZE);
        sm4_crypt_block(ctx.rk, saved, out + offset);
        xor_block(out + offset, out + offset, iv);
        std::memcpy(iv, saved, SM4_BLOCK_SIZE);
    }
    secure_wipe(&ctx, sizeof ctx);
    return 0;
}

extern "C" int32_t sm4_cbc_mac(const uint8_t* key, uint8_t* iv, const uint8_t* in, uint32_t len,
                               uint8_t* mac) {
    if (!key || !iv || !in || !mac || !sm4_whole_blocks(len)) return 1;
    uint8_t* work = new (std::nothrow) uint8_t[len];
    if (!work) return 2;
    sm4_ctx ctx;
    sm4_set_encrypt_key(&ctx, key);
    cbc_encrypt_blocks(ctx, iv, in, len, work);
    std::memcpy(mac, work + len - SM4_BLOCK_SIZE, SM4_BLOCK_SIZE);
    secure_wipe(&ctx, sizeof ctx);
    secure_wipe(work, len);
    delete[] work;
    return 0;
}
