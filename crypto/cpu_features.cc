#include "crypto/cpu_features.h"

#include <cstdint>

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#endif

namespace crypto_internal {
namespace {

#if defined(__x86_64__) || defined(__i386__)
uint64_t read_xcr0() {
    uint32_t lo = 0;
    uint32_t hi = 0;
    __asm__ volatile("xgetbv" : "=a"(lo), "=d"(hi) : "c"(0));
    return (uint64_t{hi} << 32) | lo;
}

CpuFeatures detect() {
    CpuFeatures f;
    unsigned a = 0, b = 0, c = 0, d = 0;
    if (__get_cpuid_max(0, nullptr) < 7) return f;
    __cpuid_count(1, 0, a, b, c, d);
    const bool osxsave = (c >> 27) & 1;
    const bool avx = (c >> 28) & 1;
    f.ssse3 = (c >> 9) & 1;
    f.sse41 = (c >> 19) & 1;
    f.aesni = (c >> 25) & 1;
    uint64_t xcr0 = osxsave ? read_xcr0() : 0;
    const bool ymm_state = (xcr0 & 0x6) == 0x6;                 // SSE and AVX state
    const bool zmm_state = ymm_state && (xcr0 & 0xE0) == 0xE0;  // opmask, ZMM_Hi256, Hi16_ZMM
    __cpuid_count(7, 0, a, b, c, d);
    f.avx2 = avx && ymm_state && ((b >> 5) & 1);
    f.avx512f = zmm_state && ((b >> 16) & 1);
    f.avx512bw = f.avx512f && ((b >> 30) & 1);
    f.avx512vl = f.avx512f && ((b >> 31) & 1);
    f.gfni = (c >> 8) & 1;
    f.bmi2 = (b >> 8) & 1;
    f.adx = (b >> 19) & 1;
    return f;
}
#else
CpuFeatures detect() {
    return CpuFeatures{};
}
#endif

}  // namespace

CpuFeatures cpu_features() {
    return detect();
}

}  // namespace crypto_internal
