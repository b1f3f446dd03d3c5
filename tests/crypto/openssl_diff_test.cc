// Random inputs through SM3, SM4-ECB and SM4-XTS here and in OpenSSL 3.0 (XTS: the GB/T 17964
// construction on OpenSSL's SM4-ECB), compared byte for byte.
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <memory>
#include <random>
#include <vector>

#include "crypto/sm3.h"
#include "crypto/sm4.h"
#include "crypto/sm4_xts.h"
#include "oracles/openssl_sm4_xts.h"
#include "tests/support/vectors.h"

using testing_support::from_hex;
using testing_support::to_hex;
using Bytes = std::vector<uint8_t>;

namespace {

class Differential : public ::testing::Test {
  protected:
    Bytes random_bytes(size_t n) {
        Bytes b(n);
        for (auto& x : b) x = static_cast<uint8_t>(rng_());
        return b;
    }
    size_t random_below(size_t n) { return rng_() % n; }

    std::mt19937_64 rng_{0x5eed};
};

Bytes openssl_sm3(const Bytes& msg) {
    Bytes digest(32);
    unsigned n = 0;
    EXPECT_EQ(EVP_Digest(msg.data(), msg.size(), digest.data(), &n, EVP_sm3(), nullptr), 1);
    EXPECT_EQ(n, 32u);
    return digest;
}

Bytes openssl_sm4_ecb(const Bytes& key, const Bytes& in, bool encrypt) {
    std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)> ctx(EVP_CIPHER_CTX_new(),
                                                                        EVP_CIPHER_CTX_free);
    Bytes out(in.size());
    int n = 0;
    EXPECT_EQ(EVP_CipherInit_ex2(ctx.get(), EVP_sm4_ecb(), key.data(), nullptr, encrypt, nullptr),
              1);
    EVP_CIPHER_CTX_set_padding(ctx.get(), 0);
    EXPECT_EQ(EVP_CipherUpdate(ctx.get(), out.data(), &n, in.data(), static_cast<int>(in.size())),
              1);
    EXPECT_EQ(static_cast<size_t>(n), in.size());
    return out;
}

}  // namespace

TEST_F(Differential, Sm3OneShotAndStreamingMatchOpenssl) {
    for (int i = 0; i < 400; ++i) {
        // Mostly short messages around the block boundaries, some of several blocks.
        const size_t len = i < 200 ? static_cast<size_t>(i) : random_below(5000);
        const Bytes msg = random_bytes(len);
        const std::string expected = to_hex(openssl_sm3(msg));

        uint8_t digest[32];
        sm3(msg.data(), static_cast<uint32_t>(len), digest);
        ASSERT_EQ(to_hex(digest, 32), expected) << "one-shot, len " << len;

        sm3_ctx ctx;
        sm3_init(&ctx);
        for (size_t offset = 0; offset < len;) {
            const size_t n = std::min(len - offset, 1 + random_below(150));
            sm3_update(&ctx, msg.data() + offset, static_cast<uint32_t>(n));
            offset += n;
        }
        sm3_final(&ctx, digest);
        ASSERT_EQ(to_hex(digest, 32), expected) << "streaming, len " << len;
    }
}

TEST_F(Differential, Sm4EcbMatchesOpenssl) {
    for (int i = 0; i < 300; ++i) {
        const Bytes key = random_bytes(16);
        const Bytes in = random_bytes(16 * (1 + random_below(128)));
        const uint32_t len = static_cast<uint32_t>(in.size());
        Bytes out(len);
        ASSERT_EQ(sm4_ecb_encrypt(key.data(), in.data(), len, out.data()), 0);
        ASSERT_EQ(to_hex(out), to_hex(openssl_sm4_ecb(key, in, true)));
        ASSERT_EQ(sm4_ecb_decrypt(key.data(), in.data(), len, out.data()), 0);
        ASSERT_EQ(to_hex(out), to_hex(openssl_sm4_ecb(key, in, false)));
    }
}

// The oracle itself against the GB/T 17964 vector, so that a fault in it cannot hide one here.
TEST_F(Differential, XtsOracleGivesTheStandardVector) {
    const Bytes key = from_hex("2b7e151628aed2a6abf7158809cf4f3c000102030405060708090a0b0c0d0e0f");
    const Bytes tweak = from_hex("f0f1f2f3f4f5f6f7f8f9fafbfcfdfeff");
    const Bytes plain =
        from_hex("6bc1bee22e409f96e93d7e117393172aae2d8a571e03ac9c9eb76fac45af8e51");
    Bytes out(32);
    oracles::OpensslSm4Xts oracle;
    ASSERT_TRUE(oracle.crypt(key.data(), tweak.data(), plain.data(), 32, out.data(), true));
    EXPECT_EQ(to_hex(out), "e9538251c71d7b80bbe4483fef497bd12c5c581bd6242fc51e08964fb4f60fdb");
}

TEST_F(Differential, XtsAllEntryPointsMatchTheOpensslOracle) {
    oracles::OpensslSm4Xts oracle;
    for (int i = 0; i < 300; ++i) {
        const Bytes key = random_bytes(32), tweak = random_bytes(16);
        const Bytes in = random_bytes(16 * (1 + random_below(i < 150 ? 4 : 300)));
        const uint32_t len = static_cast<uint32_t>(in.size());
        for (bool encrypt : {true, false}) {
            SCOPED_TRACE(testing::Message() << (encrypt ? "encrypt" : "decrypt") << " len " << len);
            Bytes expected(len), checked(len), unchecked(len);
            ASSERT_TRUE(
                oracle.crypt(key.data(), tweak.data(), in.data(), len, expected.data(), encrypt));
            auto fn = encrypt ? sm4_xts_encrypt : sm4_xts_decrypt;
            ASSERT_EQ(fn(key.data(), tweak.data(), in.data(), len, checked.data()), 0);
            ASSERT_EQ(sm4_xts(key.data(), tweak.data(), in.data(), len, unchecked.data(), encrypt),
                      0);
            ASSERT_EQ(to_hex(checked), to_hex(expected));
            ASSERT_EQ(to_hex(unchecked), to_hex(expected));
        }
    }
}

TEST_F(Differential, MulAlphaMatchesTheOracleFormulation) {
    for (int i = 0; i < 1000; ++i) {
        Bytes ours = random_bytes(16), theirs = ours;
        xts_mul_alpha(ours.data());
        oracles::gbt17964_mul_alpha(theirs.data());
        ASSERT_EQ(to_hex(ours), to_hex(theirs));
    }
}
