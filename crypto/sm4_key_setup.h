// Table-free SM4 key schedules on XMM registers, shared by the vector paths: the two keys of an
// XTS key expanded side by side (one key per 32-bit lane), with the tweak block encrypted under
// the second key one round behind, so that the whole set-up of an XTS call costs about one key
// schedule of latency. Each path file includes this after its target pragma and instantiates it
// with its S-box layer (a type whose operator()(__m128i) applies the S-box to every byte);
// everything here has internal linkage, and the file includes no standard header (which would
// then be compiled for the path's target).
#pragma once

namespace crypto_internal {
namespace {

constexpr uint32_t kSetupFk[4] = {0xA3B1BAC6, 0x56AA3350, 0x677D9197, 0xB27022DC};

struct CkTable {
    uint32_t v[32];
};

// CK_i: bytes j = 0..3, most significant first, are (4i + j) * 7 mod 256.
constexpr CkTable make_ck() {
    CkTable ck{};
    for (uint32_t i = 0; i < 32; ++i)
        for (uint32_t j = 0; j < 4; ++j) ck.v[i] = (ck.v[i] << 8) | (((4 * i + j) * 7) & 0xff);
    return ck;
}

constexpr CkTable kSetupCk = make_ck();
static_assert(kSetupCk.v[0] == 0x00070E15 && kSetupCk.v[31] == 0x646B7279);

// 32-bit rotation in each lane: VPROLD when the S-box layer says that AVX-512VL is there.
template <int N, class Tau>
inline __m128i rotl128(__m128i x) {
    if constexpr (requires { Tau::kAvx512Rotate; }) {
        return _mm_rol_epi32(x, N);
    } else {
        return _mm_or_si128(_mm_slli_epi32(x, N), _mm_srli_epi32(x, 32 - N));
    }
}

inline __m128i xor128(__m128i a, __m128i b) {
    return _mm_xor_si128(a, b);
}

inline __m128i bswap32_128(__m128i x) {
    return _mm_shuffle_epi8(x, _mm_setr_epi8(3, 2, 1, 0, 7, 6, 5, 4, 11, 10, 9, 8, 15, 14, 13, 12));
}

inline __m128i load128u(const uint8_t* p) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

template <class Tau>
class Sm4KeySetup {
  public:
    // rk1 = the schedule of k1 (reversed when decrypt1); with kSecond also rk2 = the schedule of
    // k2 (encryption order); with kTweak also t = SM4(k2, tweak_in). Secret: the keys and the
    // tweak; public: decrypt1.
    template <bool kSecond, bool kTweak>
    static void run(const Tau& tau, const uint8_t* k1, const uint8_t* k2, bool decrypt1,
                    uint32_t* rk1, uint32_t* rk2, const uint8_t* tweak_in, uint8_t* t) {
        const __m128i x1 = bswap32_128(load128u(k1));
        const __m128i x2 = kSecond || kTweak ? bswap32_128(load128u(k2)) : x1;
        const __m128i lo = _mm_unpacklo_epi32(x1, x2);  // word 0 of k1, of k2; word 1 of each
        const __m128i hi = _mm_unpackhi_epi32(x1, x2);
        __m128i a0 = xor128(lo, _mm_set1_epi32(static_cast<int>(kSetupFk[0])));
        __m128i a1 = xor128(_mm_srli_si128(lo, 8), _mm_set1_epi32(static_cast<int>(kSetupFk[1])));
        __m128i a2 = xor128(hi, _mm_set1_epi32(static_cast<int>(kSetupFk[2])));
        __m128i a3 = xor128(_mm_srli_si128(hi, 8), _mm_set1_epi32(static_cast<int>(kSetupFk[3])));
        __m128i b0 = _mm_setzero_si128(), b1 = b0, b2 = b0, b3 = b0;
        if (kTweak) {
            const __m128i x = bswap32_128(load128u(tweak_in));
            b0 = x;
            b1 = _mm_srli_si128(x, 4);
            b2 = _mm_srli_si128(x, 8);
            b3 = _mm_srli_si128(x, 12);
        }
        const int step = decrypt1 ? -1 : 1;
        uint32_t* out1 = decrypt1 ? rk1 + 31 : rk1;
        for (int i = 0; i < 32; i += 4) {
            round<kSecond, kTweak>(tau, a0, a1, a2, a3, b0, b1, b2, b3, i, out1, step, rk2);
            round<kSecond, kTweak>(tau, a1, a2, a3, a0, b1, b2, b3, b0, i + 1, out1, step, rk2);
            round<kSecond, kTweak>(tau, a2, a3, a0, a1, b2, b3, b0, b1, i + 2, out1, step, rk2);
            round<kSecond, kTweak>(tau, a3, a0, a1, a2, b3, b0, b1, b2, i + 3, out1, step, rk2);
        }
        if (kTweak) {
            // The output words are X35, X34, X33, X32.
            const __m128i w =
                _mm_unpacklo_epi64(_mm_unpacklo_epi32(b3, b2), _mm_unpacklo_epi32(b1, b0));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(t), bswap32_128(w));
        }
    }

  private:
    template <bool kSecond, bool kTweak>
    static void round(const Tau& tau, __m128i& a0, __m128i a1, __m128i a2, __m128i a3, __m128i& b0,
                      __m128i b1, __m128i b2, __m128i b3, int i, uint32_t*& out1, int step,
                      uint32_t* rk2) {
        // K_{i+4} = K_i ^ L'(tau(K_{i+1} ^ K_{i+2} ^ K_{i+3} ^ CK_i)).
        const __m128i ck = _mm_set1_epi32(static_cast<int>(kSetupCk.v[i]));
        const __m128i s = tau(xor128(xor128(xor128(a1, a2), ck), a3));  // a3: the newest word
        a0 = xor128(xor128(a0, s), xor128(rotl128<13, Tau>(s), rotl128<23, Tau>(s)));
        *out1 = static_cast<uint32_t>(_mm_cvtsi128_si32(a0));
        out1 += step;
        if (kSecond) rk2[i] = static_cast<uint32_t>(_mm_extract_epi32(a0, 1));
        if (kTweak) {
            // One round of the tweak block with the round key just made from k2.
            const __m128i rk = _mm_shuffle_epi32(a0, 0x55);
            const __m128i u = tau(xor128(xor128(b1, b2), xor128(b3, rk)));
            const __m128i l = xor128(xor128(u, rotl128<2, Tau>(u)),
                                     xor128(rotl128<10, Tau>(u), rotl128<18, Tau>(u)));
            b0 = xor128(b0, xor128(l, rotl128<24, Tau>(u)));
        }
    }
};

}  // namespace
}  // namespace crypto_internal
