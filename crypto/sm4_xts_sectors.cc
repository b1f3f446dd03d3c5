// Whole requests of XTS sectors with one key set-up: the tweaks of up to 16 sectors are
// encrypted together, then each sector runs through the XTS kernel.
#include <cstring>

#include "base/byte_access.h"
#include "crypto/secure_wipe.h"
#include "crypto/sm4_blocks.h"

namespace crypto_internal {

void sm4_xts_sectors(const Sm4Kernels& k, const uint8_t* key, uint64_t first_sector,
                     const uint8_t* in, uint8_t* out, size_t nsectors, uint32_t sector_size,
                     bool encrypt) {
    constexpr size_t kBatch = 16;
    uint32_t rk1[32];
    uint32_t rk2[32];
    uint8_t tweaks[16 * kBatch];
    k.xts_setup(key, !encrypt, nullptr, rk1, rk2, nullptr);
    const size_t blocks_per_sector = sector_size / 16;
    uint64_t sector = first_sector;
    while (nsectors > 0) {
        const size_t n = nsectors < kBatch ? nsectors : kBatch;
        std::memset(tweaks, 0, 16 * n);
        for (size_t i = 0; i < n; ++i, ++sector) bytes::store_le64(tweaks + 16 * i, sector);
        k.blocks(rk2, tweaks, tweaks, n);
        for (size_t i = 0; i < n; ++i) {
            k.xts(rk1, tweaks + 16 * i, in, out, blocks_per_sector);
            in += sector_size;
            out += sector_size;
        }
        nsectors -= n;
    }
    secure_wipe(rk1, sizeof rk1);
    secure_wipe(rk2, sizeof rk2);
    secure_wipe(tweaks, sizeof tweaks);
}

void sm4_xts_sectors(const uint8_t* key, uint64_t first_sector, const uint8_t* in, uint8_t* out,
                     size_t nsectors, uint32_t sector_size, bool encrypt) {
    sm4_xts_sectors(sm4_kernels(), key, first_sector, in, out, nsectors, sector_size, encrypt);
}

}  // namespace crypto_internal
