// The kernel-mode build of the sector path (crypto_xts_kernel, which the driver links): its active
// kernels use no register state beyond SSE whatever the CPU has; the AVX paths are built in and
// reached only by naming them; and every path gives the sectors of the per-sector entry point.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "crypto/sm4_blocks.h"
#include "crypto/sm4_xts.h"

namespace {

using crypto_internal::Sm4Path;
using Bytes = std::vector<uint8_t>;

constexpr Sm4Path kAvxPaths[] = {Sm4Path::kAesniAvx2, Sm4Path::kGfniAvx2, Sm4Path::kGfniAvx512};

TEST(Sm4KernelMode, TheActiveKernelsNeedNoSavedState) {
    const Sm4Path active = crypto_internal::sm4_kernels().path;
    EXPECT_EQ(crypto_internal::sm4_path_xstate(active), 0u);
    EXPECT_EQ(active, crypto_internal::sm4_fastest_kernels(0).path);
    for (Sm4Path p : kAvxPaths) {
#if defined(__x86_64__)
        EXPECT_NE(crypto_internal::sm4_kernels_for(p), nullptr)
            << crypto_internal::sm4_path_name(p);
#endif
        EXPECT_FALSE(crypto_internal::sm4_force_path(p)) << crypto_internal::sm4_path_name(p);
    }
    EXPECT_EQ(crypto_internal::sm4_kernels().path, active);
}

TEST(Sm4KernelMode, EveryPathGivesTheSectorsOfSm4Xts) {
    std::mt19937_64 rng(0x5134'000B);
    Bytes key(32), in(512 * 37);
    for (auto& b : key) b = static_cast<uint8_t>(rng());
    for (auto& b : in) b = static_cast<uint8_t>(rng());
    constexpr uint64_t kFirst = 0x1'0000'0FF0;
    for (Sm4Path p : {Sm4Path::kPortable, Sm4Path::kAesniSse, Sm4Path::kGfniSse,
                      Sm4Path::kAesniAvx2, Sm4Path::kGfniAvx2, Sm4Path::kGfniAvx512}) {
        if (!crypto_internal::sm4_path_supported(p)) continue;
        for (bool encrypt : {true, false}) {
            Bytes expected(in.size()), out(in.size());
            for (size_t s = 0; s < in.size() / 512; ++s) {
                uint8_t tweak[16] = {};
                for (int i = 0; i < 8; ++i)
                    tweak[i] = static_cast<uint8_t>((kFirst + s) >> (8 * i));
                sm4_xts(key.data(), tweak, &in[512 * s], 512, &expected[512 * s], encrypt);
            }
            crypto_internal::sm4_xts_sectors(*crypto_internal::sm4_kernels_for(p), key.data(),
                                             kFirst, in.data(), out.data(), in.size() / 512, 512,
                                             encrypt);
            EXPECT_EQ(out, expected)
                << crypto_internal::sm4_path_name(p) << (encrypt ? " enc" : " dec");
        }
    }
}

}  // namespace
