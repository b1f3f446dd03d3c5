// CPU features that the vector paths need (CPUID, and XGETBV for the register state that the
// operating system saves).
#pragma once

namespace crypto_internal {

struct CpuFeatures {
    bool ssse3 = false;
    bool sse41 = false;
    bool aesni = false;
    bool avx2 = false;     // with the OS saving YMM state
    bool avx512f = false;  // with the OS saving ZMM and opmask state
    bool avx512bw = false;
    bool avx512vl = false;
    bool gfni = false;  // the instructions; the VEX and EVEX forms also need avx2 or avx512f
    bool bmi2 = false;  // MULX
    bool adx = false;   // ADCX and ADOX
};

// The features of this CPU, detected afresh on each call (callers keep the choice they base on
// them); safe to call from any thread.
CpuFeatures cpu_features();

}  // namespace crypto_internal
