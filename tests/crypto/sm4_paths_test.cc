// The public SM4 entry points, the sector path and the runs of units with each kernel path forced
// in turn: the same bytes and the same argument checks as the block-by-block definition.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "crypto/sm4.h"
#include "crypto/sm4_blocks.h"
#include "crypto/sm4_xts.h"
#include "crypto/sm4_xts_units.h"
#include "tests/support/vectors.h"

namespace {

using crypto_internal::Sm4Path;
using testing_support::to_hex;
using Bytes = std::vector<uint8_t>;

constexpr Sm4Path kAllPaths[] = {Sm4Path::kPortable,  Sm4Path::kAesniSse, Sm4Path::kGfniSse,
                                 Sm4Path::kAesniAvx2, Sm4Path::kGfniAvx2, Sm4Path::kGfniAvx512};

Bytes random_bytes(std::mt19937_64& rng, size_t n) {
    Bytes b(n);
    for (auto& x : b) x = static_cast<uint8_t>(rng());
    return b;
}

// ECB by its definition: the reference key schedule and block function, block by block.
Bytes ecb_by_definition(const Bytes& key, const Bytes& in, bool encrypt) {
    sm4_ctx ctx;
    if (encrypt)
        sm4_set_encrypt_key(&ctx, key.data());
    else
        sm4_set_decrypt_key(&ctx, key.data());
    Bytes out(in.size());
    for (size_t i = 0; i < in.size(); i += 16) sm4_crypt_block(ctx.rk, &in[i], &out[i]);
    return out;
}

// XTS by its definition: T = E(K2, tweak input), block j masked with T * alpha^j.
Bytes xts_by_definition(const Bytes& key, const uint8_t* tweak_in, const Bytes& in, bool encrypt) {
    sm4_ctx k1, k2;
    sm4_set_encrypt_key(&k2, key.data() + 16);
    if (encrypt)
        sm4_set_encrypt_key(&k1, key.data());
    else
        sm4_set_decrypt_key(&k1, key.data());
    uint8_t t[16];
    sm4_crypt_block(k2.rk, tweak_in, t);
    Bytes out(in.size());
    for (size_t i = 0; i < in.size(); i += 16) {
        uint8_t b[16];
        for (int j = 0; j < 16; ++j) b[j] = in[i + j] ^ t[j];
        sm4_crypt_block(k1.rk, b, b);
        for (int j = 0; j < 16; ++j) out[i + j] = b[j] ^ t[j];
        xts_mul_alpha(t);
    }
    return out;
}

Bytes sector_tweak(uint64_t sector) {
    Bytes t(16, 0);
    for (int b = 0; b < 8; ++b) t[b] = static_cast<uint8_t>(sector >> (8 * b));
    return t;
}

std::string path_label(const testing::TestParamInfo<Sm4Path>& info) {
    std::string s = crypto_internal::sm4_path_name(info.param);
    for (auto& c : s)
        if (c == '-') c = '_';
    return s;
}

class Sm4PathsTest : public testing::TestWithParam<Sm4Path> {
  protected:
    void SetUp() override {
        before_ = crypto_internal::sm4_kernels().path;
        if (!crypto_internal::sm4_force_path(GetParam()))
            GTEST_SKIP() << "this CPU or build lacks "
                         << crypto_internal::sm4_path_name(GetParam());
    }
    void TearDown() override { crypto_internal::sm4_force_path(before_); }

    Sm4Path before_ = Sm4Path::kPortable;
};

constexpr uint32_t kLengths[] = {16,  32,  48,  112,  128,  144,  240,  256,      272,
                                 496, 512, 528, 1008, 1024, 4096, 4112, 16 * 299, 16 * 300};

TEST_P(Sm4PathsTest, EcbMatchesDefinition) {
    std::mt19937_64 rng(0x5134'1001);
    for (uint32_t len : kLengths) {
        const Bytes key = random_bytes(rng, 16), in = random_bytes(rng, len);
        for (bool encrypt : {true, false}) {
            const Bytes expected = ecb_by_definition(key, in, encrypt);
            auto fn = encrypt ? sm4_ecb_encrypt : sm4_ecb_decrypt;
            Bytes out(len, 0);
            ASSERT_EQ(fn(key.data(), in.data(), len, out.data()), 0);
            EXPECT_EQ(to_hex(out), to_hex(expected)) << len << (encrypt ? " encrypt" : " decrypt");
            Bytes inplace = in;
            ASSERT_EQ(fn(key.data(), inplace.data(), len, inplace.data()), 0);
            EXPECT_EQ(to_hex(inplace), to_hex(expected)) << len << " in place";
        }
    }
}

TEST_P(Sm4PathsTest, XtsEntryPointsMatchDefinition) {
    std::mt19937_64 rng(0x5134'1002);
    for (uint32_t len : kLengths) {
        const Bytes key = random_bytes(rng, 32), tweak = random_bytes(rng, 16);
        const Bytes in = random_bytes(rng, len);
        for (bool encrypt : {true, false}) {
            const Bytes expected = xts_by_definition(key, tweak.data(), in, encrypt);
            const std::string what = std::to_string(len) + (encrypt ? " encrypt" : " decrypt");
            Bytes out(len, 0);
            auto checked = encrypt ? sm4_xts_encrypt : sm4_xts_decrypt;
            ASSERT_EQ(checked(key.data(), tweak.data(), in.data(), len, out.data()), 0);
            EXPECT_EQ(to_hex(out), to_hex(expected)) << what << " checked";
            Bytes inplace = in;
            ASSERT_EQ(checked(key.data(), tweak.data(), inplace.data(), len, inplace.data()), 0);
            EXPECT_EQ(to_hex(inplace), to_hex(expected)) << what << " checked, in place";
            std::fill(out.begin(), out.end(), 0);
            ASSERT_EQ(sm4_xts(key.data(), tweak.data(), in.data(), len, out.data(), encrypt), 0);
            EXPECT_EQ(to_hex(out), to_hex(expected)) << what << " unchecked";
        }
    }
}

TEST_P(Sm4PathsTest, UncheckedXtsLeavesThePartialBlock) {
    std::mt19937_64 rng(0x5134'1003);
    const Bytes key = random_bytes(rng, 32), tweak = random_bytes(rng, 16);
    for (uint32_t len : {0u, 8u, 15u, 40u, 527u}) {
        const Bytes in = random_bytes(rng, len);
        Bytes out(len, 0xC3);
        ASSERT_EQ(sm4_xts(key.data(), tweak.data(), in.data(), len, out.data(), 1), 0);
        const size_t whole = len / 16 * 16;
        const Bytes expected =
            xts_by_definition(key, tweak.data(), Bytes(in.begin(), in.begin() + whole), true);
        EXPECT_EQ(to_hex(Bytes(out.begin(), out.begin() + whole)), to_hex(expected)) << len;
        EXPECT_EQ(Bytes(out.begin() + whole, out.end()), Bytes(len - whole, 0xC3)) << len;
    }
}

TEST_P(Sm4PathsTest, BadArgumentsGiveOneAndWriteNothing) {
    const Bytes key(32, 1), tweak(16, 2), in(64, 3);
    struct Case {
        bool null_key, null_tweak, null_in, null_out;
        uint32_t len;
    };
    const Case cases[] = {{true, false, false, false, 32},  {false, true, false, false, 32},
                          {false, false, true, false, 32},  {false, false, false, true, 32},
                          {false, false, false, false, 0},  {false, false, false, false, 15},
                          {false, false, false, false, 17}, {false, false, false, false, 63}};
    for (const Case& c : cases) {
        Bytes out(64, 0x77);
        const uint8_t* k = c.null_key ? nullptr : key.data();
        const uint8_t* t = c.null_tweak ? nullptr : tweak.data();
        const uint8_t* i = c.null_in ? nullptr : in.data();
        uint8_t* o = c.null_out ? nullptr : out.data();
        EXPECT_EQ(sm4_xts_encrypt(k, t, i, c.len, o), 1) << c.len;
        EXPECT_EQ(sm4_xts_decrypt(k, t, i, c.len, o), 1) << c.len;
        if (!c.null_tweak) {
            EXPECT_EQ(sm4_ecb_encrypt(k, i, c.len, o), 1) << c.len;
            EXPECT_EQ(sm4_ecb_decrypt(k, i, c.len, o), 1) << c.len;
        }
        EXPECT_EQ(out, Bytes(64, 0x77)) << c.len;
    }
}

TEST_P(Sm4PathsTest, SectorRequestsMatchOneCallPerSector) {
    std::mt19937_64 rng(0x5134'1004);
    struct Case {
        uint64_t first_sector;
        size_t sectors;
        uint32_t sector_size;
    };
    const Case cases[] = {
        {0, 1, 512},   {7, 15, 512},        {1000, 16, 512}, {255, 17, 512}, {0xFFFFFFF0, 40, 512},
        {3, 128, 512}, {~0ULL - 5, 9, 512}, {12, 5, 4096},   {9, 3, 16},     {1ULL << 40, 33, 48}};
    for (const Case& c : cases) {
        const Bytes key = random_bytes(rng, 32);
        const Bytes in = random_bytes(rng, c.sectors * c.sector_size);
        for (bool encrypt : {true, false}) {
            Bytes expected(in.size());
            for (size_t s = 0; s < c.sectors; ++s) {
                const Bytes t = sector_tweak(c.first_sector + s);
                sm4_xts(key.data(), t.data(), &in[s * c.sector_size], c.sector_size,
                        &expected[s * c.sector_size], encrypt);
            }
            const std::string what = std::to_string(c.first_sector) + " + " +
                                     std::to_string(c.sectors) + " x " +
                                     std::to_string(c.sector_size) + (encrypt ? " enc" : " dec");
            Bytes out(in.size() + 32, 0x99);
            crypto_internal::sm4_xts_sectors(key.data(), c.first_sector, in.data(), out.data(),
                                             c.sectors, c.sector_size, encrypt);
            EXPECT_EQ(to_hex(out.data(), in.size()), to_hex(expected)) << what;
            EXPECT_EQ(Bytes(out.end() - 32, out.end()), Bytes(32, 0x99)) << what;
            Bytes inplace = in;
            crypto_internal::sm4_xts_sectors(key.data(), c.first_sector, inplace.data(),
                                             inplace.data(), c.sectors, c.sector_size, encrypt);
            EXPECT_EQ(to_hex(inplace), to_hex(expected)) << what << " in place";
        }
    }
}

TEST_P(Sm4PathsTest, RunsOfUnitsMatchTheDefinitionPerUnit) {
    std::mt19937_64 rng(0x5134'1005);
    struct Case {
        size_t units;
        uint32_t unit_size;
    };
    const Case cases[] = {{1, 512}, {2, 512}, {17, 512}, {64, 512}, {3, 16}, {5, 48}, {2, 4096}};
    for (const Case& c : cases) {
        const Bytes key = random_bytes(rng, 32);
        const Bytes tweak_in = random_bytes(rng, 16);
        const Bytes in = random_bytes(rng, c.units * c.unit_size);
        for (bool encrypt : {true, false}) {
            Bytes expected;
            for (size_t u = 0; u < c.units; ++u) {
                const Bytes unit(in.begin() + u * c.unit_size, in.begin() + (u + 1) * c.unit_size);
                const Bytes out = xts_by_definition(key, tweak_in.data(), unit, encrypt);
                expected.insert(expected.end(), out.begin(), out.end());
            }
            const std::string what = std::to_string(c.units) + " x " + std::to_string(c.unit_size) +
                                     (encrypt ? " enc" : " dec");
            Bytes out(in.size() + 32, 0x99);
            crypto_internal::sm4_xts_units(key.data(), tweak_in.data(), in.data(), out.data(),
                                           c.units, c.unit_size, encrypt);
            EXPECT_EQ(to_hex(out.data(), in.size()), to_hex(expected)) << what;
            EXPECT_EQ(Bytes(out.end() - 32, out.end()), Bytes(32, 0x99)) << what;
            Bytes inplace = in;
            crypto_internal::sm4_xts_units(key.data(), tweak_in.data(), inplace.data(),
                                           inplace.data(), c.units, c.unit_size, encrypt);
            EXPECT_EQ(to_hex(inplace), to_hex(expected)) << what << " in place";
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Paths, Sm4PathsTest, testing::ValuesIn(kAllPaths), path_label);

}  // namespace
