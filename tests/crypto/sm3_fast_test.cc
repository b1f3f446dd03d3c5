// The SM3 compression paths against a plain compression written from GB/T 32905, and the streaming
// interface against the one-shot digest.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "crypto/sm3.h"
#include "crypto/sm3_internal.h"

namespace {

using Bytes = std::vector<uint8_t>;
using State = std::array<uint32_t, 8>;
using Digest = std::array<uint8_t, SM3_DIGEST_SIZE>;

uint32_t rotl(uint32_t x, int n) {
    n %= 32;
    return n == 0 ? x : (x << n) | (x >> (32 - n));
}

// CF of GB/T 32905 section 5.3, word for word: the 68 + 64 word expansion, then 64 rounds.
void reference_compress(State& v, const uint8_t* block) {
    uint32_t w[68], w1[64];
    for (int j = 0; j < 16; ++j)
        w[j] = uint32_t{block[4 * j]} << 24 | uint32_t{block[4 * j + 1]} << 16 |
               uint32_t{block[4 * j + 2]} << 8 | block[4 * j + 3];
    auto p0 = [](uint32_t x) { return x ^ rotl(x, 9) ^ rotl(x, 17); };
    auto p1 = [](uint32_t x) { return x ^ rotl(x, 15) ^ rotl(x, 23); };
    for (int j = 16; j < 68; ++j)
        w[j] = p1(w[j - 16] ^ w[j - 9] ^ rotl(w[j - 3], 15)) ^ rotl(w[j - 13], 7) ^ w[j - 6];
    for (int j = 0; j < 64; ++j) w1[j] = w[j] ^ w[j + 4];

    uint32_t a = v[0], b = v[1], c = v[2], d = v[3], e = v[4], f = v[5], g = v[6], h = v[7];
    for (int j = 0; j < 64; ++j) {
        const uint32_t t = j < 16 ? 0x79CC4519 : 0x7A879D8A;
        const uint32_t ss1 = rotl(rotl(a, 12) + e + rotl(t, j), 7);
        const uint32_t ss2 = ss1 ^ rotl(a, 12);
        const uint32_t ff = j < 16 ? a ^ b ^ c : (a & b) | (a & c) | (b & c);
        const uint32_t gg = j < 16 ? e ^ f ^ g : (e & f) | (~e & g);
        const uint32_t tt1 = ff + d + ss2 + w1[j];
        const uint32_t tt2 = gg + h + ss1 + w[j];
        d = c;
        c = rotl(b, 9);
        b = a;
        a = tt1;
        h = g;
        g = rotl(f, 19);
        f = e;
        e = p0(tt2);
    }
    const uint32_t out[8] = {a, b, c, d, e, f, g, h};
    for (int i = 0; i < 8; ++i) v[i] ^= out[i];
}

// The whole hash from reference_compress: padding and length as in GB/T 32905 section 5.2.
Digest reference_sm3(const Bytes& message) {
    Bytes m = message;
    const uint64_t bits = 8ull * message.size();
    m.push_back(0x80);
    while (m.size() % 64 != 56) m.push_back(0);
    for (int i = 7; i >= 0; --i) m.push_back(static_cast<uint8_t>(bits >> (8 * i)));
    State v = {0x7380166F, 0x4914B2B9, 0x172442D7, 0xDA8A0600,
               0xA96F30BC, 0x163138AA, 0xE38DEE4D, 0xB0FB0E4E};
    for (size_t i = 0; i < m.size(); i += 64) reference_compress(v, m.data() + i);
    Digest out;
    for (int i = 0; i < 8; ++i)
        for (int k = 0; k < 4; ++k) out[4 * i + k] = static_cast<uint8_t>(v[i] >> (24 - 8 * k));
    return out;
}

Bytes random_bytes(std::mt19937& rng, size_t n) {
    Bytes out(n);
    for (auto& x : out) x = static_cast<uint8_t>(rng());
    return out;
}

State random_state(std::mt19937& rng) {
    State s;
    for (auto& x : s) x = rng();
    return s;
}

Digest one_shot(const Bytes& m) {
    Digest d;
    sm3(m.data(), static_cast<uint32_t>(m.size()), d.data());
    return d;
}

std::string hex(const Digest& d) {
    static const char* digits = "0123456789abcdef";
    std::string s;
    for (uint8_t x : d) s += {digits[x >> 4], digits[x & 15]};
    return s;
}

// The reference itself, on the examples of GB/T 32905 and the empty message.
TEST(Sm3Reference, MatchesTheStandardExamples) {
    Bytes abcd;
    for (int i = 0; i < 16; ++i) abcd.insert(abcd.end(), {'a', 'b', 'c', 'd'});
    EXPECT_EQ(hex(reference_sm3({'a', 'b', 'c'})),
              "66c7f0f462eeedd9d1f2d46bdc10e4e24167c4875cf2f7a2297da02b8f4ba8e0");
    EXPECT_EQ(hex(reference_sm3(abcd)),
              "debe9ff92275b8a138604889c18e5a4d6fdb70e5387e5765293dcba39c0c5732");
    EXPECT_EQ(hex(reference_sm3({})),
              "1ab21d8355cfa17f8e61194831e81a8f22bec8c728fefb747ed035eb5082aa2b");
}

// The state-in, state-out function every path implements.
using Path = void (*)(uint32_t state[8], const uint8_t* data, size_t n);

std::vector<std::pair<const char*, Path>> paths() {
    std::vector<std::pair<const char*, Path>> out = {
        {"portable", crypto_internal::sm3_compress_blocks_portable}};
#if SM3_HAVE_AVX2_PATH
    if (crypto_internal::sm3_avx2_usable())
        out.push_back({"avx2", crypto_internal::sm3_compress_blocks_avx2});
#endif
    return out;
}

// Runs of 1 to 40 blocks cover one block, part of a group of eight, whole groups, and groups
// followed by a partial one; every run continues from a random state.
TEST(Sm3Paths, MatchReferenceOnRandomRunsOfBlocks) {
    std::mt19937 rng(0x5133);
    for (const auto& [name, path] : paths()) {
        for (size_t n = 1; n <= 40; ++n) {
            for (int trial = 0; trial < 4; ++trial) {
                const Bytes data = random_bytes(rng, 64 * n);
                State expected = random_state(rng);
                State actual = expected;
                for (size_t i = 0; i < n; ++i) reference_compress(expected, data.data() + 64 * i);
                path(actual.data(), data.data(), n);
                ASSERT_EQ(actual, expected) << name << ", " << n << " blocks, trial " << trial;
            }
        }
    }
}

// A run of blocks that does not start on an aligned address.
TEST(Sm3Paths, MatchReferenceOnUnalignedInput) {
    std::mt19937 rng(0x5134);
    const Bytes buffer = random_bytes(rng, 64 * 17 + 8);
    for (const auto& [name, path] : paths()) {
        for (size_t shift = 1; shift < 8; ++shift) {
            State expected = random_state(rng);
            State actual = expected;
            for (size_t i = 0; i < 17; ++i)
                reference_compress(expected, buffer.data() + shift + 64 * i);
            path(actual.data(), buffer.data() + shift, 17);
            ASSERT_EQ(actual, expected) << name << ", shifted by " << shift;
        }
    }
}

TEST(Sm3Compress, MatchesReferenceOnRandomBlocksAndStates) {
    std::mt19937 rng(0x5135);
    for (int trial = 0; trial < 200; ++trial) {
        sm3_ctx ctx;
        sm3_init(&ctx);
        const Bytes block = random_bytes(rng, 64);
        State expected = random_state(rng);
        std::memcpy(ctx.block, block.data(), 64);
        std::memcpy(ctx.state, expected.data(), sizeof ctx.state);
        sm3_compress(&ctx);
        reference_compress(expected, block.data());
        State actual;
        std::memcpy(actual.data(), ctx.state, sizeof ctx.state);
        ASSERT_EQ(actual, expected) << "trial " << trial;
    }
}

// Lengths 0 to 1000 in random pieces (empty ones included) against the one-shot digest and the
// reference hash.
TEST(Sm3Streaming, RandomSplitsMatchOneShotAndReference) {
    std::mt19937 rng(0x5136);
    for (int trial = 0; trial < 400; ++trial) {
        const size_t len = trial <= 130 ? trial : rng() % 1001;
        const Bytes m = random_bytes(rng, len);
        const Digest expected = reference_sm3(m);
        ASSERT_EQ(one_shot(m), expected) << "length " << len;

        sm3_ctx ctx;
        sm3_init(&ctx);
        std::string pieces;
        for (size_t at = 0; at < len;) {
            const size_t left = len - at;
            const size_t take =
                rng() % 4 == 0 ? rng() % (left + 1) : rng() % (left < 70 ? left + 1 : 70);
            sm3_update(&ctx, m.data() + at, static_cast<uint32_t>(take));
            pieces += std::to_string(take) + " ";
            at += take;
        }
        Digest streamed;
        sm3_final(&ctx, streamed.data());
        ASSERT_EQ(streamed, expected) << "length " << len << ", pieces " << pieces;
    }
}

// Long messages go through the multi-block paths: whole groups, groups plus a partial one, with
// and without a buffered head before them.
TEST(Sm3Streaming, LongMessagesMatchReference) {
    std::mt19937 rng(0x5137);
    for (size_t len : {512u, 575u, 1024u, 1088u, 4096u, 4097u, 4159u, 8191u, 20000u}) {
        const Bytes m = random_bytes(rng, len);
        const Digest expected = reference_sm3(m);
        ASSERT_EQ(one_shot(m), expected) << "length " << len;
        for (size_t head : {1u, 63u, 64u, 65u}) {
            sm3_ctx ctx;
            sm3_init(&ctx);
            sm3_update(&ctx, m.data(), static_cast<uint32_t>(head));
            sm3_update(&ctx, m.data() + head, static_cast<uint32_t>(len - head));
            Digest streamed;
            sm3_final(&ctx, streamed.data());
            ASSERT_EQ(streamed, expected) << "length " << len << ", head " << head;
        }
    }
}

}  // namespace
