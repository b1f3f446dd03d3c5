// Every SM4 kernel path against the standard vectors, against the block function one block at a
// time, and (where OpenSSL is available) against OpenSSL's SM4-ECB.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "crypto/sm4.h"
#include "crypto/sm4_blocks.h"
#include "crypto/sm4_xts.h"
#include "tests/support/vectors.h"

#ifdef HALDEN_TEST_OPENSSL
#include <openssl/evp.h>
#endif

namespace {

using crypto_internal::Sm4Kernels;
using crypto_internal::Sm4Path;
using testing_support::load_vectors;
using testing_support::TestVector;
using testing_support::to_hex;
using Bytes = std::vector<uint8_t>;

constexpr Sm4Path kAllPaths[] = {Sm4Path::kPortable,  Sm4Path::kAesniSse, Sm4Path::kGfniSse,
                                 Sm4Path::kAesniAvx2, Sm4Path::kGfniAvx2, Sm4Path::kGfniAvx512};

// Block counts around every group size (8, 16, 32 blocks in flight) and odd counts up to 300.
constexpr size_t kCounts[] = {1,  2,   3,   4,   5,   7,   8,   9,   15,  16,  17, 23, 24,
                              25, 31,  32,  33,  40,  47,  48,  49,  63,  64,  65, 95, 96,
                              97, 127, 128, 129, 160, 191, 255, 256, 257, 299, 300};

struct Keys {
    sm4_ctx enc{};
    sm4_ctx dec{};
};

Keys expand(const uint8_t* key) {
    Keys k;
    sm4_set_encrypt_key(&k.enc, key);
    sm4_set_decrypt_key(&k.dec, key);
    return k;
}

const TestVector& vector_named(const std::string& name) {
    static const auto file = load_vectors("sm4_kernels.txt");
    for (const auto& v : file.vectors)
        if (v.name == name) return v;
    throw std::runtime_error("no vector " + name);
}

Bytes random_bytes(std::mt19937_64& rng, size_t n) {
    Bytes b(n);
    for (auto& x : b) x = static_cast<uint8_t>(rng());
    return b;
}

// XTS by its definition: the block function once per block, the tweak multiplied once per block.
Bytes xts_by_definition(const uint32_t* rk, uint8_t* tweak, const Bytes& in) {
    Bytes out(in.size());
    for (size_t i = 0; i < in.size(); i += 16) {
        uint8_t b[16];
        for (int j = 0; j < 16; ++j) b[j] = in[i + j] ^ tweak[j];
        sm4_crypt_block(rk, b, b);
        for (int j = 0; j < 16; ++j) out[i + j] = b[j] ^ tweak[j];
        xts_mul_alpha(tweak);
    }
    return out;
}

std::string path_label(const testing::TestParamInfo<Sm4Path>& info) {
    std::string s = crypto_internal::sm4_path_name(info.param);
    for (auto& c : s)
        if (c == '-') c = '_';
    return s;
}

class Sm4KernelTest : public testing::TestWithParam<Sm4Path> {
  protected:
    void SetUp() override {
        if (!crypto_internal::sm4_path_supported(GetParam()))
            GTEST_SKIP() << "this CPU or build lacks "
                         << crypto_internal::sm4_path_name(GetParam());
        k_ = crypto_internal::sm4_kernels_for(GetParam());
    }

    // Runs the ECB kernel into a buffer with guard bytes on both sides; checks the guards.
    Bytes blocks(const uint32_t* rk, const Bytes& in) {
        Bytes buf(in.size() + 64, 0xA5);
        k_->blocks(rk, in.data(), buf.data() + 32, in.size() / 16);
        EXPECT_EQ(Bytes(buf.begin(), buf.begin() + 32), Bytes(32, 0xA5)) << "wrote before out";
        EXPECT_EQ(Bytes(buf.end() - 32, buf.end()), Bytes(32, 0xA5)) << "wrote past out";
        return Bytes(buf.begin() + 32, buf.end() - 32);
    }

    Bytes xts(const uint32_t* rk, uint8_t* tweak, const Bytes& in) {
        Bytes buf(in.size() + 64, 0x5A);
        k_->xts(rk, tweak, in.data(), buf.data() + 32, in.size() / 16);
        EXPECT_EQ(Bytes(buf.begin(), buf.begin() + 32), Bytes(32, 0x5A)) << "wrote before out";
        EXPECT_EQ(Bytes(buf.end() - 32, buf.end()), Bytes(32, 0x5A)) << "wrote past out";
        return Bytes(buf.begin() + 32, buf.end() - 32);
    }

    const Sm4Kernels* k_ = nullptr;
};

TEST_P(Sm4KernelTest, StandardExampleInEveryLane) {
    const auto& v = vector_named("GB/T 32907 example 1");
    const Keys keys = expand(v.bytes("key").data());
    const Bytes plain = v.bytes("plain"), cipher = v.bytes("cipher");
    for (size_t n : kCounts) {
        Bytes in, expected;
        for (size_t i = 0; i < n; ++i) {
            in.insert(in.end(), plain.begin(), plain.end());
            expected.insert(expected.end(), cipher.begin(), cipher.end());
        }
        EXPECT_EQ(to_hex(blocks(keys.enc.rk, in)), to_hex(expected)) << n << " blocks";
        EXPECT_EQ(to_hex(blocks(keys.dec.rk, expected)), to_hex(in)) << n << " blocks";
    }
}

TEST_P(Sm4KernelTest, XtsKnownAnswer) {
    const auto& v = vector_named("XTS two blocks");
    const Bytes key = v.bytes("key"), plain = v.bytes("plain"), cipher = v.bytes("cipher");
    const Keys k1 = expand(key.data()), k2 = expand(key.data() + 16);
    uint8_t t[16];
    k_->blocks(k2.enc.rk, v.bytes("tweak").data(), t, 1);
    uint8_t t_after[16];
    std::memcpy(t_after, t, 16);
    xts_mul_alpha(t_after);
    xts_mul_alpha(t_after);

    uint8_t tw[16];
    std::memcpy(tw, t, 16);
    EXPECT_EQ(to_hex(xts(k1.enc.rk, tw, plain)), to_hex(cipher));
    EXPECT_EQ(to_hex(tw, 16), to_hex(t_after, 16)) << "tweak not carried to T * alpha^2";
    std::memcpy(tw, t, 16);
    EXPECT_EQ(to_hex(xts(k1.dec.rk, tw, cipher)), to_hex(plain));

    Bytes inplace = plain;
    std::memcpy(tw, t, 16);
    k_->xts(k1.enc.rk, tw, inplace.data(), inplace.data(), 2);
    EXPECT_EQ(to_hex(inplace), to_hex(cipher));
}

TEST_P(Sm4KernelTest, EcbMatchesBlockFunction) {
    std::mt19937_64 rng(0x5134'0001);
    for (size_t n : kCounts) {
        const Bytes key = random_bytes(rng, 16), in = random_bytes(rng, 16 * n);
        const Keys keys = expand(key.data());
        for (const sm4_ctx* ctx : {&keys.enc, &keys.dec}) {
            Bytes expected(in.size());
            for (size_t i = 0; i < in.size(); i += 16)
                sm4_crypt_block(ctx->rk, in.data() + i, expected.data() + i);
            EXPECT_EQ(to_hex(blocks(ctx->rk, in)), to_hex(expected)) << n << " blocks";
            Bytes inplace = in;
            k_->blocks(ctx->rk, inplace.data(), inplace.data(), n);
            EXPECT_EQ(to_hex(inplace), to_hex(expected)) << n << " blocks in place";
        }
    }
}

TEST_P(Sm4KernelTest, XtsMatchesDefinition) {
    std::mt19937_64 rng(0x5134'0002);
    for (size_t n : kCounts) {
        const Bytes key = random_bytes(rng, 16), in = random_bytes(rng, 16 * n);
        const Bytes tweak = random_bytes(rng, 16);
        const Keys keys = expand(key.data());
        for (const sm4_ctx* ctx : {&keys.enc, &keys.dec}) {
            uint8_t t_ref[16], t[16];
            std::memcpy(t_ref, tweak.data(), 16);
            const Bytes expected = xts_by_definition(ctx->rk, t_ref, in);

            std::memcpy(t, tweak.data(), 16);
            EXPECT_EQ(to_hex(xts(ctx->rk, t, in)), to_hex(expected)) << n << " blocks";
            EXPECT_EQ(to_hex(t, 16), to_hex(t_ref, 16)) << n << " blocks: carried tweak";

            Bytes inplace = in;
            std::memcpy(t, tweak.data(), 16);
            k_->xts(ctx->rk, t, inplace.data(), inplace.data(), n);
            EXPECT_EQ(to_hex(inplace), to_hex(expected)) << n << " blocks in place";

            // Split at a random block: the carried tweak continues the data unit.
            const size_t first = rng() % (n + 1);
            Bytes split(in.size());
            std::memcpy(t, tweak.data(), 16);
            k_->xts(ctx->rk, t, in.data(), split.data(), first);
            k_->xts(ctx->rk, t, in.data() + 16 * first, split.data() + 16 * first, n - first);
            EXPECT_EQ(to_hex(split), to_hex(expected)) << n << " blocks split after " << first;
        }
    }
}

TEST_P(Sm4KernelTest, KeyScheduleMatchesSpecifiedOne) {
    std::mt19937_64 rng(0x5134'0006);
    std::vector<Bytes> keys = {Bytes(16, 0), Bytes(16, 0xFF),
                               vector_named("GB/T 32907 example 1").bytes("key")};
    for (int i = 0; i < 50; ++i) keys.push_back(random_bytes(rng, 16));
    for (const Bytes& key : keys) {
        const Keys expected = expand(key.data());
        uint32_t rk[32];
        k_->expand(key.data(), false, rk);
        EXPECT_EQ(to_hex(reinterpret_cast<uint8_t*>(rk), sizeof rk),
                  to_hex(reinterpret_cast<const uint8_t*>(expected.enc.rk), sizeof rk))
            << to_hex(key);
        k_->expand(key.data(), true, rk);
        EXPECT_EQ(to_hex(reinterpret_cast<uint8_t*>(rk), sizeof rk),
                  to_hex(reinterpret_cast<const uint8_t*>(expected.dec.rk), sizeof rk))
            << to_hex(key);
    }
}

TEST_P(Sm4KernelTest, XtsSetupMatchesSpecifiedPieces) {
    std::mt19937_64 rng(0x5134'0007);
    const auto& v = vector_named("XTS two blocks");
    std::vector<std::pair<Bytes, Bytes>> cases = {{v.bytes("key"), v.bytes("tweak")}};
    for (int i = 0; i < 50; ++i) cases.emplace_back(random_bytes(rng, 32), random_bytes(rng, 16));
    for (const auto& [key, tweak] : cases) {
        const Keys k1 = expand(key.data()), k2 = expand(key.data() + 16);
        uint8_t t_expected[16];
        sm4_crypt_block(k2.enc.rk, tweak.data(), t_expected);
        for (bool decrypt : {false, true}) {
            const sm4_ctx& rk1_expected = decrypt ? k1.dec : k1.enc;
            for (int form = 0; form < 4; ++form) {
                const bool with_rk2 = form & 1, with_tweak = form & 2;
                uint32_t rk1[32] = {}, rk2[32] = {};
                uint8_t t[16];
                std::memset(t, 0xA5, sizeof t);
                k_->xts_setup(key.data(), decrypt, with_tweak ? tweak.data() : nullptr, rk1,
                              with_rk2 ? rk2 : nullptr, t);
                const std::string what = to_hex(key) + (decrypt ? " decrypt" : " encrypt") +
                                         " form " + std::to_string(form);
                EXPECT_EQ(0, std::memcmp(rk1, rk1_expected.rk, sizeof rk1)) << what;
                if (with_rk2) {
                    EXPECT_EQ(0, std::memcmp(rk2, k2.enc.rk, sizeof rk2)) << what;
                }
                // Without a tweak input, t is not written.
                const uint8_t unwritten[16] = {0xA5, 0xA5, 0xA5, 0xA5, 0xA5, 0xA5, 0xA5, 0xA5,
                                               0xA5, 0xA5, 0xA5, 0xA5, 0xA5, 0xA5, 0xA5, 0xA5};
                EXPECT_EQ(to_hex(t, 16), to_hex(with_tweak ? t_expected : unwritten, 16)) << what;
            }
        }
    }
}

// Tweaks with long carry chains and the reduction bit in every position of a batch.
TEST_P(Sm4KernelTest, XtsEdgeTweaks) {
    const Bytes key(16, 0x3C);
    const Keys keys = expand(key.data());
    std::mt19937_64 rng(0x5134'0003);
    const Bytes in = random_bytes(rng, 16 * 67);
    std::vector<Bytes> tweaks = {Bytes(16, 0x00), Bytes(16, 0xFF), Bytes(16, 0x01),
                                 Bytes(16, 0x80)};
    for (int bit = 0; bit < 128; bit += 9) {
        Bytes t(16, 0);
        t[bit / 8] = static_cast<uint8_t>(1u << (bit % 8));
        tweaks.push_back(t);
    }
    for (const Bytes& tweak : tweaks) {
        uint8_t t_ref[16], t[16];
        std::memcpy(t_ref, tweak.data(), 16);
        std::memcpy(t, tweak.data(), 16);
        const Bytes expected = xts_by_definition(keys.enc.rk, t_ref, in);
        EXPECT_EQ(to_hex(xts(keys.enc.rk, t, in)), to_hex(expected)) << to_hex(tweak);
        EXPECT_EQ(to_hex(t, 16), to_hex(t_ref, 16)) << to_hex(tweak);
    }
}

TEST_P(Sm4KernelTest, ZeroBlocksLeaveEverythingAlone) {
    const Keys keys = expand(Bytes(16, 7).data());
    uint8_t t[16] = {1, 2, 3};
    const Bytes t0(t, t + 16);
    Bytes out(32, 0xEE);
    const Bytes in(32, 0x11);
    k_->blocks(keys.enc.rk, in.data(), out.data(), 0);
    k_->xts(keys.enc.rk, t, in.data(), out.data(), 0);
    EXPECT_EQ(out, Bytes(32, 0xEE));
    EXPECT_EQ(Bytes(t, t + 16), t0);
}

TEST_P(Sm4KernelTest, ForcedPathIsTheOneDispatched) {
    const Sm4Kernels& before = crypto_internal::sm4_kernels();
    ASSERT_TRUE(crypto_internal::sm4_force_path(GetParam()));
    EXPECT_EQ(crypto_internal::sm4_kernels().path, GetParam());
    EXPECT_EQ(crypto_internal::sm4_kernels().blocks, k_->blocks);
    EXPECT_EQ(crypto_internal::sm4_kernels().xts, k_->xts);
    crypto_internal::sm4_force_path(before.path);
}

#ifdef HALDEN_TEST_OPENSSL
Bytes openssl_ecb(const Bytes& key, const Bytes& in, bool encrypt) {
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    Bytes out(in.size());
    int len = 0;
    EXPECT_EQ(EVP_CipherInit_ex(ctx, EVP_sm4_ecb(), nullptr, key.data(), nullptr, encrypt), 1);
    EVP_CIPHER_CTX_set_padding(ctx, 0);
    EXPECT_EQ(EVP_CipherUpdate(ctx, out.data(), &len, in.data(), static_cast<int>(in.size())), 1);
    EXPECT_EQ(static_cast<size_t>(len), in.size());
    EVP_CIPHER_CTX_free(ctx);
    return out;
}

TEST_P(Sm4KernelTest, EcbMatchesOpenSsl) {
    std::mt19937_64 rng(0x5134'0004);
    for (size_t n : kCounts) {
        const Bytes key = random_bytes(rng, 16), in = random_bytes(rng, 16 * n);
        const Keys keys = expand(key.data());
        EXPECT_EQ(to_hex(blocks(keys.enc.rk, in)), to_hex(openssl_ecb(key, in, true))) << n;
        EXPECT_EQ(to_hex(blocks(keys.dec.rk, in)), to_hex(openssl_ecb(key, in, false))) << n;
    }
}

// XTS built on OpenSSL's SM4-ECB with the tweak order written out bit by bit.
TEST_P(Sm4KernelTest, XtsMatchesOpenSslEcbOracle) {
    std::mt19937_64 rng(0x5134'0005);
    for (size_t n : kCounts) {
        const Bytes key = random_bytes(rng, 16), in = random_bytes(rng, 16 * n);
        Bytes t = random_bytes(rng, 16);
        const Keys keys = expand(key.data());
        uint8_t tw[16];
        std::memcpy(tw, t.data(), 16);
        Bytes masked(in.size()), expected(in.size());
        std::vector<Bytes> per_block;
        for (size_t i = 0; i < n; ++i) {
            per_block.push_back(t);
            for (int j = 0; j < 16; ++j) masked[16 * i + j] = in[16 * i + j] ^ t[j];
            // Multiply by alpha: a right shift of the 128-bit string, 0xE1 into byte 0 on carry.
            const bool carry = t[15] & 1;
            for (int j = 15; j > 0; --j) t[j] = static_cast<uint8_t>((t[j] >> 1) | (t[j - 1] << 7));
            t[0] = static_cast<uint8_t>((t[0] >> 1) ^ (carry ? 0xE1 : 0));
        }
        const Bytes e = openssl_ecb(key, masked, true);
        for (size_t i = 0; i < n; ++i)
            for (int j = 0; j < 16; ++j) expected[16 * i + j] = e[16 * i + j] ^ per_block[i][j];
        EXPECT_EQ(to_hex(xts(keys.enc.rk, tw, in)), to_hex(expected)) << n;
        EXPECT_EQ(to_hex(tw, 16), to_hex(t)) << n;
    }
}
#endif

INSTANTIATE_TEST_SUITE_P(Paths, Sm4KernelTest, testing::ValuesIn(kAllPaths), path_label);

TEST(Sm4Dispatch, DefaultIsTheFastestSupported) {
    const Sm4Path chosen = crypto_internal::sm4_kernels().path;
    EXPECT_TRUE(crypto_internal::sm4_path_supported(chosen));
    for (Sm4Path p : {Sm4Path::kGfniAvx512, Sm4Path::kGfniAvx2, Sm4Path::kAesniAvx2,
                      Sm4Path::kGfniSse, Sm4Path::kAesniSse}) {
        if (p == chosen) break;
        EXPECT_FALSE(crypto_internal::sm4_path_supported(p))
            << crypto_internal::sm4_path_name(p) << " is supported but "
            << crypto_internal::sm4_path_name(chosen) << " was chosen";
    }
    std::printf("SM4 path: %s\n", crypto_internal::sm4_path_name(chosen));
}

// The state a path needs, and the fastest path within a budget of state: supported, within the
// budget, and no faster supported path is.
TEST(Sm4Dispatch, TheFastestPathWithinAStateNeedsNoMore) {
    using crypto_internal::kXStateYmm;
    using crypto_internal::kXStateZmm;
    using crypto_internal::sm4_path_xstate;
    EXPECT_EQ(sm4_path_xstate(Sm4Path::kPortable), 0u);
    EXPECT_EQ(sm4_path_xstate(Sm4Path::kAesniSse), 0u);
    EXPECT_EQ(sm4_path_xstate(Sm4Path::kGfniSse), 0u);
    EXPECT_EQ(sm4_path_xstate(Sm4Path::kAesniAvx2), kXStateYmm);
    EXPECT_EQ(sm4_path_xstate(Sm4Path::kGfniAvx2), kXStateYmm);
    EXPECT_EQ(sm4_path_xstate(Sm4Path::kGfniAvx512), kXStateYmm | kXStateZmm);
    const Sm4Path fastest_first[] = {Sm4Path::kGfniAvx512, Sm4Path::kGfniAvx2, Sm4Path::kAesniAvx2,
                                     Sm4Path::kGfniSse,    Sm4Path::kAesniSse, Sm4Path::kPortable};
    for (uint64_t budget : {uint64_t{0}, kXStateYmm, kXStateZmm, kXStateYmm | kXStateZmm}) {
        const Sm4Path chosen = crypto_internal::sm4_fastest_kernels(budget).path;
        EXPECT_TRUE(crypto_internal::sm4_path_supported(chosen));
        EXPECT_EQ(sm4_path_xstate(chosen) & ~budget, 0u) << budget;
        for (Sm4Path p : fastest_first) {
            if (p == chosen) break;
            EXPECT_FALSE(crypto_internal::sm4_path_supported(p) &&
                         (sm4_path_xstate(p) & ~budget) == 0)
                << crypto_internal::sm4_path_name(p) << " fits " << budget << " but "
                << crypto_internal::sm4_path_name(chosen) << " was chosen";
        }
    }
    EXPECT_EQ(crypto_internal::sm4_fastest_kernels(kXStateYmm | kXStateZmm).path,
              crypto_internal::sm4_kernels().path);
}

}  // namespace
