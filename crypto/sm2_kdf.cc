#include "base/byte_access.h"
#include "crypto/secure_wipe.h"
#include "crypto/sm2_encrypt.h"
#include "crypto/sm3.h"

// The SM3 counter KDF of GB/T 32918.4.
void sm2_kdf(const uint8_t* z, uint32_t zlen, uint8_t* out, uint32_t klen) {
    uint32_t counter = 1;
    uint8_t block[SM3_DIGEST_SIZE];
    for (uint32_t done = 0; done < klen; ++counter) {
        uint8_t ct[4];
        bytes::store_be32(ct, counter);
        sm3_ctx ctx;
        sm3_init(&ctx);
        sm3_update(&ctx, z, zlen);
        sm3_update(&ctx, ct, 4);
        const uint32_t take = klen - done < SM3_DIGEST_SIZE ? klen - done : SM3_DIGEST_SIZE;
        if (take == SM3_DIGEST_SIZE) {
            sm3_final(&ctx, out + done);
        } else {
            sm3_final(&ctx, block);
            for (uint32_t i = 0; i < take; ++i) out[done + i] = block[i];
        }
        crypto_internal::secure_wipe(&ctx, sizeof ctx);
        done += take;
    }
    crypto_internal::secure_wipe(block, sizeof block);
}
