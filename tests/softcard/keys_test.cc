// Key pairs derived from the seed, key import, public key export and signing. The derivation
// against an independent one: oracle_test.cc.
#include "softcard/keys.h"

#include <cstring>

#include "crypto/sm2.h"
#include "crypto/sm2_encrypt.h"
#include "tests/support/softcard_fixture.h"

namespace {

using Keys = SoftcardTest;

TEST_F(Keys, SameSeedSamePairsNewSeedNewPairs) {
    ASSERT_EQ(init_cfg(), 0u);
    DerivedKeyPairs a, b, c;
    ASSERT_EQ(get_dkp(&a), 0u);
    ASSERT_EQ(get_dkp(&b), 0u);
    EXPECT_EQ(std::memcmp(&a, &b, sizeof a), 0);
    ASSERT_EQ(init_cfg(), 0u);
    ASSERT_EQ(get_dkp(&c), 0u);
    EXPECT_NE(std::memcmp(&a, &c, sizeof a), 0);
    EXPECT_EQ(get_dkp(nullptr), 3u);
}

TEST_F(Keys, ImportedKeyIsStoredUnchanged) {
    fresh_bound_login();
    uint8_t sign_public[64], enc_public[64];
    ASSERT_EQ(QeltExportPubkeys(sign_public, enc_public), 0u);
    uint8_t key[32];
    for (int i = 0; i < 32; ++i) key[i] = static_cast<uint8_t>(0x80 ^ i);
    uint8_t wrapped[128];
    ASSERT_EQ(sm2_encrypt(enc_public, key, 32, wrapped, nullptr), 0);
    ASSERT_EQ(QeltImportKey(wrapped, 128), 0u);
    uint8_t stored[32];
    uint32_t length = 0;
    ASSERT_EQ(get_key(stored, &length), 0u);
    EXPECT_EQ(vector_of(stored), vector_of(key));
    EXPECT_EQ(status() & CARD_STATUS_KEY_STORED, CARD_STATUS_KEY_STORED);
}

TEST_F(Keys, KeyForTheSigningKeyIsRefused) {
    fresh_bound_login();
    uint8_t sign_public[64], enc_public[64];
    ASSERT_EQ(QeltExportPubkeys(sign_public, enc_public), 0u);
    uint8_t key[32] = {1, 2, 3};
    uint8_t wrapped[128];
    ASSERT_EQ(sm2_encrypt(sign_public, key, 32, wrapped, nullptr), 0);
    EXPECT_EQ(QeltImportKey(wrapped, 128), 1u);
    uint32_t length = 0;
    EXPECT_EQ(get_key(key, &length), 7u);
}

TEST_F(Keys, ImportArguments) {
    fresh_bound_login();
    uint8_t wrapped[129] = {};
    EXPECT_EQ(QeltImportKey(nullptr, 128), 3u);
    EXPECT_EQ(QeltImportKey(wrapped, 127), 3u);
    EXPECT_EQ(QeltImportKey(wrapped, 129), 3u);
}

TEST_F(Keys, SignatureVerifiesUnderTheSigningKey) {
    ASSERT_EQ(init_cfg(), 0u);
    ASSERT_EQ(login(), 15u);  // signing needs the login, not the binding
    uint8_t sign_public[64], enc_public[64];
    ASSERT_EQ(QeltExportPubkeys(sign_public, enc_public), 0u);
    const uint8_t message[] = "a message of the test";
    uint8_t signature[64];
    ASSERT_EQ(QeltSm2SignIn(message, sizeof message, signature), 0u);
    EXPECT_EQ(sm2_verify(sign_public, message, sizeof message, signature), 0);
    EXPECT_NE(sm2_verify(enc_public, message, sizeof message, signature), 0);
    EXPECT_EQ(QeltSm2SignIn(message, 0, signature), 3u);
    EXPECT_EQ(QeltSm2SignIn(nullptr, 4, signature), 3u);
    EXPECT_EQ(QeltSm2SignIn(message, 4, nullptr), 3u);
    EXPECT_EQ(QeltExportPubkeys(nullptr, enc_public), 3u);
}

}  // namespace
