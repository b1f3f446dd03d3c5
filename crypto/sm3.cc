#include "crypto/sm3.h"

#include <array>
#include <atomic>
#include <bit>
#include <cstddef>
#include <cstring>

#include "base/byte_access.h"
#include "crypto/cpu_features.h"
#include "crypto/secure_wipe.h"
#include "crypto/sm3_internal.h"

#if SM3_HAVE_AVX2_PATH
#include <cpuid.h>
#include <immintrin.h>
#endif

namespace {

constexpr uint32_t kIv[8] = {0x7380166F, 0x4914B2B9, 0x172442D7, 0xDA8A0600,
                             0xA96F30BC, 0x163138AA, 0xE38DEE4D, 0xB0FB0E4E};

inline uint32_t p0(uint32_t x) {
    return x ^ std::rotl(x, 9) ^ std::rotl(x, 17);
}
inline uint32_t p1(uint32_t x) {
    return x ^ std::rotl(x, 15) ^ std::rotl(x, 23);
}

using bytes::load_be32;
using bytes::store_be32;

// Round constants T_j <<< (j mod 32).
constexpr std::array<uint32_t, 64> kRoundConstants = [] {
    std::array<uint32_t, 64> k{};
    for (int j = 0; j < 64; ++j) k[j] = std::rotl(j < 16 ? 0x79CC4519u : 0x7A879D8Au, j % 32);
    return k;
}();

// W_{j+4} from the 16-word window w (indexed mod 16), stored over W_{j-12}.
#define SM3_EXPAND(j)                                                                   \
    w[((j) + 4) & 15] =                                                                 \
        p1(w[((j) + 4) & 15] ^ w[((j) + 11) & 15] ^ std::rotl(w[((j) + 1) & 15], 15)) ^ \
        std::rotl(w[((j) + 7) & 15], 7) ^ w[((j) + 14) & 15]

// Round j on the named registers, with wj = W_j and wpj = W'_j. The caller rotates the names: B
// and F are rotated in place, D receives the new A and H the new E.
#define SM3_ROUND(j, a, b, c, d, e, f, g, h, wj, wpj)                           \
    do {                                                                        \
        const uint32_t a12 = std::rotl(a, 12);                                  \
        const uint32_t ss1 = std::rotl(a12 + e + kRoundConstants[j], 7);        \
        const uint32_t ff = (j) < 16 ? (a ^ b ^ c) : ((a & b) | (c & (a | b))); \
        const uint32_t gg = (j) < 16 ? (e ^ f ^ g) : (((f ^ g) & e) ^ g);       \
        d += ff + (ss1 ^ a12) + (wpj);                                          \
        h = p0(h + gg + ss1 + (wj));                                            \
        b = std::rotl(b, 9);                                                    \
        f = std::rotl(f, 19);                                                   \
    } while (0)

// Four rounds from j with the round macro ROUND; before round j runs the statement PRE(j), and
// W(j), WP(j) give W_j, W'_j.
#define SM3_ROUND4(ROUND, j)                                         \
    PRE((j) + 0);                                                    \
    ROUND((j) + 0, a, b, c, d, e, f, g, h, W((j) + 0), WP((j) + 0)); \
    PRE((j) + 1);                                                    \
    ROUND((j) + 1, d, a, b, c, h, e, f, g, W((j) + 1), WP((j) + 1)); \
    PRE((j) + 2);                                                    \
    ROUND((j) + 2, c, d, a, b, g, h, e, f, W((j) + 2), WP((j) + 2)); \
    PRE((j) + 3);                                                    \
    ROUND((j) + 3, b, c, d, a, f, g, h, e, W((j) + 3), WP((j) + 3))

#define SM3_ROUNDS64(ROUND) \
    SM3_ROUND4(ROUND, 0);   \
    SM3_ROUND4(ROUND, 4);   \
    SM3_ROUND4(ROUND, 8);   \
    SM3_ROUND4(ROUND, 12);  \
    SM3_ROUND4(ROUND, 16);  \
    SM3_ROUND4(ROUND, 20);  \
    SM3_ROUND4(ROUND, 24);  \
    SM3_ROUND4(ROUND, 28);  \
    SM3_ROUND4(ROUND, 32);  \
    SM3_ROUND4(ROUND, 36);  \
    SM3_ROUND4(ROUND, 40);  \
    SM3_ROUND4(ROUND, 44);  \
    SM3_ROUND4(ROUND, 48);  \
    SM3_ROUND4(ROUND, 52);  \
    SM3_ROUND4(ROUND, 56);  \
    SM3_ROUND4(ROUND, 60)

}  // namespace

namespace crypto_internal {

void sm3_compress_blocks_portable(uint32_t state[8], const uint8_t* data, size_t n) {
    uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
    uint32_t e = state[4], f = state[5], g = state[6], h = state[7];
    for (; n > 0; --n, data += SM3_BLOCK_SIZE) {
        const uint32_t a0 = a, b0 = b, c0 = c, d0 = d, e0 = e, f0 = f, g0 = g, h0 = h;
        // The message expansion runs four words ahead of the rounds: W_{j+4} is made in round j.
        uint32_t w[16];
        for (int i = 0; i < 16; ++i) w[i] = load_be32(data + 4 * i);
#define PRE(j) \
    if ((j) >= 12) SM3_EXPAND(j)
#define W(j) w[(j)&15]
#define WP(j) (w[(j)&15] ^ w[((j) + 4) & 15])
        SM3_ROUNDS64(SM3_ROUND);
#undef PRE
#undef W
#undef WP
        a ^= a0, b ^= b0, c ^= c0, d ^= d0, e ^= e0, f ^= f0, g ^= g0, h ^= h0;
    }
    state[0] = a, state[1] = b, state[2] = c, state[3] = d;
    state[4] = e, state[5] = f, state[6] = g, state[7] = h;
}

}  // namespace crypto_internal

#if SM3_HAVE_AVX2_PATH

namespace {

// Round J as SM3_ROUND, in a fixed instruction order: the chain from E to the new E (SS1, GG, the
// sum, P0) comes first, the rest fills in around it. The compiler's own order costs about 20%.
template <int J>
__attribute__((always_inline)) inline void round_bmi2(uint32_t a, uint32_t& b, uint32_t c,
                                                      uint32_t& d, uint32_t e, uint32_t& f,
                                                      uint32_t g, uint32_t& h, const uint32_t& wj,
                                                      const uint32_t& wpj) {
    uint32_t t1, t2, t3, t4;
    if constexpr (J < 16) {
        asm("rorx $20, %[a], %[t1]\n\t"     // A <<< 12
            "lea %c[k](%q[t1]), %[t2]\n\t"  // + T_j <<< j
            "mov %[f], %[t3]\n\t"           //
            "xor %[g], %[t3]\n\t"           //
            "add %[w], %[h]\n\t"            // H + W_j
            "add %[e], %[t2]\n\t"           //
            "xor %[e], %[t3]\n\t"           // GG
            "rorx $25, %[t2], %[t2]\n\t"    // SS1
            "add %[t3], %[h]\n\t"           //
            "add %[t2], %[h]\n\t"           // TT2
            "xor %[t2], %[t1]\n\t"          // SS2
            "rorx $23, %[h], %[t3]\n\t"     //
            "rorx $15, %[h], %[t4]\n\t"     //
            "xor %[t4], %[t3]\n\t"          //
            "xor %[t3], %[h]\n\t"           // P0(TT2)
            "add %[wp], %[d]\n\t"           // D + W'_j
            "mov %[a], %[t3]\n\t"           //
            "xor %[b], %[t3]\n\t"           //
            "xor %[c], %[t3]\n\t"           // FF
            "add %[t3], %[d]\n\t"           //
            "add %[t1], %[d]\n\t"           // TT1
            "rorx $23, %[b], %[b]\n\t"      // B <<< 9
            "rorx $13, %[f], %[f]"          // F <<< 19
            : [b] "+r"(b), [d] "+r"(d), [f] "+r"(f), [h] "+r"(h), [t1] "=&r"(t1), [t2] "=&r"(t2),
              [t3] "=&r"(t3), [t4] "=&r"(t4)
            : [a] "r"(a), [c] "r"(c), [e] "r"(e), [g] "r"(g), [w] "m"(wj), [wp] "m"(wpj),
              [k] "i"(static_cast<int32_t>(kRoundConstants[J]))
            : "cc");
    } else {
        asm("rorx $20, %[a], %[t1]\n\t"     // A <<< 12
            "lea %c[k](%q[t1]), %[t2]\n\t"  // + T_j <<< j
            "mov %[f], %[t3]\n\t"           //
            "xor %[g], %[t3]\n\t"           //
            "add %[w], %[h]\n\t"            // H + W_j
            "add %[e], %[t2]\n\t"           //
            "and %[e], %[t3]\n\t"           //
            "rorx $25, %[t2], %[t2]\n\t"    // SS1
            "xor %[g], %[t3]\n\t"           // GG = ((F ^ G) & E) ^ G
            "add %[t3], %[h]\n\t"           //
            "add %[t2], %[h]\n\t"           // TT2
            "xor %[t2], %[t1]\n\t"          // SS2
            "rorx $23, %[h], %[t3]\n\t"     //
            "rorx $15, %[h], %[t4]\n\t"     //
            "xor %[t4], %[t3]\n\t"          //
            "xor %[t3], %[h]\n\t"           // P0(TT2)
            "add %[wp], %[d]\n\t"           // D + W'_j
            "mov %[a], %[t3]\n\t"           //
            "or %[b], %[t3]\n\t"            //
            "and %[c], %[t3]\n\t"           //
            "mov %[a], %[t4]\n\t"           //
            "and %[b], %[t4]\n\t"           //
            "or %[t4], %[t3]\n\t"           // FF = (A & B) | (C & (A | B))
            "add %[t3], %[d]\n\t"           //
            "add %[t1], %[d]\n\t"           // TT1
            "rorx $23, %[b], %[b]\n\t"      // B <<< 9
            "rorx $13, %[f], %[f]"          // F <<< 19
            : [b] "+r"(b), [d] "+r"(d), [f] "+r"(f), [h] "+r"(h), [t1] "=&r"(t1), [t2] "=&r"(t2),
              [t3] "=&r"(t3), [t4] "=&r"(t4)
            : [a] "r"(a), [c] "r"(c), [e] "r"(e), [g] "r"(g), [w] "m"(wj), [wp] "m"(wpj),
              [k] "i"(static_cast<int32_t>(kRoundConstants[J]))
            : "cc");
    }
}

#define SM3_ROUND_BMI2(j, a, b, c, d, e, f, g, h, wj, wpj) \
    round_bmi2<(j)>(a, b, c, d, e, f, g, h, wj, wpj)

// The message schedules of up to eight blocks, lane-interleaved: W_j of lane l at
// words[8 * j + l], W'_j at words[kWp + 8 * j + l]. Steps may run four words past the end
// (W_68..W_71, W'_64..W'_67); those words are never read by a round.
struct Schedule {
    static constexpr size_t kWp = 72 * 8;
    uint32_t words[kWp + 68 * 8];
};

__attribute__((target("avx2"))) inline __m256i rotl256(__m256i x, int n) {
    return _mm256_or_si256(_mm256_slli_epi32(x, n), _mm256_srli_epi32(x, 32 - n));
}

__attribute__((target("avx2"))) inline __m256i load8(const uint32_t* p) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}

__attribute__((target("avx2"))) inline void store8(uint32_t* p, __m256i v) {
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v);
}

// W_0..W_15 of `lanes` (1 to 8) consecutive blocks, and W'_0..W'_11; unused lanes repeat the last
// block. Each half of the blocks' words is an 8 x 8 transposition.
__attribute__((target("avx2"))) void load_schedule(Schedule& s, const uint8_t* data, size_t lanes) {
    const __m256i byte_swap =
        _mm256_setr_epi8(3, 2, 1, 0, 7, 6, 5, 4, 11, 10, 9, 8, 15, 14, 13, 12, 3, 2, 1, 0, 7, 6, 5,
                         4, 11, 10, 9, 8, 15, 14, 13, 12);
    for (int half = 0; half < 2; ++half) {
        __m256i r[8];
        for (size_t l = 0; l < 8; ++l) {
            const uint8_t* block = data + SM3_BLOCK_SIZE * (l < lanes ? l : lanes - 1);
            r[l] = _mm256_shuffle_epi8(
                _mm256_loadu_si256(reinterpret_cast<const __m256i*>(block + 32 * half)), byte_swap);
        }
        __m256i t[8], u[8];
        for (int i = 0; i < 8; i += 2) {
            t[i] = _mm256_unpacklo_epi32(r[i], r[i + 1]);
            t[i + 1] = _mm256_unpackhi_epi32(r[i], r[i + 1]);
        }
        for (int i = 0; i < 8; i += 4) {
            u[i] = _mm256_unpacklo_epi64(t[i], t[i + 2]);
            u[i + 1] = _mm256_unpackhi_epi64(t[i], t[i + 2]);
            u[i + 2] = _mm256_unpacklo_epi64(t[i + 1], t[i + 3]);
            u[i + 3] = _mm256_unpackhi_epi64(t[i + 1], t[i + 3]);
        }
        uint32_t* w = s.words + 8 * 8 * half;
        for (int k = 0; k < 4; ++k) {
            store8(w + 8 * k, _mm256_permute2x128_si256(u[k], u[k + 4], 0x20));
            store8(w + 8 * (k + 4), _mm256_permute2x128_si256(u[k], u[k + 4], 0x31));
        }
    }
    for (int j = 0; j < 12; ++j)
        store8(s.words + Schedule::kWp + 8 * j,
               _mm256_xor_si256(load8(s.words + 8 * j), load8(s.words + 8 * (j + 4))));
}

// One expansion step: W_j and W'_{j-4} (16 <= j <= 71) for all lanes, wj pointing at W_j.
__attribute__((target("avx2"))) inline void expand_step(uint32_t* wj) {
    const __m256i t = _mm256_xor_si256(_mm256_xor_si256(load8(wj - 8 * 16), load8(wj - 8 * 9)),
                                       rotl256(load8(wj - 8 * 3), 15));
    const __m256i p1 = _mm256_xor_si256(_mm256_xor_si256(t, rotl256(t, 15)), rotl256(t, 23));
    const __m256i w =
        _mm256_xor_si256(_mm256_xor_si256(p1, rotl256(load8(wj - 8 * 13), 7)), load8(wj - 8 * 6));
    store8(wj, w);
    store8(wj + Schedule::kWp - 8 * 4, _mm256_xor_si256(load8(wj - 8 * 4), w));
}

// The schedules hold message words. Vector stores of zeros that the compiler cannot drop (the
// buffer escapes into an asm statement) wipe them at a fraction of a byte-wise volatile wipe.
__attribute__((target("avx2"))) inline void wipe_schedule(Schedule& s) {
    for (size_t i = 0; i < sizeof s.words / sizeof(uint32_t); i += 8)
        store8(s.words + i, _mm256_setzero_si256());
    asm volatile("" : : "r"(s.words) : "memory");
}

}  // namespace

namespace crypto_internal {

// Groups of eight blocks: the rounds run lane by lane on one group's schedule while the vector
// unit expands the next group's, seven steps per block, so the expansion costs no round time.
// Aligned so that the placement of the rounds in the instruction cache does not depend on the
// link: some placements cost a quarter of the speed.
__attribute__((target("avx2,bmi,bmi2"), aligned(64))) void sm3_compress_blocks_avx2(
    uint32_t state[8], const uint8_t* data, size_t n) {
    if (n == 0) return;
    Schedule schedules[2];
    size_t lanes = n < 8 ? n : 8;
    load_schedule(schedules[0], data, lanes);
    for (int j = 16; j < 68; ++j) expand_step(schedules[0].words + 8 * j);

    uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
    uint32_t e = state[4], f = state[5], g = state[6], h = state[7];
    int current = 0;
    for (;; current ^= 1) {
        lanes = n < 8 ? n : 8;
        const size_t rest = n - lanes;
        const Schedule& now = schedules[current];
        Schedule& next = schedules[current ^ 1];
        // During the last group the steps run on zeros, which expand to zeros.
        if (rest > 0)
            load_schedule(next, data + SM3_BLOCK_SIZE * lanes, rest < 8 ? rest : 8);
        else
            wipe_schedule(next);
        for (size_t l = 0; l < lanes; ++l) {
            const uint32_t a0 = a, b0 = b, c0 = c, d0 = d, e0 = e, f0 = f, g0 = g, h0 = h;
            const uint32_t* w = now.words + l;
            const uint32_t* wp = w + Schedule::kWp;
            uint32_t* step = next.words + 8 * (16 + 7 * l);
#define PRE(j) \
    if ((j) % 9 == 4) expand_step(step + 8 * ((j) / 9))
#define W(j) w[8 * (j)]
#define WP(j) wp[8 * (j)]
            SM3_ROUNDS64(SM3_ROUND_BMI2);
#undef PRE
#undef W
#undef WP
            a ^= a0, b ^= b0, c ^= c0, d ^= d0, e ^= e0, f ^= f0, g ^= g0, h ^= h0;
        }
        if (rest == 0) break;
        data += SM3_BLOCK_SIZE * lanes;
        n = rest;
    }
    state[0] = a, state[1] = b, state[2] = c, state[3] = d;
    state[4] = e, state[5] = f, state[6] = g, state[7] = h;
    wipe_schedule(schedules[current]);
}

bool sm3_avx2_usable() {
    unsigned a = 0, b = 0, c = 0, d = 0;
    const bool bmi2 = __get_cpuid_count(7, 0, &a, &b, &c, &d) && ((b >> 8) & 1);
    return cpu_features().avx2 && bmi2;
}

}  // namespace crypto_internal

#undef SM3_ROUND_BMI2

#else

namespace crypto_internal {
bool sm3_avx2_usable() {
    return false;
}
}  // namespace crypto_internal

#endif  // SM3_HAVE_AVX2_PATH

#undef SM3_ROUNDS64
#undef SM3_ROUND4
#undef SM3_ROUND
#undef SM3_EXPAND

namespace {

using CompressBlocks = void (*)(uint32_t state[8], const uint8_t* data, size_t n);

#if SM3_HAVE_AVX2_PATH
// The path for runs of three blocks or more: null until the first such run chooses it.
// Constant-initialised, so a library holding it runs nothing at load; racing first runs choose
// the same path.
std::atomic<CompressBlocks> g_multi_block{nullptr};
#endif

// The path for a run of n blocks. The vector path is chosen once, and only for three blocks or
// more: below that its set-up costs more than it saves.
CompressBlocks path_for(size_t n) {
#if SM3_HAVE_AVX2_PATH
    if (n >= 3) {
        CompressBlocks multi_block = g_multi_block.load(std::memory_order_relaxed);
        if (!multi_block) {
            multi_block = crypto_internal::sm3_avx2_usable()
                              ? crypto_internal::sm3_compress_blocks_avx2
                              : crypto_internal::sm3_compress_blocks_portable;
            g_multi_block.store(multi_block, std::memory_order_relaxed);
        }
        return multi_block;
    }
#else
    (void)n;
#endif
    return crypto_internal::sm3_compress_blocks_portable;
}

}  // namespace

extern "C" void sm3_init(sm3_ctx* ctx) {
    ctx->bit_count = 0;
    ctx->position = 0;
    std::memcpy(ctx->state, kIv, sizeof kIv);
    std::memset(ctx->block, 0, sizeof ctx->block);
}

extern "C" void sm3_compress(sm3_ctx* ctx) {
    crypto_internal::sm3_compress_blocks_portable(ctx->state, ctx->block, 1);
}

extern "C" void sm3_update(sm3_ctx* ctx, const uint8_t* data, uint32_t len) {
    if (len == 0) return;  // data may then be null
    // Whole blocks are compressed straight from the input; only a partial block is buffered.
    if (ctx->position > 0) {
        uint32_t take = SM3_BLOCK_SIZE - ctx->position;
        if (take > len) take = len;
        std::memcpy(ctx->block + ctx->position, data, take);
        ctx->position += take;
        data += take;
        len -= take;
        if (ctx->position < SM3_BLOCK_SIZE) return;
        sm3_compress(ctx);
        ctx->bit_count += 512;
        ctx->position = 0;
    }
    if (len >= SM3_BLOCK_SIZE) {
        const uint32_t n = len / SM3_BLOCK_SIZE;
        path_for(n)(ctx->state, data, n);
        ctx->bit_count += 512ull * n;
        data += n * SM3_BLOCK_SIZE;
        len -= n * SM3_BLOCK_SIZE;
    }
    if (len > 0) {
        std::memcpy(ctx->block, data, len);
        ctx->position = len;
    }
}

extern "C" void sm3_final(sm3_ctx* ctx, uint8_t* digest) {
    ctx->bit_count += 8ull * ctx->position;
    ctx->block[ctx->position++] = 0x80;
    if (ctx->position > 56) {
        std::memset(ctx->block + ctx->position, 0, SM3_BLOCK_SIZE - ctx->position);
        sm3_compress(ctx);
        ctx->position = 0;
    }
    std::memset(ctx->block + ctx->position, 0, 56 - ctx->position);
    for (int i = 0; i < 8; ++i)
        ctx->block[56 + i] = static_cast<uint8_t>(ctx->bit_count >> (56 - 8 * i));
    sm3_compress(ctx);
    for (int i = 0; i < 8; ++i) store_be32(digest + 4 * i, ctx->state[i]);
}

extern "C" void sm3(const uint8_t* data, uint32_t len, uint8_t* digest) {
    sm3_ctx ctx;
    sm3_init(&ctx);
    sm3_update(&ctx, data, len);
    sm3_final(&ctx, digest);
    crypto_internal::secure_wipe(&ctx,
                                 sizeof ctx);  // the block holds message bytes (passwords, keys)
}
