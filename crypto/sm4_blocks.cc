// Choice of the SM4 kernels: the fastest path that the CPU and the operating system support.
#include "crypto/sm4_blocks.h"

#include <atomic>

#include "crypto/cpu_features.h"

// HALDEN_SM4_NO_VECTOR builds the portable path alone. HALDEN_SM4_KERNEL_MODE keeps the active
// kernels to the paths that use no register state beyond SSE: kernel-mode code reaches the others
// only through sm4_fastest_kernels, naming the state that it has saved.
#if defined(__x86_64__) && !defined(HALDEN_SM4_NO_VECTOR)
#define HALDEN_SM4_VECTOR_PATHS 1
#endif

namespace crypto_internal {
namespace {

#define HALDEN_SM4_KERNELS(path, name)                                                   \
    Sm4Kernels {                                                                         \
        path, sm4_blocks_##name, sm4_xts_##name, sm4_expand_##name, sm4_xts_setup_##name \
    }

constexpr Sm4Kernels kPortable = HALDEN_SM4_KERNELS(Sm4Path::kPortable, portable);
#ifdef HALDEN_SM4_VECTOR_PATHS
constexpr Sm4Kernels kAesniSse = HALDEN_SM4_KERNELS(Sm4Path::kAesniSse, aesni_sse);
constexpr Sm4Kernels kGfniSse = HALDEN_SM4_KERNELS(Sm4Path::kGfniSse, gfni_sse);
constexpr Sm4Kernels kAesniAvx2 = HALDEN_SM4_KERNELS(Sm4Path::kAesniAvx2, aesni_avx2);
constexpr Sm4Kernels kGfniAvx2 = HALDEN_SM4_KERNELS(Sm4Path::kGfniAvx2, gfni_avx2);
constexpr Sm4Kernels kGfniAvx512 = HALDEN_SM4_KERNELS(Sm4Path::kGfniAvx512, gfni_avx512);
#endif
#undef HALDEN_SM4_KERNELS

// Fastest first.
constexpr Sm4Path kPreference[] = {Sm4Path::kGfniAvx512, Sm4Path::kGfniAvx2, Sm4Path::kAesniAvx2,
                                   Sm4Path::kGfniSse,    Sm4Path::kAesniSse, Sm4Path::kPortable};

// The extended state that the active kernels may use.
#ifdef HALDEN_SM4_KERNEL_MODE
constexpr uint64_t kActiveXState = 0;
#else
constexpr uint64_t kActiveXState = ~uint64_t{0};
#endif

// The active kernels: null until the first use or a forced path. Constant-initialised, so a
// library holding it runs nothing at load; racing first uses choose the same kernels.
std::atomic<const Sm4Kernels*> g_active{nullptr};

}  // namespace

const Sm4Kernels* sm4_kernels_for(Sm4Path path) {
    switch (path) {
        case Sm4Path::kPortable:
            return &kPortable;
#ifdef HALDEN_SM4_VECTOR_PATHS
        case Sm4Path::kAesniSse:
            return &kAesniSse;
        case Sm4Path::kGfniSse:
            return &kGfniSse;
        case Sm4Path::kAesniAvx2:
            return &kAesniAvx2;
        case Sm4Path::kGfniAvx2:
            return &kGfniAvx2;
        case Sm4Path::kGfniAvx512:
            return &kGfniAvx512;
#endif
        default:
            return nullptr;
    }
}

bool sm4_path_supported(Sm4Path path) {
    if (sm4_kernels_for(path) == nullptr) return false;
    const CpuFeatures f = cpu_features();
    switch (path) {
        case Sm4Path::kPortable:
            return true;
        case Sm4Path::kAesniAvx2:
            return f.aesni && f.avx2;
        case Sm4Path::kGfniAvx2:
            return f.gfni && f.avx2;
        case Sm4Path::kGfniAvx512:
            return f.gfni && f.avx512f && f.avx512bw && f.avx512vl;
        case Sm4Path::kAesniSse:
            return f.aesni && f.sse41;
        case Sm4Path::kGfniSse:
            return f.gfni && f.sse41;
    }
    return false;
}

uint64_t sm4_path_xstate(Sm4Path path) {
    switch (path) {
        case Sm4Path::kAesniAvx2:
        case Sm4Path::kGfniAvx2:
            return kXStateYmm;
        case Sm4Path::kGfniAvx512:
            return kXStateYmm | kXStateZmm;
        default:
            return 0;
    }
}

const Sm4Kernels& sm4_fastest_kernels(uint64_t xstate) {
    for (Sm4Path p : kPreference)
        if ((sm4_path_xstate(p) & ~xstate) == 0 && sm4_path_supported(p))
            return *sm4_kernels_for(p);
    return kPortable;
}

const char* sm4_path_name(Sm4Path path) {
    switch (path) {
        case Sm4Path::kPortable:
            return "portable";
        case Sm4Path::kAesniAvx2:
            return "aesni-avx2";
        case Sm4Path::kGfniAvx2:
            return "gfni-avx2";
        case Sm4Path::kGfniAvx512:
            return "gfni-avx512";
        case Sm4Path::kAesniSse:
            return "aesni-sse";
        case Sm4Path::kGfniSse:
            return "gfni-sse";
    }
    return "?";
}

const Sm4Kernels& sm4_kernels() {
    const Sm4Kernels* kernels = g_active.load(std::memory_order_relaxed);
    if (!kernels) {
        kernels = &sm4_fastest_kernels(kActiveXState);
        g_active.store(kernels, std::memory_order_relaxed);
    }
    return *kernels;
}

bool sm4_force_path(Sm4Path path) {
    if (!sm4_path_supported(path) || (sm4_path_xstate(path) & ~kActiveXState) != 0) return false;
    g_active.store(sm4_kernels_for(path), std::memory_order_relaxed);
    return true;
}

}  // namespace crypto_internal
