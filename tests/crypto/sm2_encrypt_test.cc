// SM2 public-key encryption and the SM3 KDF.
#include "crypto/sm2_encrypt.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#include "crypto/sm2.h"
#include "crypto/sm3.h"
#include "tests/support/vectors.h"

namespace {

using Bytes = std::vector<uint8_t>;

const testing_support::TestVector& standard_encryption() {
    static const testing_support::VectorFile file =
        testing_support::load_vectors("sm2_gbt32918.txt");
    for (const auto& v : file.vectors)
        if (v.name == "encryption") return v;
    throw std::runtime_error("no encryption vector");
}

Bytes sm3_of(const Bytes& data) {
    Bytes out(32);
    sm3(data.data(), static_cast<uint32_t>(data.size()), out.data());
    return out;
}

Bytes concat(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

Bytes slice(const Bytes& v, size_t from, size_t len) {
    return Bytes(v.begin() + from, v.begin() + from + len);
}

Bytes base_point_bytes() {
    Bytes g(64);
    bn_from_bytes(g.data(), sm2_curve.g.x);
    bn_from_bytes(g.data() + 32, sm2_curve.g.y);
    return g;
}

struct Recipient {
    std::array<uint8_t, 32> priv{};
    std::array<uint8_t, 64> pub{};
    Recipient() { EXPECT_EQ(sm2_make_keypair(priv.data(), pub.data()), 0); }
};

Bytes encrypt(const Recipient& to, const Bytes& msg) {
    Bytes out(msg.size() + 96);
    uint32_t out_len = 0;
    EXPECT_EQ(sm2_encrypt(to.pub.data(), msg.data(), static_cast<uint32_t>(msg.size()), out.data(),
                          &out_len),
              0);
    EXPECT_EQ(out_len, msg.size() + 96);
    return out;
}

// Decrypts into a buffer of exactly the plaintext size; returns the result code.
int32_t decrypt(const uint8_t* priv, const Bytes& ct, Bytes* plain, uint32_t* len) {
    plain->assign(ct.size() >= 96 ? ct.size() - 96 : 0, 0xEE);
    return sm2_decrypt(priv, ct.data(), static_cast<uint32_t>(ct.size()), plain->data(), len);
}

TEST(Sm2Kdf, BlocksAreSm3OfZAndTheCounter) {
    const Bytes z = {'z', 'z', 'z'};
    const Bytes block1 = sm3_of(concat(z, {0, 0, 0, 1}));
    const Bytes block2 = sm3_of(concat(z, {0, 0, 0, 2}));
    const Bytes block3 = sm3_of(concat(z, {0, 0, 0, 3}));
    struct Case {
        uint32_t klen;
        Bytes expected;
    } cases[] = {
        {0, {}},
        {1, slice(block1, 0, 1)},
        {32, block1},
        {33, concat(block1, slice(block2, 0, 1))},
        {64, concat(block1, block2)},
        {70, concat(concat(block1, block2), slice(block3, 0, 6))},
    };
    for (const Case& c : cases) {
        Bytes out(c.klen + 4, 0xC5);  // a canary after the key stream
        sm2_kdf(z.data(), static_cast<uint32_t>(z.size()), out.data(), c.klen);
        EXPECT_EQ(slice(out, 0, c.klen), c.expected) << c.klen;
        EXPECT_EQ(slice(out, c.klen, 4), Bytes(4, 0xC5)) << c.klen;
    }
}

TEST(Sm2StandardVector, CiphertextDecrypts) {
    const auto& v = standard_encryption();
    const Bytes priv = v.bytes("priv"), ct = v.bytes("ciphertext");
    Bytes plain;
    uint32_t len = 0;
    ASSERT_EQ(decrypt(priv.data(), ct, &plain, &len), 0);
    EXPECT_EQ(len, v.bytes("msg").size());
    EXPECT_EQ(plain, v.bytes("msg"));
}

// The standard's ciphertext rebuilt from its nonce: C1 = [k]G, C3 = SM3(x2 || M || y2),
// C2 = M xor KDF(x2 || y2), with (x2, y2) = [k]P.
TEST(Sm2StandardVector, CiphertextLayoutFromTheNonce) {
    const auto& v = standard_encryption();
    const Bytes priv = v.bytes("priv"), k = v.bytes("k"), msg = v.bytes("msg");
    const Bytes ct = v.bytes("ciphertext");
    std::array<uint8_t, 64> pub;
    ASSERT_EQ(sm2_pubkey_from_private(priv.data(), pub.data()), 0);
    Bytes c1(64), x2y2(64);
    sm2_point_mul_bytes(base_point_bytes().data(), k.data(), c1.data());
    sm2_point_mul_bytes(pub.data(), k.data(), x2y2.data());
    EXPECT_EQ(slice(ct, 0, 64), c1);
    EXPECT_EQ(slice(ct, 64, 32),
              sm3_of(concat(concat(slice(x2y2, 0, 32), msg), slice(x2y2, 32, 32))));
    Bytes t(msg.size());
    sm2_kdf(x2y2.data(), 64, t.data(), static_cast<uint32_t>(t.size()));
    for (size_t i = 0; i < msg.size(); ++i) EXPECT_EQ(ct[96 + i], msg[i] ^ t[i]);
}

TEST(Sm2Encrypt, RoundTripsForSeveralLengths) {
    const Recipient r;
    for (size_t len : {0u, 1u, 31u, 32u, 33u, 200u}) {
        Bytes msg(len);
        for (size_t i = 0; i < len; ++i) msg[i] = static_cast<uint8_t>(i * 37 + 1);
        const Bytes ct = encrypt(r, msg);
        ASSERT_EQ(ct.size(), len + 96);
        Bytes plain;
        uint32_t out_len = 12345;
        ASSERT_EQ(decrypt(r.priv.data(), ct, &plain, &out_len), 0) << len;
        EXPECT_EQ(out_len, len);
        EXPECT_EQ(plain, msg);
    }
}

TEST(Sm2Encrypt, EmptyMessageGivesC1AndTheHashOfTheSharedPoint) {
    const Recipient r;
    const Bytes ct = encrypt(r, {});
    ASSERT_EQ(ct.size(), 96u);
    Bytes x2y2(64);
    sm2_point_mul_bytes(ct.data(), r.priv.data(), x2y2.data());
    EXPECT_EQ(slice(ct, 64, 32), sm3_of(x2y2));
    uint32_t out_len = 99;
    EXPECT_EQ(sm2_decrypt(r.priv.data(), ct.data(), 96, nullptr, &out_len), 0);
    EXPECT_EQ(out_len, 0u);
}

TEST(Sm2Encrypt, TwoEncryptionsDifferAndBothDecrypt) {
    const Recipient r;
    const Bytes msg(32, 0x42);
    const Bytes a = encrypt(r, msg), b = encrypt(r, msg);
    EXPECT_NE(a, b);
    for (const Bytes& ct : {a, b}) {
        Bytes plain;
        uint32_t len = 0;
        EXPECT_EQ(decrypt(r.priv.data(), ct, &plain, &len), 0);
        EXPECT_EQ(plain, msg);
    }
}

TEST(Sm2Encrypt, NoLengthPointerGivesTheSameLayout) {
    const Recipient r;
    const Bytes msg(32, 0x17);
    Bytes ct(128);
    ASSERT_EQ(sm2_encrypt(r.pub.data(), msg.data(), 32, ct.data(), nullptr), 0);
    Bytes plain;
    uint32_t len = 0;
    ASSERT_EQ(decrypt(r.priv.data(), ct, &plain, &len), 0);
    EXPECT_EQ(plain, msg);
}

TEST(Sm2Encrypt, InvalidPublicKeysAreRefusedBeforeAnythingIsWritten) {
    const Recipient r;
    std::array<uint8_t, 64> off_curve = r.pub;
    off_curve[63] ^= 1;
    std::array<uint8_t, 64> zero{};
    std::array<uint8_t, 64> x_is_p{};
    bn_from_bytes(x_is_p.data(), sm2_curve.p);
    const Bytes msg(32, 1);
    for (const auto* pub : {&off_curve, &zero, &x_is_p}) {
        Bytes out(128, 0xEE);
        uint32_t out_len = 7;
        EXPECT_EQ(sm2_encrypt(pub->data(), msg.data(), 32, out.data(), &out_len), -1);
        EXPECT_EQ(out, Bytes(128, 0xEE));
        EXPECT_EQ(out_len, 7u);
    }
}

TEST(Sm2Encrypt, BadArgumentsAreRefused) {
    const Recipient r;
    uint8_t out[128];
    std::memset(out, 0xA5, sizeof out);
    const uint8_t msg[32] = {};
    uint32_t out_len = 7;
    EXPECT_EQ(sm2_encrypt(nullptr, msg, 32, out, &out_len), -1);
    EXPECT_EQ(sm2_encrypt(r.pub.data(), nullptr, 32, out, &out_len), -1);
    EXPECT_EQ(sm2_encrypt(r.pub.data(), msg, 32, nullptr, &out_len), -1);
    // A length whose ciphertext size does not fit 32 bits.
    EXPECT_EQ(sm2_encrypt(r.pub.data(), msg, UINT32_MAX - 95, out, &out_len), -1);
    EXPECT_EQ(out_len, 7u);
    for (uint8_t b : out) EXPECT_EQ(b, 0xA5);
}

TEST(Sm2Decrypt, ShortInputIsRefusedAndNothingIsWritten) {
    const Recipient r;
    const Bytes ct(96, 0x01);
    for (uint32_t inlen : {0u, 1u, 95u}) {
        Bytes out(96, 0xEE);
        uint32_t out_len = 7;
        EXPECT_EQ(sm2_decrypt(r.priv.data(), ct.data(), inlen, out.data(), &out_len), -1) << inlen;
        EXPECT_EQ(out, Bytes(96, 0xEE));
        EXPECT_EQ(out_len, 7u);
    }
}

TEST(Sm2Decrypt, NullArgumentsAreRefused) {
    const Recipient r;
    const Bytes ct = encrypt(r, Bytes(8, 3));
    uint8_t out[8];
    uint32_t out_len = 7;
    EXPECT_EQ(sm2_decrypt(r.priv.data(), ct.data(), 104, out, nullptr), -1);
    EXPECT_EQ(sm2_decrypt(nullptr, ct.data(), 104, out, &out_len), -1);
    EXPECT_EQ(sm2_decrypt(r.priv.data(), nullptr, 104, out, &out_len), -1);
    EXPECT_EQ(sm2_decrypt(r.priv.data(), ct.data(), 104, nullptr, &out_len), -1);
    EXPECT_EQ(out_len, 7u);
}

// Any changed bit fails: in C1 through the point check or the hash, in C3 and C2 through the
// hash. The output then holds no plaintext.
TEST(Sm2Decrypt, EveryTamperedByteIsDetected) {
    const Recipient r;
    const Bytes msg(32, 0x5C);
    const Bytes ct = encrypt(r, msg);
    for (size_t i = 0; i < ct.size(); ++i) {
        Bytes changed = ct;
        changed[i] ^= static_cast<uint8_t>(1u << (i % 8));
        Bytes plain;
        uint32_t len = 0;
        ASSERT_EQ(decrypt(r.priv.data(), changed, &plain, &len), -1) << "byte " << i;
        EXPECT_EQ(std::count(plain.begin(), plain.end(), 0x5C), 0) << "byte " << i;
    }
}

TEST(Sm2Decrypt, WrongKeyFailsTheHashAndLeavesNoPlaintext) {
    const Recipient r, other;
    const Bytes msg(32, 0x5C);
    const Bytes ct = encrypt(r, msg);
    Bytes plain;
    uint32_t len = 0;
    EXPECT_EQ(decrypt(other.priv.data(), ct, &plain, &len), -1);
    EXPECT_EQ(len, 32u);  // the length is reported before the comparison
    EXPECT_EQ(plain, Bytes(32, 0));
}

}  // namespace
