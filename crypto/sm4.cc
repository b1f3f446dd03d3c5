// SM4 block cipher (GB/T 32907): key schedule, block function and ECB.
#include "crypto/sm4.h"

#include <array>

#include "crypto/secure_wipe.h"
#include "crypto/sm4_blocks.h"
#include "crypto/sm4_internal.h"

namespace {

constexpr uint8_t kSbox[256] = {
    0xd6, 0x90, 0xe9, 0xfe, 0xcc, 0xe1, 0x3d, 0xb7, 0x16, 0xb6, 0x14, 0xc2, 0x28, 0xfb, 0x2c, 0x05,
    0x2b, 0x67, 0x9a, 0x76, 0x2a, 0xbe, 0x04, 0xc3, 0xaa, 0x44, 0x13, 0x26, 0x49, 0x86, 0x06, 0x99,
    0x9c, 0x42, 0x50, 0xf4, 0x91, 0xef, 0x98, 0x7a, 0x33, 0x54, 0x0b, 0x43, 0xed, 0xcf, 0xac, 0x62,
    0xe4, 0xb3, 0x1c, 0xa9, 0xc9, 0x08, 0xe8, 0x95, 0x80, 0xdf, 0x94, 0xfa, 0x75, 0x8f, 0x3f, 0xa6,
    0x47, 0x07, 0xa7, 0xfc, 0xf3, 0x73, 0x17, 0xba, 0x83, 0x59, 0x3c, 0x19, 0xe6, 0x85, 0x4f, 0xa8,
    0x68, 0x6b, 0x81, 0xb2, 0x71, 0x64, 0xda, 0x8b, 0xf8, 0xeb, 0x0f, 0x4b, 0x70, 0x56, 0x9d, 0x35,
    0x1e, 0x24, 0x0e, 0x5e, 0x63, 0x58, 0xd1, 0xa2, 0x25, 0x22, 0x7c, 0x3b, 0x01, 0x21, 0x78, 0x87,
    0xd4, 0x00, 0x46, 0x57, 0x9f, 0xd3, 0x27, 0x52, 0x4c, 0x36, 0x02, 0xe7, 0xa0, 0xc4, 0xc8, 0x9e,
    0xea, 0xbf, 0x8a, 0xd2, 0x40, 0xc7, 0x38, 0xb5, 0xa3, 0xf7, 0xf2, 0xce, 0xf9, 0x61, 0x15, 0xa1,
    0xe0, 0xae, 0x5d, 0xa4, 0x9b, 0x34, 0x1a, 0x55, 0xad, 0x93, 0x32, 0x30, 0xf5, 0x8c, 0xb1, 0xe3,
    0x1d, 0xf6, 0xe2, 0x2e, 0x82, 0x66, 0xca, 0x60, 0xc0, 0x29, 0x23, 0xab, 0x0d, 0x53, 0x4e, 0x6f,
    0xd5, 0xdb, 0x37, 0x45, 0xde, 0xfd, 0x8e, 0x2f, 0x03, 0xff, 0x6a, 0x72, 0x6d, 0x6c, 0x5b, 0x51,
    0x8d, 0x1b, 0xaf, 0x92, 0xbb, 0xdd, 0xbc, 0x7f, 0x11, 0xd9, 0x5c, 0x41, 0x1f, 0x10, 0x5a, 0xd8,
    0x0a, 0xc1, 0x31, 0x88, 0xa5, 0xcd, 0x7b, 0xbd, 0x2d, 0x74, 0xd0, 0x12, 0xb8, 0xe5, 0xb4, 0xb0,
    0x89, 0x69, 0x97, 0x4a, 0x0c, 0x96, 0x77, 0x7e, 0x65, 0xb9, 0xf1, 0x09, 0xc5, 0x6e, 0xc6, 0x84,
    0x18, 0xf0, 0x7d, 0xec, 0x3a, 0xdc, 0x4d, 0x20, 0x79, 0xee, 0x5f, 0x3e, 0xd7, 0xcb, 0x39, 0x48,
};

constexpr uint32_t kFk[4] = {0xA3B1BAC6, 0x56AA3350, 0x677D9197, 0xB27022DC};

// CK_i: bytes j = 0..3, most significant first, are (4i + j) * 7 mod 256.
constexpr std::array<uint32_t, 32> kCk = [] {
    std::array<uint32_t, 32> ck{};
    for (uint32_t i = 0; i < 32; ++i)
        for (uint32_t j = 0; j < 4; ++j) ck[i] = (ck[i] << 8) | (((4 * i + j) * 7) & 0xff);
    return ck;
}();
static_assert(kCk[0] == 0x00070E15 && kCk[31] == 0x646B7279);

inline uint32_t rotl(uint32_t x, unsigned n) {
    return (x << n) | (x >> (32 - n));
}

inline uint32_t load_be32(const uint8_t* p) {
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}

inline void store_be32(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v >> 24);
    p[1] = static_cast<uint8_t>(v >> 16);
    p[2] = static_cast<uint8_t>(v >> 8);
    p[3] = static_cast<uint8_t>(v);
}

// tau: the S-box on each byte.
inline uint32_t tau(uint32_t x) {
    return (uint32_t{kSbox[x >> 24]} << 24) | (uint32_t{kSbox[(x >> 16) & 0xff]} << 16) |
           (uint32_t{kSbox[(x >> 8) & 0xff]} << 8) | kSbox[x & 0xff];
}

// T of the rounds and T' of the key schedule.
inline uint32_t round_t(uint32_t x) {
    const uint32_t b = tau(x);
    return b ^ rotl(b, 2) ^ rotl(b, 10) ^ rotl(b, 18) ^ rotl(b, 24);
}

inline uint32_t key_t(uint32_t x) {
    const uint32_t b = tau(x);
    return b ^ rotl(b, 13) ^ rotl(b, 23);
}

int32_t ecb(const uint8_t* key, const uint8_t* in, uint32_t len, uint8_t* out, bool encrypt) {
    if (!key || !in || !out || !crypto_internal::sm4_whole_blocks(len)) return 1;
    // The fastest kernels this CPU supports; every path gives the bytes of sm4_set_*_key and
    // sm4_crypt_block block by block.
    const crypto_internal::Sm4Kernels& kernels = crypto_internal::sm4_kernels();
    sm4_ctx ctx;
    kernels.expand(key, !encrypt, ctx.rk);
    kernels.blocks(ctx.rk, in, out, len / SM4_BLOCK_SIZE);
    crypto_internal::secure_wipe(&ctx, sizeof ctx);
    return 0;
}

}  // namespace

extern "C" void sm4_set_encrypt_key(sm4_ctx* ctx, const uint8_t* key) {
    uint32_t k[4];
    for (int i = 0; i < 4; ++i) k[i] = load_be32(key + 4 * i) ^ kFk[i];
    // k holds K_i .. K_{i+3}, rotating: K_{i+4} replaces K_i.
    for (int i = 0; i < 32; ++i) {
        const uint32_t next =
            k[i % 4] ^ key_t(k[(i + 1) % 4] ^ k[(i + 2) % 4] ^ k[(i + 3) % 4] ^ kCk[i]);
        k[i % 4] = next;
        ctx->rk[i] = next;
    }
    crypto_internal::secure_wipe(k, sizeof k);
}

extern "C" void sm4_set_decrypt_key(sm4_ctx* ctx, const uint8_t* key) {
    sm4_set_encrypt_key(ctx, key);
    for (int i = 0; i < 16; ++i) {
        const uint32_t t = ctx->rk[i];
        ctx->rk[i] = ctx->rk[31 - i];
        ctx->rk[31 - i] = t;
    }
}

extern "C" void sm4_crypt_block(const uint32_t* rk, const uint8_t* in, uint8_t* out) {
    uint32_t x[4];
    for (int i = 0; i < 4; ++i) x[i] = load_be32(in + 4 * i);
    // x holds X_i .. X_{i+3}, rotating as in the key schedule.
    for (int i = 0; i < 32; ++i)
        x[i % 4] ^= round_t(x[(i + 1) % 4] ^ x[(i + 2) % 4] ^ x[(i + 3) % 4] ^ rk[i]);
    // After 32 rounds x[0..3] = X32..X35; the output is X35, X34, X33, X32.
    for (int i = 0; i < 4; ++i) store_be32(out + 4 * i, x[3 - i]);
}

extern "C" int32_t sm4_ecb_encrypt(const uint8_t* key, const uint8_t* in, uint32_t len,
                                   uint8_t* out) {
    return ecb(key, in, len, out, true);
}

extern "C" int32_t sm4_ecb_decrypt(const uint8_t* key, const uint8_t* in, uint32_t len,
                                   uint8_t* out) {
    return ecb(key, in, len, out, false);
}
