// SM3 hash (GB/T 32905): 256-bit digest over 512-bit blocks.
#pragma once

#include <cstdint>

#include "include/pemra.h"

// SM3_DIGEST_SIZE and the one-shot sm3 are Pemra's (include/pemra.h).
extern "C" {

constexpr uint32_t SM3_BLOCK_SIZE = 64;

// Running state; lives on the caller's stack. Between calls position < 64.
struct sm3_ctx {
    uint64_t bit_count;  // bits absorbed in completed blocks (the tail's bits added at the end)
    uint32_t position;   // bytes waiting in block
    uint32_t state[8];   // chaining value A..H, host order
    uint8_t block[SM3_BLOCK_SIZE];
};

void sm3_init(sm3_ctx* ctx);
// Absorbs len bytes; len 0 changes nothing.
void sm3_update(sm3_ctx* ctx, const uint8_t* data, uint32_t len);
// Pads, compresses and writes the 32-byte digest. The context is spent afterwards.
void sm3_final(sm3_ctx* ctx, uint8_t* digest);
// One compression of ctx->block into ctx->state.
void sm3_compress(sm3_ctx* ctx);

}  // extern "C"
