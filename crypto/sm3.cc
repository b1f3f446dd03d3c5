#include "crypto/sm3.h"

#include <cstring>

#include "crypto/secure_wipe.h"

namespace {

constexpr uint32_t kIv[8] = {0x7380166F, 0x4914B2B9, 0x172442D7, 0xDA8A0600,
                             0xA96F30BC, 0x163138AA, 0xE38DEE4D, 0xB0FB0E4E};

inline uint32_t rotl(uint32_t x, unsigned n) {
    return (x << (n & 31)) | (x >> ((32 - n) & 31));
}
inline uint32_t p0(uint32_t x) {
    return x ^ rotl(x, 9) ^ rotl(x, 17);
}
inline uint32_t p1(uint32_t x) {
    return x ^ rotl(x, 15) ^ rotl(x, 23);
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

// Compresses one 64-byte block into state (GB/T 32905's CF).
void compress_block(uint32_t state[8], const uint8_t* block) {
    uint32_t w[68];
    for (int j = 0; j < 16; ++j) w[j] = load_be32(block + 4 * j);
    for (int j = 16; j < 68; ++j)
        w[j] = p1(w[j - 16] ^ w[j - 9] ^ rotl(w[j - 3], 15)) ^ rotl(w[j - 13], 7) ^ w[j - 6];

    uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
    uint32_t e = state[4], f = state[5], g = state[6], h = state[7];
    uint32_t t = 0x79CC4519;  // T_j <<< j, carried from round to round
    for (int j = 0; j < 64; ++j) {
        if (j == 16) t = 0x9D8A7A87;  // 7A879D8A <<< 16
        const uint32_t a12 = rotl(a, 12);
        const uint32_t ss1 = rotl(a12 + e + t, 7);
        const uint32_t ss2 = ss1 ^ a12;
        const uint32_t ff = j < 16 ? (a ^ b ^ c) : ((a & b) | (a & c) | (b & c));
        const uint32_t gg = j < 16 ? (e ^ f ^ g) : ((e & f) | (~e & g));
        const uint32_t tt1 = ff + d + ss2 + (w[j] ^ w[j + 4]);
        const uint32_t tt2 = gg + h + ss1 + w[j];
        d = c;
        c = rotl(b, 9);
        b = a;
        a = tt1;
        h = g;
        g = rotl(f, 19);
        f = e;
        e = p0(tt2);
        t = rotl(t, 1);
    }
    state[0] ^= a, state[1] ^= b, state[2] ^= c, state[3] ^= d;
    state[4] ^= e, state[5] ^= f, state[6] ^= g, state[7] ^= h;
}

}  // namespace

extern "C" void sm3_init(sm3_ctx* ctx) {
    ctx->bit_count = 0;
    ctx->position = 0;
    std::memcpy(ctx->state, kIv, sizeof kIv);
    std::memset(ctx->block, 0, sizeof ctx->block);
}

extern "C" void sm3_compress(sm3_ctx* ctx) {
    compress_block(ctx->state, ctx->block);
}

extern "C" void sm3_update(sm3_ctx* ctx, const uint8_t* data, uint32_t len) {
    if (len == 0) return;  // data may then be null
    // Whole blocks are compressed straight from the input; only a partial block is buffered.
    if (ctx->position > 0) {
        uint32_t take = SM3_BLOCK_SIZE - ctx->position;
        if (take > len) take = len;
        std::memcpy(ctx->block + ctx->position, data, take);
        ctx->position += take;
        data += take;
        len -= take;
        if (ctx->position < SM3_BLOCK_SIZE) return;
        sm3_compress(ctx);
        ctx->bit_count += 512;
        ctx->position = 0;
    }
    for (; len >= SM3_BLOCK_SIZE; data += SM3_BLOCK_SIZE, len -= SM3_BLOCK_SIZE) {
        compress_block(ctx->state, data);
        ctx->bit_count += 512;
    }
    if (len > 0) {
        std::memcpy(ctx->block, data, len);
        ctx->position = len;
    }
}

extern "C" void sm3_final(sm3_ctx* ctx, uint8_t* digest) {
    ctx->bit_count += 8ull * ctx->position;
    ctx->block[ctx->position++] = 0x80;
    if (ctx->position > 56) {
        std::memset(ctx->block + ctx->position, 0, SM3_BLOCK_SIZE - ctx->position);
        sm3_compress(ctx);
        ctx->position = 0;
    }
    std::memset(ctx->block + ctx->position, 0, 56 - ctx->position);
    for (int i = 0; i < 8; ++i)
        ctx->block[56 + i] = static_cast<uint8_t>(ctx->bit_count >> (56 - 8 * i));
    sm3_compress(ctx);
    for (int i = 0; i < 8; ++i) store_be32(digest + 4 * i, ctx->state[i]);
}

extern "C" void sm3(const uint8_t* data, uint32_t len, uint8_t* digest) {
    sm3_ctx ctx;
    sm3_init(&ctx);
    sm3_update(&ctx, data, len);
    sm3_final(&ctx, digest);
    crypto_internal::secure_wipe(&ctx,
                                 sizeof ctx);  // the block holds message bytes (passwords, keys)
}
