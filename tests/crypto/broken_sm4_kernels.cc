// A stand-in for the library's choice of SM4 kernels that hands out wrong ones: every ECB block
// comes out with its first bit flipped, and the XTS tweak steps by a left shift folding in 0x87
// (so the first block of a data unit is right and the later ones are wrong). Linked ahead of the
// library, it keeps the library's kernel choice out.
#include <cstring>

#include "crypto/sm4.h"
#include "crypto/sm4_blocks.h"

namespace crypto_internal {
namespace {

void wrong_blocks(const uint32_t* rk, const uint8_t* in, uint8_t* out, size_t nblocks) {
    sm4_blocks_portable(rk, in, out, nblocks);
    for (size_t i = 0; i < nblocks; ++i) out[16 * i] ^= 0x80;
}

void wrong_alpha(uint8_t* t) {
    const uint8_t carry = t[15] >> 7;
    for (int i = 15; i > 0; --i) t[i] = static_cast<uint8_t>(t[i] << 1 | t[i - 1] >> 7);
    t[0] = static_cast<uint8_t>(t[0] << 1);
    if (carry) t[0] ^= 0x87;
}

void wrong_xts(const uint32_t* rk, uint8_t* tweak, const uint8_t* in, uint8_t* out,
               size_t nblocks) {
    for (size_t i = 0; i < nblocks; ++i) {
        uint8_t b[16];
        for (int j = 0; j < 16; ++j) b[j] = in[16 * i + j] ^ tweak[j];
        sm4_crypt_block(rk, b, b);
        for (int j = 0; j < 16; ++j) out[16 * i + j] = b[j] ^ tweak[j];
        wrong_alpha(tweak);
    }
}

const Sm4Kernels kWrong = {Sm4Path::kPortable, wrong_blocks, wrong_xts, sm4_expand_portable,
                           sm4_xts_setup_portable};

}  // namespace

const Sm4Kernels* sm4_kernels_for(Sm4Path) {
    return &kWrong;
}
bool sm4_path_supported(Sm4Path path) {
    return path == Sm4Path::kPortable;
}
const char* sm4_path_name(Sm4Path) {
    return "wrong";
}
const Sm4Kernels& sm4_kernels() {
    return kWrong;
}
bool sm4_force_path(Sm4Path path) {
    return sm4_path_supported(path);
}

}  // namespace crypto_internal
