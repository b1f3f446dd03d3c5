// Without random bytes there is no key and no nonce: every SM2 routine that draws one fails
// with -1 and leaves its outputs as they were. With chosen bytes, a private key is drawn at most
// eleven times.
#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <vector>

#include "crypto/sm2.h"
#include "crypto/sm2_encrypt.h"
#include "crypto/sm2_kx.h"
#include "platform/testing/random_controls.h"

namespace {

class Sm2WithoutRandom : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(sm2_make_keypair(priv.data(), pub.data()), 0);
        sim::random_fail_generation(true);
    }
    void TearDown() override { sim::random_fail_generation(false); }

    std::array<uint8_t, 32> priv{};
    std::array<uint8_t, 64> pub{};
};

TEST_F(Sm2WithoutRandom, EveryDrawFailsAndWritesNothing) {
    std::vector<uint8_t> out(256, 0xEE);
    uint32_t out_len = 7;
    const uint8_t msg[32] = {1, 2, 3};
    const uint8_t digest[32] = {4, 5, 6};
    struct Case {
        const char* what;
        std::function<int32_t()> call;
    } cases[] = {
        {"sm2_gen_private_key", [&] { return sm2_gen_private_key(out.data()); }},
        {"sm2_make_keypair", [&] { return sm2_make_keypair(out.data(), out.data() + 32); }},
        {"sm2_sign_digest",
         [&] { return sm2_sign_digest(out.data(), out.data() + 32, priv.data(), digest); }},
        {"sm2_sign", [&] { return sm2_sign(priv.data(), pub.data(), msg, 32, out.data()); }},
        {"sm2_encrypt", [&] { return sm2_encrypt(pub.data(), msg, 32, out.data(), &out_len); }},
        {"sm2_kx_make_ephemeral",
         [&] { return sm2_kx_make_ephemeral(out.data(), out.data() + 32); }},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.call(), -1) << c.what;
        EXPECT_EQ(out, std::vector<uint8_t>(256, 0xEE)) << c.what;
        EXPECT_EQ(out_len, 7u) << c.what;
    }
}

TEST_F(Sm2WithoutRandom, ResponderFailsWithoutItsEphemeralKey) {
    std::array<uint8_t, 32> za{}, zb{}, rb{};
    std::array<uint8_t, 64> big_rb{}, v{};
    std::array<uint8_t, 16> k;
    k.fill(0xEE);
    sim::random_fail_generation(false);
    std::array<uint8_t, 32> ra;
    std::array<uint8_t, 64> big_ra;
    ASSERT_EQ(sm2_kx_make_ephemeral(ra.data(), big_ra.data()), 0);
    sim::random_fail_generation(true);
    EXPECT_EQ(sm2_kx_responder(rb.data(), priv.data(), big_ra.data(), pub.data(), za.data(),
                               zb.data(), k.data(), 16, big_rb.data(), v.data(), nullptr),
              -1);
    for (uint8_t b : k) EXPECT_EQ(b, 0xEE);
}

TEST_F(Sm2WithoutRandom, VerificationAndDecryptionNeedNoRandomBytes) {
    sim::random_fail_generation(false);
    const uint8_t msg[5] = {'h', 'e', 'l', 'l', 'o'};
    std::array<uint8_t, 64> sig;
    std::array<uint8_t, 101> ct;
    ASSERT_EQ(sm2_sign(priv.data(), pub.data(), msg, 5, sig.data()), 0);
    ASSERT_EQ(sm2_encrypt(pub.data(), msg, 5, ct.data(), nullptr), 0);
    sim::random_fail_generation(true);
    EXPECT_EQ(sm2_verify(pub.data(), msg, 5, sig.data()), 0);
    std::array<uint8_t, 5> plain;
    uint32_t len = 0;
    EXPECT_EQ(sm2_decrypt(priv.data(), ct.data(), 101, plain.data(), &len), 0);
    EXPECT_EQ(len, 5u);
}

// A draw is taken as a bn256 as it comes: the 32 bytes in memory order, least significant first.
// The curve order n reduces to 0 and is drawn again, like 0.
const std::vector<uint8_t> kOrderDrawn = {
    0x23, 0x41, 0xD5, 0x39, 0x09, 0xF4, 0xBB, 0x53, 0x2B, 0x05, 0xC6, 0x21, 0x6B, 0xDF, 0x03, 0x72,
    0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFE, 0xFF, 0xFF, 0xFF};

class PrivateKeyDraws : public ::testing::Test {
  protected:
    void TearDown() override { sim::random_clear_queue(); }

    // `unusable` draws alternating 0 and n, then the key 1.
    static void queue_draws(int unusable) {
        for (int i = 0; i < unusable; ++i)
            sim::random_queue_bytes(i % 2 ? kOrderDrawn : std::vector<uint8_t>(32, 0));
        std::vector<uint8_t> one(32, 0);
        one[0] = 1;
        sim::random_queue_bytes(one);
    }
};

TEST_F(PrivateKeyDraws, TheEleventhDrawIsTaken) {
    queue_draws(10);
    std::vector<uint8_t> priv(32, 0xEE);
    ASSERT_EQ(sm2_gen_private_key(priv.data()), 0);
    std::vector<uint8_t> one(32, 0);
    one[31] = 1;
    EXPECT_EQ(priv, one);
    EXPECT_EQ(sim::random_queued_bytes(), 0u);
}

TEST_F(PrivateKeyDraws, ElevenUnusableDrawsFail) {
    queue_draws(11);
    std::vector<uint8_t> priv(32, 0xEE);
    EXPECT_EQ(sm2_gen_private_key(priv.data()), -1);
    EXPECT_EQ(priv, std::vector<uint8_t>(32, 0xEE));
    EXPECT_EQ(sim::random_queued_bytes(), 32u);  // the twelfth draw was never made
}

}  // namespace
