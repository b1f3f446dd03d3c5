// The SM4 kernels on XMM registers in the legacy SSE encoding, shared by the SSE paths: 4 blocks
// per group, two groups in flight. They use no AVX state, so they also suit code that may not
// touch the YMM/ZMM registers (a Windows kernel-mode caller that does not save the extended
// state). Each path file includes this after its target pragma and instantiates Sm4Sse with its
// S-box layer (operator()(__m128i)); everything here has internal linkage. It includes no
// standard header: the path file includes <immintrin.h> and sm4_blocks.h first.
#pragma once

namespace crypto_internal {
namespace {

struct SseConsts {
    SseConsts()
        : bswap32(_mm_setr_epi8(3, 2, 1, 0, 7, 6, 5, 4, 11, 10, 9, 8, 15, 14, 13, 12)),
          rev128(_mm_setr_epi8(15, 14, 13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0)),
          rol8(_mm_setr_epi8(3, 0, 1, 2, 7, 4, 5, 6, 11, 8, 9, 10, 15, 12, 13, 14)),
          rol16(_mm_setr_epi8(2, 3, 0, 1, 6, 7, 4, 5, 10, 11, 8, 9, 14, 15, 12, 13)),
          rol24(_mm_setr_epi8(1, 2, 3, 0, 5, 6, 7, 4, 9, 10, 11, 8, 13, 14, 15, 12)) {}

    __m128i bswap32;  // byte order inside each 32-bit word
    __m128i rev128;   // a tweak between memory order and a little-endian integer
    __m128i rol8;     // 32-bit rotations by whole bytes
    __m128i rol16;
    __m128i rol24;
};

inline __m128i xor_sse(__m128i a, __m128i b) {
    return _mm_xor_si128(a, b);
}

// 4x4 transpose of 32-bit words across four registers (an involution).
inline void transpose_sse(__m128i& a, __m128i& b, __m128i& c, __m128i& d) {
    const __m128i t0 = _mm_unpacklo_epi32(a, b);
    const __m128i t1 = _mm_unpackhi_epi32(a, b);
    const __m128i t2 = _mm_unpacklo_epi32(c, d);
    const __m128i t3 = _mm_unpackhi_epi32(c, d);
    a = _mm_unpacklo_epi64(t0, t2);
    b = _mm_unpackhi_epi64(t0, t2);
    c = _mm_unpacklo_epi64(t1, t3);
    d = _mm_unpackhi_epi64(t1, t3);
}

// T * x^K for a tweak held as a 128-bit little-endian integer (see the GFNI AVX-512 file).
template <int K>
inline __m128i mul_alpha_k_sse(__m128i v) {
    static_assert(K >= 1 && K <= 57);
    const __m128i low = _mm_and_si128(_mm_slli_si128(v, 8),
                                      _mm_set1_epi64x(static_cast<long long>((1ULL << K) - 1)));
    const __m128i red = xor_sse(xor_sse(_mm_slli_epi64(low, 57 - K), _mm_slli_epi64(low, 62 - K)),
                                xor_sse(_mm_slli_epi64(low, 63 - K), _mm_slli_epi64(low, 64 - K)));
    return xor_sse(xor_sse(red, _mm_srli_epi64(v, K)),
                   _mm_srli_si128(_mm_slli_epi64(v, 64 - K), 8));
}

template <class Tau>
class Sm4Sse {
  public:
    static constexpr int kGroup = 4;
    static constexpr int kInFlight = 2;

    static void blocks(const uint32_t* rk, const uint8_t* in, uint8_t* out, size_t nblocks) {
        const Tau tau;
        const SseConsts k;
        while (nblocks >= kGroup * kInFlight) {
            __m128i z[kInFlight][4];
            for (int g = 0; g < kInFlight; ++g)
                for (int j = 0; j < 4; ++j) z[g][j] = load(in + 64 * g + 16 * j);
            crypt_groups(z, rk, tau, k);
            for (int g = 0; g < kInFlight; ++g)
                for (int j = 0; j < 4; ++j) store(out + 64 * g + 16 * j, z[g][j]);
            in += 16 * kGroup * kInFlight;
            out += 16 * kGroup * kInFlight;
            nblocks -= kGroup * kInFlight;
        }
        while (nblocks > 0) {
            const size_t n = nblocks < kGroup ? nblocks : kGroup;
            __m128i z[1][4];
            for (size_t j = 0; j < 4; ++j)
                z[0][j] = j < n ? load(in + 16 * j) : _mm_setzero_si128();
            crypt_groups(z, rk, tau, k);
            for (size_t j = 0; j < n; ++j) store(out + 16 * j, z[0][j]);
            in += 16 * n;
            out += 16 * n;
            nblocks -= n;
        }
    }

    static void xts(const uint32_t* rk, uint8_t* tweak, const uint8_t* in, uint8_t* out,
                    size_t nblocks) {
        const Tau tau;
        const SseConsts k;
        // tw[i] holds the tweak of block i of the next kInFlight groups.
        __m128i tw[kGroup * kInFlight];
        tw[0] = _mm_shuffle_epi8(load(tweak), k.rev128);
        for (int i = 1; i < kGroup * kInFlight; ++i) tw[i] = mul_alpha_k_sse<1>(tw[i - 1]);

        while (nblocks >= kGroup * kInFlight) {
            __m128i z[kInFlight][4];
            for (int g = 0; g < kInFlight; ++g)
                for (int j = 0; j < 4; ++j)
                    z[g][j] = xor_sse(load(in + 64 * g + 16 * j),
                                      _mm_shuffle_epi8(tw[4 * g + j], k.rev128));
            crypt_groups(z, rk, tau, k);
            for (int g = 0; g < kInFlight; ++g)
                for (int j = 0; j < 4; ++j)
                    store(out + 64 * g + 16 * j,
                          xor_sse(z[g][j], _mm_shuffle_epi8(tw[4 * g + j], k.rev128)));
            for (int i = 0; i < kGroup * kInFlight; ++i)
                tw[i] = mul_alpha_k_sse<kGroup * kInFlight>(tw[i]);
            in += 16 * kGroup * kInFlight;
            out += 16 * kGroup * kInFlight;
            nblocks -= kGroup * kInFlight;
        }
        __m128i last = tw[0];
        while (nblocks > 0) {
            const size_t n = nblocks < kGroup ? nblocks : kGroup;
            __m128i z[1][4];
            for (size_t j = 0; j < 4; ++j)
                z[0][j] = j < n ? xor_sse(load(in + 16 * j), _mm_shuffle_epi8(tw[j], k.rev128))
                                : _mm_setzero_si128();
            crypt_groups(z, rk, tau, k);
            for (size_t j = 0; j < n; ++j)
                store(out + 16 * j, xor_sse(z[0][j], _mm_shuffle_epi8(tw[j], k.rev128)));
            in += 16 * n;
            out += 16 * n;
            nblocks -= n;
            if (n == kGroup) {
                for (int i = 0; i + 4 < kGroup * kInFlight; ++i) tw[i] = tw[i + 4];
                last = tw[0];
            } else {
                last = tw[n];  // the tweak after the last block
            }
        }
        store(tweak, _mm_shuffle_epi8(last, k.rev128));
    }

  private:
    static __m128i load(const uint8_t* p) {
        return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    }
    static void store(uint8_t* p, __m128i v) { _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v); }

    // x0 ^ L(tau(x1 ^ x2 ^ x3 ^ rk)), x3 being the word made by the previous round.
    static __m128i round(__m128i x0, __m128i x1, __m128i x2, __m128i x3, __m128i rk, const Tau& tau,
                         const SseConsts& k) {
        const __m128i t = tau(xor_sse(xor_sse(xor_sse(x1, x2), rk), x3));
        __m128i a = xor_sse(xor_sse(t, _mm_shuffle_epi8(t, k.rol8)), _mm_shuffle_epi8(t, k.rol16));
        a = _mm_or_si128(_mm_slli_epi32(a, 2), _mm_srli_epi32(a, 30));
        return xor_sse(xor_sse(x0, t), xor_sse(a, _mm_shuffle_epi8(t, k.rol24)));
    }

    template <int G>
    static void crypt_groups(__m128i (&z)[G][4], const uint32_t* rk, const Tau& tau,
                             const SseConsts& k) {
        for (int g = 0; g < G; ++g) {
            for (int j = 0; j < 4; ++j) z[g][j] = _mm_shuffle_epi8(z[g][j], k.bswap32);
            transpose_sse(z[g][0], z[g][1], z[g][2], z[g][3]);
        }
        for (int r = 0; r < 32; r += 4) {
            const __m128i k0 = _mm_set1_epi32(static_cast<int>(rk[r]));
            for (int g = 0; g < G; ++g)
                z[g][0] = round(z[g][0], z[g][1], z[g][2], z[g][3], k0, tau, k);
            const __m128i k1 = _mm_set1_epi32(static_cast<int>(rk[r + 1]));
            for (int g = 0; g < G; ++g)
                z[g][1] = round(z[g][1], z[g][2], z[g][3], z[g][0], k1, tau, k);
            const __m128i k2 = _mm_set1_epi32(static_cast<int>(rk[r + 2]));
            for (int g = 0; g < G; ++g)
                z[g][2] = round(z[g][2], z[g][3], z[g][0], z[g][1], k2, tau, k);
            const __m128i k3 = _mm_set1_epi32(static_cast<int>(rk[r + 3]));
            for (int g = 0; g < G; ++g)
                z[g][3] = round(z[g][3], z[g][0], z[g][1], z[g][2], k3, tau, k);
        }
        // The output words are X35, X34, X33, X32.
        for (int g = 0; g < G; ++g) {
            __m128i a = z[g][3], b = z[g][2], c = z[g][1], d = z[g][0];
            transpose_sse(a, b, c, d);
            z[g][0] = _mm_shuffle_epi8(a, k.bswap32);
            z[g][1] = _mm_shuffle_epi8(b, k.bswap32);
            z[g][2] = _mm_shuffle_epi8(c, k.bswap32);
            z[g][3] = _mm_shuffle_epi8(d, k.bswap32);
        }
    }
};

}  // namespace
}  // namespace crypto_internal
