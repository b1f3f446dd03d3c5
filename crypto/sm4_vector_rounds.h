// The SM4 kernels once for every register width: the round loop, the ECB and XTS drivers and the
// two S-box layers, written against a vector-ops type Ops (Xmm in sm4_sse_rounds.h, Ymm in
// sm4_avx2_rounds.h, Zmm in the AVX-512 path file). Ops gives the register type V, kBlocks (blocks
// per register), kEcbInFlight (groups per ECB iteration) and the operations used below. Each path
// file includes this after its target pragma; everything here has internal linkage, and it includes
// no standard header (which would then be compiled for the path's target): the path file includes
// <immintrin.h>, sm4_blocks.h and sm4_sbox_affine.h first.
#pragma once

namespace crypto_internal {
namespace {

// The byte shuffles of the kernels, in every 128-bit lane.
template <class Ops>
struct Sm4Shuffles {
    using V = typename Ops::V;
    Sm4Shuffles()
        : bswap32(Ops::lanes(_mm_setr_epi8(3, 2, 1, 0, 7, 6, 5, 4, 11, 10, 9, 8, 15, 14, 13, 12))),
          rev128(Ops::lanes(_mm_setr_epi8(15, 14, 13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0))),
          rol8(Ops::lanes(_mm_setr_epi8(3, 0, 1, 2, 7, 4, 5, 6, 11, 8, 9, 10, 15, 12, 13, 14))),
          rol16(Ops::lanes(_mm_setr_epi8(2, 3, 0, 1, 6, 7, 4, 5, 10, 11, 8, 9, 14, 15, 12, 13))),
          rol24(Ops::lanes(_mm_setr_epi8(1, 2, 3, 0, 5, 6, 7, 4, 9, 10, 11, 8, 13, 14, 15, 12))) {}

    V bswap32;  // byte order inside each 32-bit word (the words of the cipher are big-endian)
    V rev128;   // tweaks are kept as 128-bit little-endian integers, memory holds them big-endian
    V rol8;     // 32-bit rotations by whole bytes
    V rol16;
    V rol24;
};

// 4x4 transpose of 32-bit words inside each 128-bit lane of four registers (an involution).
template <class Ops, class V>
inline void transpose4(V& a, V& b, V& c, V& d) {
    const V t0 = Ops::unpacklo32(a, b);
    const V t1 = Ops::unpackhi32(a, b);
    const V t2 = Ops::unpacklo32(c, d);
    const V t3 = Ops::unpackhi32(c, d);
    a = Ops::unpacklo64(t0, t2);
    b = Ops::unpackhi64(t0, t2);
    c = Ops::unpacklo64(t1, t3);
    d = Ops::unpackhi64(t1, t3);
}

// T * x^K for the 128-bit little-endian integers in each lane (GB/T 17964 order: the integer is
// the tweak read big-endian, and alpha is a right shift with 0xE1 folded into the top byte).
template <int K, class Ops, class V>
inline V mul_alpha_k(V v) {
    static_assert(K >= 1 && K <= 57);
    const V low = Ops::band(Ops::bslli8(v), Ops::set1_64((1ULL << K) - 1));
    // clmul(low, 0xE1) << (121 - K), placed in the high half.
    V red = Ops::xor3(Ops::slli64(low, 57 - K), Ops::slli64(low, 62 - K), Ops::slli64(low, 63 - K));
    red = Ops::xor3(red, Ops::slli64(low, 64 - K), Ops::srli64(v, K));
    return Ops::bxor(red, Ops::bsrli8(Ops::slli64(v, 64 - K)));
}

// The S-box through GF2P8AFFINEQB and GF2P8AFFINEINVQB.
template <class Ops>
struct TauGfni {
    using V = typename Ops::V;
    TauGfni()
        : pre(Ops::set1_64(sm4_affine::kGfniPreMatrix)),
          post(Ops::set1_64(sm4_affine::kGfniPostMatrix)) {}

    V operator()(V x) const {
        x = Ops::template gf2p8affine<sm4_affine::kGfniPreConst>(x, pre);
        return Ops::template gf2p8affineinv<sm4_affine::kGfniPostConst>(x, post);
    }

    V pre;
    V post;
};

// The S-box through AESENCLAST between two affine maps, each a pair of PSHUFB nibble lookups.
template <class Ops>
struct TauAesni {
    using V = typename Ops::V;
    TauAesni()
        : mask0f(Ops::lanes(_mm_set1_epi8(0x0f))),
          inv_shift_rows(
              Ops::lanes(_mm_setr_epi8(0, 13, 10, 7, 4, 1, 14, 11, 8, 5, 2, 15, 12, 9, 6, 3))),
          pre_lo(table(sm4_affine::kAesPreLo)),
          pre_hi(table(sm4_affine::kAesPreHi)),
          post_lo(table(sm4_affine::kAesPostLo)),
          post_hi(table(sm4_affine::kAesPostHi)) {}

    V operator()(V x) const {
        x = affine(Ops::shuffle(x, inv_shift_rows), pre_lo, pre_hi);
        return affine(Ops::aesenclast_zero(x), post_lo, post_hi);
    }

    V mask0f;
    V inv_shift_rows;  // AESENCLAST also applies ShiftRows; its inverse goes first
    V pre_lo;
    V pre_hi;
    V post_lo;
    V post_hi;

  private:
    static V table(const uint8_t (&t)[16]) {
        return Ops::lanes(_mm_loadu_si128(reinterpret_cast<const __m128i*>(t)));
    }
    V affine(V x, V lo, V hi) const {
        const V l = Ops::band(x, mask0f);
        const V h = Ops::band(Ops::srli16(x, 4), mask0f);
        return Ops::bxor(Ops::shuffle(lo, l), Ops::shuffle(hi, h));
    }
};

// ECB and XTS on groups of four registers (4 * Ops::kBlocks blocks; register j of a group holds
// its blocks kBlocks * j onwards in memory order), with the S-box layer Tau.
template <class Ops, class Tau>
class Sm4Rounds {
    using V = typename Ops::V;
    using Consts = Sm4Shuffles<Ops>;

  public:
    static constexpr int kBlocks = Ops::kBlocks;
    static constexpr int kGroup = 4 * kBlocks;
    static constexpr int kEcbInFlight = Ops::kEcbInFlight;
    // Groups per XTS iteration: 2 keeps the tweak step within mul_alpha_k's reach for every
    // width (and is a 512-byte sector on ZMM).
    static constexpr int kXtsInFlight = 2;

    static void blocks(const uint32_t* rk, const uint8_t* in, uint8_t* out, size_t nblocks) {
        const Tau tau;
        const Consts k;
        while (nblocks >= kGroup * kEcbInFlight)
            nblocks = ecb_groups<kEcbInFlight>(rk, in, out, nblocks, tau, k);
        if constexpr (kEcbInFlight > 2)
            if (nblocks >= 2 * kGroup) nblocks = ecb_groups<2>(rk, in, out, nblocks, tau, k);
        if (nblocks >= kGroup) nblocks = ecb_groups<1>(rk, in, out, nblocks, tau, k);
        if (nblocks > 0) {
            V z[1][4];
            for (int j = 0; j < 4; ++j)
                z[0][j] = Ops::load_part(in + 16 * kBlocks * j, part(nblocks, j));
            crypt_groups(z, rk, tau, k);
            for (int j = 0; j < 4; ++j)
                Ops::store_part(out + 16 * kBlocks * j, part(nblocks, j), z[0][j]);
        }
    }

    static void xts(const uint32_t* rk, uint8_t* tweak, const uint8_t* in, uint8_t* out,
                    size_t nblocks) {
        const Tau tau;
        const Consts k;
        // tw[j] holds the tweaks of register j of the next group.
        V tw[4];
        tw[0] = Ops::first_tweaks(_mm_shuffle_epi8(load128(tweak), Ops::low128(k.rev128)));
        tw[1] = mul_alpha_k<kBlocks, Ops>(tw[0]);
        tw[2] = mul_alpha_k<2 * kBlocks, Ops>(tw[0]);
        tw[3] = mul_alpha_k<3 * kBlocks, Ops>(tw[0]);
        while (nblocks >= kGroup * kXtsInFlight)
            nblocks = xts_groups<kXtsInFlight>(rk, tw, in, out, nblocks, tau, k);
        if (nblocks >= kGroup) nblocks = xts_groups<1>(rk, tw, in, out, nblocks, tau, k);
        __m128i last = Ops::low128(tw[0]);
        if (nblocks > 0) {
            V z[1][4];
            for (int j = 0; j < 4; ++j)
                z[0][j] = Ops::bxor(Ops::load_part(in + 16 * kBlocks * j, part(nblocks, j)),
                                    Ops::shuffle(tw[j], k.rev128));
            crypt_groups(z, rk, tau, k);
            for (int j = 0; j < 4; ++j)
                Ops::store_part(out + 16 * kBlocks * j, part(nblocks, j),
                                Ops::bxor(z[0][j], Ops::shuffle(tw[j], k.rev128)));
            // The tweak after the last block: lane n % kBlocks of register n / kBlocks.
            last = Ops::lane(tw[nblocks / kBlocks], nblocks % kBlocks);
        }
        _mm_storeu_si128(reinterpret_cast<__m128i*>(tweak),
                         _mm_shuffle_epi8(last, Ops::low128(k.rev128)));
    }

  private:
    static __m128i load128(const uint8_t* p) {
        return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    }

    // The blocks of register j present in a group of which the first n blocks are.
    static size_t part(size_t n, int j) {
        const size_t first = kBlocks * static_cast<size_t>(j);
        return n <= first ? 0 : (n - first >= kBlocks ? kBlocks : n - first);
    }

    // x0 ^ L(tau(x1 ^ x2 ^ x3 ^ rk)), x3 being the word made by the previous round: it enters
    // last.
    static V round(V x0, V x1, V x2, V x3, V rk, const Tau& tau, const Consts& k) {
        return Ops::mix(x0, tau(Ops::bxor(Ops::xor3(x1, x2, rk), x3)), k);
    }

    // Encrypts G groups in place.
    template <int G>
    static void crypt_groups(V (&z)[G][4], const uint32_t* rk, const Tau& tau, const Consts& k) {
        for (int g = 0; g < G; ++g) {
            for (int j = 0; j < 4; ++j) z[g][j] = Ops::shuffle(z[g][j], k.bswap32);
            transpose4<Ops>(z[g][0], z[g][1], z[g][2], z[g][3]);
        }
        for (int r = 0; r < 32; r += 4) {
            const V k0 = Ops::set1_32(rk[r]);
            for (int g = 0; g < G; ++g)
                z[g][0] = round(z[g][0], z[g][1], z[g][2], z[g][3], k0, tau, k);
            const V k1 = Ops::set1_32(rk[r + 1]);
            for (int g = 0; g < G; ++g)
                z[g][1] = round(z[g][1], z[g][2], z[g][3], z[g][0], k1, tau, k);
            const V k2 = Ops::set1_32(rk[r + 2]);
            for (int g = 0; g < G; ++g)
                z[g][2] = round(z[g][2], z[g][3], z[g][0], z[g][1], k2, tau, k);
            const V k3 = Ops::set1_32(rk[r + 3]);
            for (int g = 0; g < G; ++g)
                z[g][3] = round(z[g][3], z[g][0], z[g][1], z[g][2], k3, tau, k);
        }
        // The output words are X35, X34, X33, X32.
        for (int g = 0; g < G; ++g) {
            V a = z[g][3], b = z[g][2], c = z[g][1], d = z[g][0];
            transpose4<Ops>(a, b, c, d);
            z[g][0] = Ops::shuffle(a, k.bswap32);
            z[g][1] = Ops::shuffle(b, k.bswap32);
            z[g][2] = Ops::shuffle(c, k.bswap32);
            z[g][3] = Ops::shuffle(d, k.bswap32);
        }
    }

    // Encrypts G whole groups from in to out and advances the pointers; returns the blocks left.
    template <int G>
    static size_t ecb_groups(const uint32_t* rk, const uint8_t*& in, uint8_t*& out, size_t nblocks,
                             const Tau& tau, const Consts& k) {
        V z[G][4];
        for (int g = 0; g < G; ++g)
            for (int j = 0; j < 4; ++j) z[g][j] = Ops::load(in + 16 * (kGroup * g + kBlocks * j));
        crypt_groups(z, rk, tau, k);
        for (int g = 0; g < G; ++g)
            for (int j = 0; j < 4; ++j) Ops::store(out + 16 * (kGroup * g + kBlocks * j), z[g][j]);
        in += 16 * kGroup * G;
        out += 16 * kGroup * G;
        return nblocks - kGroup * G;
    }

    // As ecb_groups with the XTS tweaks of tw (the next group's), which it advances past the
    // groups.
    template <int G>
    static size_t xts_groups(const uint32_t* rk, V (&tw)[4], const uint8_t*& in, uint8_t*& out,
                             size_t nblocks, const Tau& tau, const Consts& k) {
        V t[G][4];
        V z[G][4];
        for (int j = 0; j < 4; ++j) {
            V v = tw[j];
            for (int g = 0; g < G; ++g) {
                if (g > 0) v = mul_alpha_k<kGroup, Ops>(v);
                t[g][j] = Ops::shuffle(v, k.rev128);
                z[g][j] = Ops::bxor(Ops::load(in + 16 * (kGroup * g + kBlocks * j)), t[g][j]);
            }
        }
        for (int j = 0; j < 4; ++j) tw[j] = mul_alpha_k<kGroup * G, Ops>(tw[j]);
        crypt_groups(z, rk, tau, k);
        for (int g = 0; g < G; ++g)
            for (int j = 0; j < 4; ++j)
                Ops::store(out + 16 * (kGroup * g + kBlocks * j), Ops::bxor(z[g][j], t[g][j]));
        in += 16 * kGroup * G;
        out += 16 * kGroup * G;
        return nblocks - kGroup * G;
    }
};

}  // namespace
}  // namespace crypto_internal
