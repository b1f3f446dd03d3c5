// Every unit starts from the same encrypted tweak T, so T and K1's schedule are computed once.
#include "crypto/sm4_xts_units.h"

#include <cstring>

#include "crypto/secure_wipe.h"
#include "crypto/sm4_blocks.h"

namespace crypto_internal {

void sm4_xts_units(const uint8_t* key, const uint8_t* tweak_input, const uint8_t* in, uint8_t* out,
                   size_t nunits, uint32_t unit_size, bool encrypt) {
    const Sm4Kernels& k = sm4_kernels();
    uint32_t rk1[32];
    uint8_t first_tweak[16];
    uint8_t tweak[16];
    k.xts_setup(key, !encrypt, tweak_input, rk1, nullptr, first_tweak);
    const size_t blocks_per_unit = unit_size / 16;
    for (size_t i = 0; i < nunits; ++i) {
        std::memcpy(tweak, first_tweak, sizeof tweak);
        k.xts(rk1, tweak, in, out, blocks_per_unit);
        in += unit_size;
        out += unit_size;
    }
    secure_wipe(rk1, sizeof rk1);
    secure_wipe(first_tweak, sizeof first_tweak);
    secure_wipe(tweak, sizeof tweak);
}

}  // namespace crypto_internal
