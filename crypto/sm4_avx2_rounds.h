// The SM4 kernels on YMM registers, shared by the AVX2 paths: 8 blocks per group, two groups in
// flight. Each path file includes this after its own target pragma and instantiates Sm4Avx2 with
// its S-box layer, a type whose constructor loads its constants and whose operator() applies the
// S-box to every byte of a register. Everything here has internal linkage, so each path file
// gets its own copy compiled for its own target. It includes no standard header (which would then
// be compiled for that target): the path file includes <immintrin.h> and sm4_blocks.h first.
#pragma once

namespace crypto_internal {
namespace {

inline __m256i lanes(__m128i x) {
    return _mm256_broadcastsi128_si256(x);
}

struct Avx2Consts {
    Avx2Consts()
        : bswap32(lanes(_mm_setr_epi8(3, 2, 1, 0, 7, 6, 5, 4, 11, 10, 9, 8, 15, 14, 13, 12))),
          rev128(lanes(_mm_setr_epi8(15, 14, 13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0))),
          rol8(lanes(_mm_setr_epi8(3, 0, 1, 2, 7, 4, 5, 6, 11, 8, 9, 10, 15, 12, 13, 14))),
          rol16(lanes(_mm_setr_epi8(2, 3, 0, 1, 6, 7, 4, 5, 10, 11, 8, 9, 14, 15, 12, 13))),
          rol24(lanes(_mm_setr_epi8(1, 2, 3, 0, 5, 6, 7, 4, 9, 10, 11, 8, 13, 14, 15, 12))) {}

    __m256i bswap32;  // byte order inside each 32-bit word
    __m256i rev128;   // tweak lanes between memory order and little-endian integers
    __m256i rol8;     // 32-bit rotations by whole bytes
    __m256i rol16;
    __m256i rol24;
};

inline __m256i xor256(__m256i a, __m256i b) {
    return _mm256_xor_si256(a, b);
}

// 4x4 transpose of 32-bit words inside each 128-bit lane of four registers (an involution).
inline void transpose256(__m256i& a, __m256i& b, __m256i& c, __m256i& d) {
    const __m256i t0 = _mm256_unpacklo_epi32(a, b);
    const __m256i t1 = _mm256_unpackhi_epi32(a, b);
    const __m256i t2 = _mm256_unpacklo_epi32(c, d);
    const __m256i t3 = _mm256_unpackhi_epi32(c, d);
    a = _mm256_unpacklo_epi64(t0, t2);
    b = _mm256_unpackhi_epi64(t0, t2);
    c = _mm256_unpacklo_epi64(t1, t3);
    d = _mm256_unpackhi_epi64(t1, t3);
}

// Word mask of register j of a group of which the first n blocks are present.
inline __m256i group_mask256(size_t n, int j) {
    const size_t first = 2 * static_cast<size_t>(j);
    const size_t count = n <= first ? 0 : (n - first >= 2 ? 2 : n - first);
    return _mm256_cmpgt_epi32(_mm256_set1_epi32(static_cast<int>(4 * count)),
                              _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7));
}

// T * x^K for the 128-bit little-endian integers in each lane (see the GFNI AVX-512 file).
template <int K>
inline __m256i mul_alpha_k256(__m256i v) {
    static_assert(K >= 1 && K <= 57);
    const __m256i low = _mm256_and_si256(
        _mm256_bslli_epi128(v, 8), _mm256_set1_epi64x(static_cast<long long>((1ULL << K) - 1)));
    const __m256i red =
        xor256(xor256(_mm256_slli_epi64(low, 57 - K), _mm256_slli_epi64(low, 62 - K)),
               xor256(_mm256_slli_epi64(low, 63 - K), _mm256_slli_epi64(low, 64 - K)));
    return xor256(xor256(red, _mm256_srli_epi64(v, K)),
                  _mm256_bsrli_epi128(_mm256_slli_epi64(v, 64 - K), 8));
}

template <class Tau>
class Sm4Avx2 {
  public:
    static constexpr int kGroup = 8;
    static constexpr int kInFlight = 2;
    static_assert(kInFlight >= 2, "the tail reuses the second group's tweaks");

    static void blocks(const uint32_t* rk, const uint8_t* in, uint8_t* out, size_t nblocks) {
        const Tau tau;
        const Avx2Consts k;
        while (nblocks >= kGroup * kInFlight) {
            __m256i z[kInFlight][4];
            for (int g = 0; g < kInFlight; ++g)
                for (int j = 0; j < 4; ++j) z[g][j] = load(in + 128 * g + 32 * j);
            crypt_groups(z, rk, tau, k);
            for (int g = 0; g < kInFlight; ++g)
                for (int j = 0; j < 4; ++j) store(out + 128 * g + 32 * j, z[g][j]);
            in += 16 * kGroup * kInFlight;
            out += 16 * kGroup * kInFlight;
            nblocks -= kGroup * kInFlight;
        }
        while (nblocks > 0) {
            const size_t n = nblocks < kGroup ? nblocks : kGroup;
            __m256i z[1][4];
            for (int j = 0; j < 4; ++j) z[0][j] = load_masked(in + 32 * j, group_mask256(n, j));
            crypt_groups(z, rk, tau, k);
            for (int j = 0; j < 4; ++j) store_masked(out + 32 * j, group_mask256(n, j), z[0][j]);
            in += 16 * n;
            out += 16 * n;
            nblocks -= n;
        }
    }

    static void xts(const uint32_t* rk, uint8_t* tweak, const uint8_t* in, uint8_t* out,
                    size_t nblocks) {
        const Tau tau;
        const Avx2Consts k;
        // tw[i] holds the tweaks of blocks 2i and 2i + 1 of the next kInFlight groups.
        __m256i tw[4 * kInFlight];
        {
            const __m128i t = _mm_shuffle_epi8(load128(tweak), _mm256_castsi256_si128(k.rev128));
            const __m256i first = _mm256_broadcastsi128_si256(t);
            // Lane 1 becomes T * alpha.
            const __m256i next = mul_alpha_k256<1>(first);
            tw[0] = _mm256_blend_epi32(first, next, 0xF0);
        }
        for (int i = 1; i < 4 * kInFlight; ++i) tw[i] = mul_alpha_k256<2>(tw[i - 1]);

        while (nblocks >= kGroup * kInFlight) {
            __m256i z[kInFlight][4];
            for (int g = 0; g < kInFlight; ++g)
                for (int j = 0; j < 4; ++j)
                    z[g][j] = xor256(load(in + 128 * g + 32 * j),
                                     _mm256_shuffle_epi8(tw[4 * g + j], k.rev128));
            crypt_groups(z, rk, tau, k);
            for (int g = 0; g < kInFlight; ++g)
                for (int j = 0; j < 4; ++j)
                    store(out + 128 * g + 32 * j,
                          xor256(z[g][j], _mm256_shuffle_epi8(tw[4 * g + j], k.rev128)));
            for (int i = 0; i < 4 * kInFlight; ++i)
                tw[i] = mul_alpha_k256<kGroup * kInFlight>(tw[i]);
            in += 16 * kGroup * kInFlight;
            out += 16 * kGroup * kInFlight;
            nblocks -= kGroup * kInFlight;
        }
        __m128i last = _mm256_castsi256_si128(tw[0]);
        while (nblocks > 0) {
            const size_t n = nblocks < kGroup ? nblocks : kGroup;
            __m256i z[1][4];
            for (int j = 0; j < 4; ++j)
                z[0][j] = xor256(load_masked(in + 32 * j, group_mask256(n, j)),
                                 _mm256_shuffle_epi8(tw[j], k.rev128));
            crypt_groups(z, rk, tau, k);
            for (int j = 0; j < 4; ++j)
                store_masked(out + 32 * j, group_mask256(n, j),
                             xor256(z[0][j], _mm256_shuffle_epi8(tw[j], k.rev128)));
            in += 16 * n;
            out += 16 * n;
            nblocks -= n;
            if (n == kGroup) {
                for (int i = 0; i + 4 < 4 * kInFlight; ++i) tw[i] = tw[i + 4];
                last = _mm256_castsi256_si128(tw[0]);
            } else {
                // The tweak after the last block: lane n % 2 of register n / 2.
                const __m256i v = tw[n / 2];
                last = (n % 2) ? _mm256_extracti128_si256(v, 1) : _mm256_castsi256_si128(v);
            }
        }
        _mm_storeu_si128(reinterpret_cast<__m128i*>(tweak),
                         _mm_shuffle_epi8(last, _mm256_castsi256_si128(k.rev128)));
    }

  private:
    static __m256i load(const uint8_t* p) {
        return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
    }
    static void store(uint8_t* p, __m256i v) {
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v);
    }
    static __m128i load128(const uint8_t* p) {
        return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    }
    static __m256i load_masked(const uint8_t* p, __m256i mask) {
        return _mm256_maskload_epi32(reinterpret_cast<const int*>(p), mask);
    }
    static void store_masked(uint8_t* p, __m256i mask, __m256i v) {
        _mm256_maskstore_epi32(reinterpret_cast<int*>(p), mask, v);
    }

    // x0 ^ L(tau(x1 ^ x2 ^ x3 ^ rk)), with L(t) = t ^ (t <<< 24) ^ ((t ^ (t <<< 8) ^ (t <<< 16))
    // <<< 2).
    static __m256i round(__m256i x0, __m256i x1, __m256i x2, __m256i x3, __m256i rk, const Tau& tau,
                         const Avx2Consts& k) {
        // x3 is the word made by the previous round: it enters last.
        const __m256i t = tau(xor256(xor256(xor256(x1, x2), rk), x3));
        __m256i a =
            xor256(xor256(t, _mm256_shuffle_epi8(t, k.rol8)), _mm256_shuffle_epi8(t, k.rol16));
        a = _mm256_or_si256(_mm256_slli_epi32(a, 2), _mm256_srli_epi32(a, 30));
        return xor256(xor256(x0, t), xor256(a, _mm256_shuffle_epi8(t, k.rol24)));
    }

    template <int G>
    static void crypt_groups(__m256i (&z)[G][4], const uint32_t* rk, const Tau& tau,
                             const Avx2Consts& k) {
        for (int g = 0; g < G; ++g) {
            for (int j = 0; j < 4; ++j) z[g][j] = _mm256_shuffle_epi8(z[g][j], k.bswap32);
            transpose256(z[g][0], z[g][1], z[g][2], z[g][3]);
        }
        for (int r = 0; r < 32; r += 4) {
            const __m256i k0 = _mm256_set1_epi32(static_cast<int>(rk[r]));
            for (int g = 0; g < G; ++g)
                z[g][0] = round(z[g][0], z[g][1], z[g][2], z[g][3], k0, tau, k);
            const __m256i k1 = _mm256_set1_epi32(static_cast<int>(rk[r + 1]));
            for (int g = 0; g < G; ++g)
                z[g][1] = round(z[g][1], z[g][2], z[g][3], z[g][0], k1, tau, k);
            const __m256i k2 = _mm256_set1_epi32(static_cast<int>(rk[r + 2]));
            for (int g = 0; g < G; ++g)
                z[g][2] = round(z[g][2], z[g][3], z[g][0], z[g][1], k2, tau, k);
            const __m256i k3 = _mm256_set1_epi32(static_cast<int>(rk[r + 3]));
            for (int g = 0; g < G; ++g)
                z[g][3] = round(z[g][3], z[g][0], z[g][1], z[g][2], k3, tau, k);
        }
        // The output words are X35, X34, X33, X32.
        for (int g = 0; g < G; ++g) {
            __m256i a = z[g][3], b = z[g][2], c = z[g][1], d = z[g][0];
            transpose256(a, b, c, d);
            z[g][0] = _mm256_shuffle_epi8(a, k.bswap32);
            z[g][1] = _mm256_shuffle_epi8(b, k.bswap32);
            z[g][2] = _mm256_shuffle_epi8(c, k.bswap32);
            z[g][3] = _mm256_shuffle_epi8(d, k.bswap32);
        }
    }
};

}  // namespace
}  // namespace crypto_internal
