// SM4 on ZMM registers with GFNI: 16 blocks per group, up to four groups in flight for ECB and
// two for XTS (a 512-byte sector); the S-box is two affine instructions (crypto/sm4_sbox_affine.h).

// GCC 12's AVX-512 intrinsics initialise their "undefined" operands from themselves.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#include <immintrin.h>
#pragma GCC diagnostic pop

#include <cstddef>
#include <cstdint>

#include "crypto/sm4_blocks.h"
#include "crypto/sm4_sbox_affine.h"

// HALDEN_SM4_NO_AVX leaves out the paths that need the AVX register state.
#if defined(__x86_64__) && !defined(HALDEN_SM4_NO_VECTOR) && !defined(HALDEN_SM4_NO_AVX)

#pragma GCC push_options
#pragma GCC target("avx512f,avx512bw,avx512vl,gfni")

#include "crypto/sm4_key_setup.h"

namespace crypto_internal {
namespace {

using sm4_affine::kGfniPostConst;
using sm4_affine::kGfniPreConst;

constexpr int kGroup = 16;    // blocks per group
constexpr int kInFlight = 4;  // groups per iteration of the main loop
static_assert(kInFlight >= 2, "the tail reuses the second group's tweaks");

struct Consts {
    Consts()
        : pre(_mm512_set1_epi64(static_cast<long long>(sm4_affine::kGfniPreMatrix))),
          post(_mm512_set1_epi64(static_cast<long long>(sm4_affine::kGfniPostMatrix))),
          bswap32(_mm512_broadcast_i32x4(
              _mm_setr_epi8(3, 2, 1, 0, 7, 6, 5, 4, 11, 10, 9, 8, 15, 14, 13, 12))),
          rev128(_mm512_broadcast_i32x4(
              _mm_setr_epi8(15, 14, 13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0))) {}

    __m512i pre;
    __m512i post;
    __m512i bswap32;  // byte order inside each 32-bit word (the standard's words are big-endian)
    __m512i
        rev128;  // tweaks are kept as 128-bit little-endian integers, memory holds them big-endian
};

// The S-box on XMM registers, for the key set-up.
struct Tau128 {
    Tau128()
        : pre(_mm_set1_epi64x(static_cast<long long>(sm4_affine::kGfniPreMatrix))),
          post(_mm_set1_epi64x(static_cast<long long>(sm4_affine::kGfniPostMatrix))) {}

    __m128i operator()(__m128i x) const {
        x = _mm_gf2p8affine_epi64_epi8(x, pre, kGfniPreConst);
        return _mm_gf2p8affineinv_epi64_epi8(x, post, kGfniPostConst);
    }

    static constexpr bool kAvx512Rotate = true;
    __m128i pre;
    __m128i post;
};

inline __m512i xor3(__m512i a, __m512i b, __m512i c) {
    return _mm512_ternarylogic_epi32(a, b, c, 0x96);
}

// x0 ^ L(tau(x1 ^ x2 ^ x3 ^ rk)), x3 being the word made by the previous round: the terms are
// grouped so that the chain from x3 to the result is as short as possible.
inline __m512i round(__m512i x0, __m512i x1, __m512i x2, __m512i x3, __m512i rk, const Consts& k) {
    __m512i t = _mm512_xor_si512(xor3(x1, x2, rk), x3);
    t = _mm512_gf2p8affine_epi64_epi8(t, k.pre, kGfniPreConst);
    t = _mm512_gf2p8affineinv_epi64_epi8(t, k.post, kGfniPostConst);
    const __m512i a = xor3(x0, t, _mm512_rol_epi32(t, 2));
    const __m512i b =
        xor3(_mm512_rol_epi32(t, 10), _mm512_rol_epi32(t, 18), _mm512_rol_epi32(t, 24));
    return _mm512_xor_si512(a, b);
}

// 4x4 transpose of 32-bit words inside each 128-bit lane of four registers (an involution).
inline void transpose(__m512i& a, __m512i& b, __m512i& c, __m512i& d) {
    const __m512i t0 = _mm512_unpacklo_epi32(a, b);
    const __m512i t1 = _mm512_unpackhi_epi32(a, b);
    const __m512i t2 = _mm512_unpacklo_epi32(c, d);
    const __m512i t3 = _mm512_unpackhi_epi32(c, d);
    a = _mm512_unpacklo_epi64(t0, t2);
    b = _mm512_unpackhi_epi64(t0, t2);
    c = _mm512_unpacklo_epi64(t1, t3);
    d = _mm512_unpackhi_epi64(t1, t3);
}

// Encrypts G groups held as four registers each (register j holds blocks 4j..4j+3 in memory
// order), in place.
template <int G>
inline void crypt_groups(__m512i (&z)[G][4], const uint32_t* rk, const Consts& k) {
    for (int g = 0; g < G; ++g) {
        for (int j = 0; j < 4; ++j) z[g][j] = _mm512_shuffle_epi8(z[g][j], k.bswap32);
        transpose(z[g][0], z[g][1], z[g][2], z[g][3]);
    }
    for (int r = 0; r < 32; r += 4) {
        const __m512i k0 = _mm512_set1_epi32(static_cast<int>(rk[r]));
        for (int g = 0; g < G; ++g) z[g][0] = round(z[g][0], z[g][1], z[g][2], z[g][3], k0, k);
        const __m512i k1 = _mm512_set1_epi32(static_cast<int>(rk[r + 1]));
        for (int g = 0; g < G; ++g) z[g][1] = round(z[g][1], z[g][2], z[g][3], z[g][0], k1, k);
        const __m512i k2 = _mm512_set1_epi32(static_cast<int>(rk[r + 2]));
        for (int g = 0; g < G; ++g) z[g][2] = round(z[g][2], z[g][3], z[g][0], z[g][1], k2, k);
        const __m512i k3 = _mm512_set1_epi32(static_cast<int>(rk[r + 3]));
        for (int g = 0; g < G; ++g) z[g][3] = round(z[g][3], z[g][0], z[g][1], z[g][2], k3, k);
    }
    // The output words are X35, X34, X33, X32.
    for (int g = 0; g < G; ++g) {
        __m512i a = z[g][3], b = z[g][2], c = z[g][1], d = z[g][0];
        transpose(a, b, c, d);
        z[g][0] = _mm512_shuffle_epi8(a, k.bswap32);
        z[g][1] = _mm512_shuffle_epi8(b, k.bswap32);
        z[g][2] = _mm512_shuffle_epi8(c, k.bswap32);
        z[g][3] = _mm512_shuffle_epi8(d, k.bswap32);
    }
}

// Word mask of register j of a group of which the first n blocks are present.
inline __mmask16 group_mask(size_t n, int j) {
    const size_t first = 4 * static_cast<size_t>(j);
    const size_t count = n <= first ? 0 : (n - first >= 4 ? 4 : n - first);
    return static_cast<__mmask16>((1u << (4 * count)) - 1);
}

// T * x^K for the 128-bit little-endian integers in each lane (GB/T 17964 order: the integer is
// the tweak read big-endian, and alpha is a right shift with 0xE1 folded into the top byte).
template <int K>
inline __m512i mul_alpha_k(__m512i v) {
    static_assert(K >= 1 && K <= 57);
    const __m512i low = _mm512_and_si512(
        _mm512_bslli_epi128(v, 8), _mm512_set1_epi64(static_cast<long long>((1ULL << K) - 1)));
    // clmul(low, 0xE1) << (121 - K), placed in the high half.
    __m512i red = xor3(_mm512_slli_epi64(low, 57 - K), _mm512_slli_epi64(low, 62 - K),
                       _mm512_slli_epi64(low, 63 - K));
    red = xor3(red, _mm512_slli_epi64(low, 64 - K), _mm512_srli_epi64(v, K));
    return _mm512_xor_si512(red, _mm512_bsrli_epi128(_mm512_slli_epi64(v, 64 - K), 8));
}

// Encrypts G whole groups from in to out and advances the pointers; returns the blocks left.
template <int G>
inline size_t ecb_groups(const uint32_t* rk, const uint8_t*& in, uint8_t*& out, size_t nblocks,
                         const Consts& k) {
    __m512i z[G][4];
    for (int g = 0; g < G; ++g)
        for (int j = 0; j < 4; ++j) z[g][j] = _mm512_loadu_si512(in + 256 * g + 64 * j);
    crypt_groups(z, rk, k);
    for (int g = 0; g < G; ++g)
        for (int j = 0; j < 4; ++j) _mm512_storeu_si512(out + 256 * g + 64 * j, z[g][j]);
    in += 256 * G;
    out += 256 * G;
    return nblocks - kGroup * G;
}

// As ecb_groups with the XTS tweaks of tw (the next group's), which it advances past the groups.
template <int G>
inline size_t xts_groups(const uint32_t* rk, __m512i (&tw)[4], const uint8_t*& in, uint8_t*& out,
                         size_t nblocks, const Consts& k) {
    __m512i t[G][4];
    __m512i z[G][4];
    for (int j = 0; j < 4; ++j) {
        __m512i v = tw[j];
        for (int g = 0; g < G; ++g) {
            if (g > 0) v = mul_alpha_k<kGroup>(v);
            t[g][j] = _mm512_shuffle_epi8(v, k.rev128);
            z[g][j] = _mm512_xor_si512(_mm512_loadu_si512(in + 256 * g + 64 * j), t[g][j]);
        }
    }
    for (int j = 0; j < 4; ++j) tw[j] = mul_alpha_k<kGroup * G>(tw[j]);
    crypt_groups(z, rk, k);
    for (int g = 0; g < G; ++g)
        for (int j = 0; j < 4; ++j)
            _mm512_storeu_si512(out + 256 * g + 64 * j, _mm512_xor_si512(z[g][j], t[g][j]));
    in += 256 * G;
    out += 256 * G;
    return nblocks - kGroup * G;
}

}  // namespace

void sm4_blocks_gfni_avx512(const uint32_t* rk, const uint8_t* in, uint8_t* out, size_t nblocks) {
    const Consts k;
    while (nblocks >= 4 * kGroup) nblocks = ecb_groups<4>(rk, in, out, nblocks, k);
    if (nblocks >= 2 * kGroup) nblocks = ecb_groups<2>(rk, in, out, nblocks, k);
    if (nblocks >= kGroup) nblocks = ecb_groups<1>(rk, in, out, nblocks, k);
    if (nblocks > 0) {
        __m512i z[1][4];
        for (int j = 0; j < 4; ++j)
            z[0][j] = _mm512_maskz_loadu_epi32(group_mask(nblocks, j), in + 64 * j);
        crypt_groups(z, rk, k);
        for (int j = 0; j < 4; ++j)
            _mm512_mask_storeu_epi32(out + 64 * j, group_mask(nblocks, j), z[0][j]);
    }
}

void sm4_xts_gfni_avx512(const uint32_t* rk, uint8_t* tweak, const uint8_t* in, uint8_t* out,
                         size_t nblocks) {
    const Consts k;
    // tw[j] holds the tweaks of blocks 4j..4j+3 of the next group.
    __m512i tw[4];
    {
        const __m512i t = _mm512_broadcast_i32x4(
            _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(tweak)),
                             _mm512_castsi512_si128(k.rev128)));
        tw[0] = _mm512_mask_blend_epi64(
            0xC0,
            _mm512_mask_blend_epi64(0x30, _mm512_mask_blend_epi64(0x0C, t, mul_alpha_k<1>(t)),
                                    mul_alpha_k<2>(t)),
            mul_alpha_k<3>(t));
        tw[1] = mul_alpha_k<4>(tw[0]);
        tw[2] = mul_alpha_k<8>(tw[0]);
        tw[3] = mul_alpha_k<12>(tw[0]);
    }
    while (nblocks >= 2 * kGroup) nblocks = xts_groups<2>(rk, tw, in, out, nblocks, k);
    if (nblocks >= kGroup) nblocks = xts_groups<1>(rk, tw, in, out, nblocks, k);
    __m512i last = tw[0];
    if (nblocks > 0) {
        __m512i z[1][4];
        for (int j = 0; j < 4; ++j)
            z[0][j] =
                _mm512_xor_si512(_mm512_maskz_loadu_epi32(group_mask(nblocks, j), in + 64 * j),
                                 _mm512_shuffle_epi8(tw[j], k.rev128));
        crypt_groups(z, rk, k);
        for (int j = 0; j < 4; ++j)
            _mm512_mask_storeu_epi32(
                out + 64 * j, group_mask(nblocks, j),
                _mm512_xor_si512(z[0][j], _mm512_shuffle_epi8(tw[j], k.rev128)));
        // The tweak after the last block: lane n % 4 of register n / 4.
        const long long lane = static_cast<long long>(2 * (nblocks % 4));
        last = _mm512_permutexvar_epi64(_mm512_set_epi64(0, 0, 0, 0, 0, 0, lane + 1, lane),
                                        tw[nblocks / 4]);
    }
    _mm_storeu_si128(
        reinterpret_cast<__m128i*>(tweak),
        _mm_shuffle_epi8(_mm512_castsi512_si128(last), _mm512_castsi512_si128(k.rev128)));
}

void sm4_expand_gfni_avx512(const uint8_t* key, bool decrypt, uint32_t* rk) {
    Sm4KeySetup<Tau128>::run<false, false>(Tau128(), key, key, decrypt, rk, nullptr, nullptr,
                                           nullptr);
}

void sm4_xts_setup_gfni_avx512(const uint8_t* key, bool decrypt, const uint8_t* tweak_in,
                               uint32_t* rk1, uint32_t* rk2, uint8_t* t) {
    const Tau128 tau;
    using Setup = Sm4KeySetup<Tau128>;
    if (rk2 != nullptr && tweak_in != nullptr)
        Setup::run<true, true>(tau, key, key + 16, decrypt, rk1, rk2, tweak_in, t);
    else if (rk2 != nullptr)
        Setup::run<true, false>(tau, key, key + 16, decrypt, rk1, rk2, nullptr, nullptr);
    else if (tweak_in != nullptr)
        Setup::run<false, true>(tau, key, key + 16, decrypt, rk1, nullptr, tweak_in, t);
    else
        Setup::run<false, false>(tau, key, key, decrypt, rk1, nullptr, nullptr, nullptr);
}

}  // namespace crypto_internal

#pragma GCC pop_options

#endif
