// Multi-block SM4 kernels and their runtime dispatch. Internal to the crypto library: nothing
// here is exported by any deliverable.
//
// Round keys are an expanded schedule (sm4_ctx::rk): the encryption schedule encrypts, the
// reversed one decrypts, with the same kernel. in and out either are the same buffer or do not
// overlap. Round keys, data and tweaks are secret; lengths are public. The vector paths use no
// secret-indexed memory access and no secret-dependent branch.
#pragma once

#include <cstddef>
#include <cstdint>

namespace crypto_internal {

enum class Sm4Path : uint8_t {
    kPortable,    // sm4_crypt_block per block, on any CPU
    kAesniAvx2,   // S-box through AESENCLAST, 8 blocks per group
    kGfniAvx2,    // S-box through GF2P8AFFINE(INV)QB on YMM, 8 blocks per group
    kGfniAvx512,  // S-box through GF2P8AFFINE(INV)QB on ZMM, 16 blocks per group
    kAesniSse,    // as kAesniAvx2 on XMM in the legacy SSE encoding, 4 blocks per group
    kGfniSse,     // as kGfniAvx2 on XMM in the legacy SSE encoding, 4 blocks per group
};

// ECB: block k of in is transformed into block k of out, for k < nblocks.
using Sm4BlocksFn = void (*)(const uint32_t* rk, const uint8_t* in, uint8_t* out, size_t nblocks);
// XTS core (GB/T 17964 tweak order): tweak holds the encrypted tweak T of block 0; block j
// becomes SM4(in_j ^ T_j) ^ T_j with T_j = T * alpha^j, and tweak is left holding T * alpha^n.
using Sm4XtsFn = void (*)(const uint32_t* rk, uint8_t* tweak, const uint8_t* in, uint8_t* out,
                          size_t nblocks);

// The key schedule of a 16-byte key into rk (32 words), reversed when decrypt.
using Sm4ExpandFn = void (*)(const uint8_t* key, bool decrypt, uint32_t* rk);
// The set-up of an XTS data unit from a 32-byte XTS key: rk1 = the schedule of key bytes 0..15
// (reversed when decrypt); when rk2 is not null, rk2 = the schedule of bytes 16..31 (encryption
// order); when tweak_in is not null, t = SM4 of tweak_in under bytes 16..31.
using Sm4XtsSetupFn = void (*)(const uint8_t* key, bool decrypt, const uint8_t* tweak_in,
                               uint32_t* rk1, uint32_t* rk2, uint8_t* t);

struct Sm4Kernels {
    Sm4Path path;
    Sm4BlocksFn blocks;
    Sm4XtsFn xts;
    Sm4ExpandFn expand;
    Sm4XtsSetupFn xts_setup;
};

// The kernels of one path (nullptr when the path is not compiled into this build).
const Sm4Kernels* sm4_kernels_for(Sm4Path path);
// Whether this CPU (and build) can run path.
bool sm4_path_supported(Sm4Path path);
const char* sm4_path_name(Sm4Path path);

// The XSAVE state components (XCR0 bits) that a path uses beyond the SSE state: none for the
// portable and SSE paths, YMM for the AVX2 paths, YMM and ZMM for AVX-512. Kernel-mode code runs
// a path only while these components are saved.
constexpr uint64_t kXStateYmm = uint64_t{1} << 2;  // the upper halves of YMM0-15
constexpr uint64_t kXStateZmm = uint64_t{7} << 5;  // opmask, the upper halves of ZMM0-15, ZMM16-31
uint64_t sm4_path_xstate(Sm4Path path);

// The fastest path that this CPU (and build) supports among those whose state lies within xstate.
const Sm4Kernels& sm4_fastest_kernels(uint64_t xstate);

// The active kernels: the fastest supported path, chosen on the first call, unless forced. In the
// kernel-mode build (HALDEN_SM4_KERNEL_MODE) only paths without state beyond SSE.
const Sm4Kernels& sm4_kernels();
// Makes path the active one, for tests and benchmarks; false (nothing changed) when it is not
// supported or not allowed as an active path. Not to be called while another thread runs SM4.
bool sm4_force_path(Sm4Path path);

// Per-path kernels, defined in their own files.
#define HALDEN_SM4_DECLARE_PATH(name)                                                            \
    void sm4_blocks_##name(const uint32_t* rk, const uint8_t* in, uint8_t* out, size_t nblocks); \
    void sm4_xts_##name(const uint32_t* rk, uint8_t* tweak, const uint8_t* in, uint8_t* out,     \
                        size_t nblocks);                                                         \
    void sm4_expand_##name(const uint8_t* key, bool decrypt, uint32_t* rk);                      \
    void sm4_xts_setup_##name(const uint8_t* key, bool decrypt, const uint8_t* tweak_in,         \
                              uint32_t* rk1, uint32_t* rk2, uint8_t* t);
HALDEN_SM4_DECLARE_PATH(portable)
HALDEN_SM4_DECLARE_PATH(aesni_avx2)
HALDEN_SM4_DECLARE_PATH(gfni_avx2)
HALDEN_SM4_DECLARE_PATH(gfni_avx512)
HALDEN_SM4_DECLARE_PATH(aesni_sse)
HALDEN_SM4_DECLARE_PATH(gfni_sse)
#undef HALDEN_SM4_DECLARE_PATH

// The driver's sector path: nsectors consecutive XTS data units of sector_size bytes (a nonzero
// multiple of 16), sector k of the request taking the tweak input (first_sector + k) as u64
// little-endian followed by 8 zero bytes, under a 32-byte XTS key. The output is that of one
// sm4_xts call per sector, with the keys expanded once for the whole request. in and out are
// the same buffer or disjoint. Runs kernels.
void sm4_xts_sectors(const Sm4Kernels& kernels, const uint8_t* key, uint64_t first_sector,
                     const uint8_t* in, uint8_t* out, size_t nsectors, uint32_t sector_size,
                     bool encrypt);
// The same with the active kernels.
void sm4_xts_sectors(const uint8_t* key, uint64_t first_sector, const uint8_t* in, uint8_t* out,
                     size_t nsectors, uint32_t sector_size, bool encrypt);

}  // namespace crypto_internal
