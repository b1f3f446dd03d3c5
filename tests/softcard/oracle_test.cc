// The software card's keys against OpenSSL, an independent implementation of SM3 and the SM2
// curve: the derived key pairs and the built-in administrator key (Linux only: OpenSSL is not
// part of the Windows build).
#include <openssl/bn.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/obj_mac.h>

#include <cstring>

#include "softcard/admin_key.h"
#include "softcard/keys.h"
#include "tests/support/admin_signer.h"
#include "tests/support/softcard_fixture.h"

namespace {

using Keys = SoftcardTest;

const uint8_t kSignLabel[8] = {0x73, 0xc0, 0x9e, 0x2b, 0x5a, 0x41, 0xf8, 0x6d};
const uint8_t kEncLabel[8] = {0xb8, 0x1d, 0x46, 0xe0, 0xc3, 0x92, 0x7a, 0x5f};

// The oracle: SM3-KDF of seed || label to 32 bytes is SM3(seed || label || 00000001).
std::vector<uint8_t> oracle_kdf(const uint8_t* seed, const uint8_t* label) {
    std::vector<uint8_t> input(seed, seed + 16);
    input.insert(input.end(), label, label + 8);
    input.insert(input.end(), {0, 0, 0, 1});
    std::vector<uint8_t> digest(32);
    unsigned int size = 0;
    EVP_Digest(input.data(), input.size(), digest.data(), &size, EVP_sm3(), nullptr);
    return digest;
}

// The private key: the KDF's output, with a first byte 0xFF made 0xFE.
std::vector<uint8_t> oracle_private_key(const uint8_t* seed, const uint8_t* label) {
    std::vector<uint8_t> key = oracle_kdf(seed, label);
    if (key[0] == 0xFF) key[0] = 0xFE;
    return key;
}

// The oracle's public key of priv on the SM2 curve, x || y.
std::vector<uint8_t> oracle_public_key(const uint8_t* priv) {
    EC_GROUP* group = EC_GROUP_new_by_curve_name(NID_sm2);
    BIGNUM* d = BN_bin2bn(priv, 32, nullptr);
    EC_POINT* point = EC_POINT_new(group);
    EC_POINT_mul(group, point, d, nullptr, nullptr, nullptr);
    std::vector<uint8_t> encoded(65);
    EC_POINT_point2oct(group, point, POINT_CONVERSION_UNCOMPRESSED, encoded.data(), encoded.size(),
                       nullptr);
    EC_POINT_free(point);
    BN_free(d);
    EC_GROUP_free(group);
    return std::vector<uint8_t>(encoded.begin() + 1, encoded.end());
}

TEST_F(Keys, PairsMatchAnIndependentDerivation) {
    ASSERT_EQ(init_cfg(), 0u);
    const CardRecord r = record();
    DerivedKeyPairs pairs;
    ASSERT_EQ(get_dkp(&pairs), 0u);
    EXPECT_EQ(vector_of(pairs.sign_private), oracle_private_key(r.seed, kSignLabel));
    EXPECT_EQ(vector_of(pairs.enc_private), oracle_private_key(r.seed, kEncLabel));
    EXPECT_EQ(vector_of(pairs.sign_public), oracle_public_key(pairs.sign_private));
    EXPECT_EQ(vector_of(pairs.enc_public), oracle_public_key(pairs.enc_private));
}

// A seed whose signing key would begin with 0xFF gets 0xFE in its place.
TEST_F(Keys, DerivedKeyNeverBeginsWithFF) {
    ASSERT_EQ(init_cfg(), 0u);
    CardRecord r = record();
    for (uint32_t n = 0;; ++n) {
        std::memcpy(r.seed, &n, sizeof n);
        if (oracle_kdf(r.seed, kSignLabel)[0] == 0xFF) break;
        ASSERT_LT(n, 100000u);
    }
    set_record(r);
    DerivedKeyPairs pairs;
    ASSERT_EQ(get_dkp(&pairs), 0u);
    EXPECT_EQ(pairs.sign_private[0], 0xFE);
    EXPECT_EQ(vector_of(pairs.sign_private), oracle_private_key(r.seed, kSignLabel));
    EXPECT_EQ(vector_of(pairs.sign_public), oracle_public_key(pairs.sign_private));
}

TEST(AdminKey, BuiltInKeyIsThePublicKeyOfTheAdministratorsPrivateKey) {
    EXPECT_EQ(oracle_public_key(kAdminPrivateKey), vector_of(kAdminPublicKey));
}

}  // namespace
