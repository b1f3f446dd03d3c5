// A stand-in for the library's SM3 with a wrong compression: a simple multiplicative mix, so
// digests still differ from input to input (the SM2 code built on it keeps working) but match
// no SM3 vector. Linked ahead of the library, it keeps the library's sm3 object out.
#include <cstring>

#include "crypto/sm3.h"

extern "C" void sm3_init(sm3_ctx* ctx) {
    std::memset(ctx, 0, sizeof *ctx);
    for (uint32_t i = 0; i < 8; ++i) ctx->state[i] = 0x9e3779b9u * (i + 1);
}

extern "C" void sm3_compress(sm3_ctx* ctx) {
    for (uint32_t i = 0; i < SM3_BLOCK_SIZE; ++i)
        ctx->state[i % 8] = (ctx->state[i % 8] ^ ctx->block[i]) * 0x01000193u + (i + 1);
}

extern "C" void sm3_update(sm3_ctx* ctx, const uint8_t* data, uint32_t len) {
    for (uint32_t i = 0; i < len; ++i) {
        ctx->block[ctx->position++] = data[i];
        if (ctx->position == SM3_BLOCK_SIZE) {
            sm3_compress(ctx);
            ctx->position = 0;
        }
    }
}

extern "C" void sm3_final(sm3_ctx* ctx, uint8_t* digest) {
    std::memset(ctx->block + ctx->position, 0, SM3_BLOCK_SIZE - ctx->position);
    ctx->block[ctx->position] = 0x80;
    sm3_compress(ctx);
    for (uint32_t i = 0; i < 8; ++i) {
        digest[4 * i] = static_cast<uint8_t>(ctx->state[i] >> 24);
        digest[4 * i + 1] = static_cast<uint8_t>(ctx->state[i] >> 16);
        digest[4 * i + 2] = static_cast<uint8_t>(ctx->state[i] >> 8);
        digest[4 * i + 3] = static_cast<uint8_t>(ctx->state[i]);
    }
}

extern "C" void sm3(const uint8_t* data, uint32_t len, uint8_t* digest) {
    sm3_ctx ctx;
    sm3_init(&ctx);
    sm3_update(&ctx, data, len);
    sm3_final(&ctx, digest);
}
