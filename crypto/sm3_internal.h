// The SM3 compression paths behind sm3_update, exposed so that tests can run each one.
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(__x86_64__) && defined(__GNUC__)
#define SM3_HAVE_AVX2_PATH 1
#else
#define SM3_HAVE_AVX2_PATH 0
#endif

namespace crypto_internal {

// Compresses n consecutive 64-byte blocks of data into state (GB/T 32905's CF, once per block).
// Every path gives the same state.
void sm3_compress_blocks_portable(uint32_t state[8], const uint8_t* data, size_t n);
#if SM3_HAVE_AVX2_PATH
// Expands the messages of up to eight blocks at once in AVX2 lanes; needs AVX2 and BMI2.
void sm3_compress_blocks_avx2(uint32_t state[8], const uint8_t* data, size_t n);
#endif

// Whether the CPU (and the OS, for the vector state) supports the AVX2 path.
bool sm3_avx2_usable();

}  // namespace crypto_internal
