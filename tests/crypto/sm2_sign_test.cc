// SM2 key pairs, user hash and signatures.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#include "crypto/ec.h"
#include "crypto/sm2.h"
#include "crypto/sm3.h"
#include "tests/crypto/bn_test_helpers.h"
#include "tests/support/vectors.h"

namespace {

using Bytes = std::vector<uint8_t>;
using sm2_test::bn_hex;
using sm2_test::Bytes32;

const testing_support::TestVector& standard_signature() {
    static const testing_support::VectorFile file =
        testing_support::load_vectors("sm2_gbt32918.txt");
    for (const auto& v : file.vectors)
        if (v.name == "signature") return v;
    throw std::runtime_error("no signature vector");
}

Bytes32 be_of(const uint8_t* limbs) {
    Bytes32 out;
    bn_from_bytes(out.data(), limbs);
    return out;
}

struct KeyPair {
    std::array<uint8_t, 32> priv{};
    std::array<uint8_t, 64> pub{};
};

KeyPair fresh_key_pair() {
    KeyPair k;
    EXPECT_EQ(sm2_make_keypair(k.priv.data(), k.pub.data()), 0);
    return k;
}

// The key pair of a private key given in limb form.
KeyPair key_pair_of(const Bytes32& priv_limbs) {
    KeyPair k;
    k.priv = be_of(priv_limbs.data());
    EXPECT_EQ(sm2_pubkey_from_private(k.priv.data(), k.pub.data()), 0);
    return k;
}

TEST(Sm2StandardVector, PublicKeyUserHashAndDigest) {
    const auto& v = standard_signature();
    const Bytes priv = v.bytes("priv"), id = v.bytes("id"), msg = v.bytes("msg");
    std::array<uint8_t, 64> pub;
    ASSERT_EQ(sm2_pubkey_from_private(priv.data(), pub.data()), 0);
    EXPECT_EQ(Bytes(pub.begin(), pub.end()), v.bytes("pub"));

    std::array<uint8_t, 32> z, e, e_default;
    sm2_compute_z(id.data(), static_cast<uint32_t>(id.size()), pub.data(), z.data());
    EXPECT_EQ(Bytes(z.begin(), z.end()), v.bytes("z"));
    sm2_msg_digest_id(id.data(), static_cast<uint32_t>(id.size()), pub.data(), msg.data(),
                      static_cast<uint32_t>(msg.size()), e.data());
    EXPECT_EQ(Bytes(e.begin(), e.end()), v.bytes("e"));
    // The standard's ID is the default one.
    sm2_msg_digest(pub.data(), msg.data(), static_cast<uint32_t>(msg.size()), e_default.data());
    EXPECT_EQ(e_default, e);

    sm3_ctx ctx;
    sm2_digest_init_z(&ctx, id.data(), static_cast<uint32_t>(id.size()), pub.data());
    sm3_update(&ctx, msg.data(), static_cast<uint32_t>(msg.size()));
    std::array<uint8_t, 32> streamed;
    sm3_final(&ctx, streamed.data());
    EXPECT_EQ(streamed, e);
}

TEST(Sm2StandardVector, SignatureVerifies) {
    const auto& v = standard_signature();
    const Bytes pub = v.bytes("pub"), msg = v.bytes("msg"), e = v.bytes("e");
    const Bytes r = v.bytes("r"), s = v.bytes("s");
    EXPECT_EQ(sm2_verify_digest(pub.data(), e.data(), r.data(), s.data()), 0);
    Bytes sig = r;
    sig.insert(sig.end(), s.begin(), s.end());
    EXPECT_EQ(sm2_verify(pub.data(), msg.data(), static_cast<uint32_t>(msg.size()), sig.data()), 0);
    sig[63] ^= 1;
    EXPECT_NE(sm2_verify(pub.data(), msg.data(), static_cast<uint32_t>(msg.size()), sig.data()), 0);
}

// Z over ENTL || ID || a || b || Gx || Gy || pub, assembled here byte by byte.
Bytes32 z_by_hand(const Bytes& id, const uint8_t* pub, uint16_t entl) {
    Bytes in = {static_cast<uint8_t>(entl >> 8), static_cast<uint8_t>(entl)};
    in.insert(in.end(), id.begin(), id.end());
    for (const uint8_t* c : {sm2_curve.a, sm2_curve.b, sm2_curve.g.x, sm2_curve.g.y}) {
        const Bytes32 be = be_of(c);
        in.insert(in.end(), be.begin(), be.end());
    }
    in.insert(in.end(), pub, pub + 64);
    Bytes32 z;
    sm3(in.data(), static_cast<uint32_t>(in.size()), z.data());
    return z;
}

TEST(Sm2UserHash, EntlIsTheBitLengthKeptTo16Bits) {
    const KeyPair k = key_pair_of(bn_hex("0123456789"));
    struct Case {
        size_t id_len;
        uint16_t entl;
    } cases[] = {{16, 0x0080}, {0, 0}, {1, 8}, {8191, 0xFFF8}, {8192, 0}, {8193, 8}};
    for (const Case& c : cases) {
        const Bytes id(c.id_len, 'A');
        Bytes32 z;
        sm2_compute_z(id.data(), static_cast<uint32_t>(id.size()), k.pub.data(), z.data());
        EXPECT_EQ(z, z_by_hand(id, k.pub.data(), c.entl)) << c.id_len;
    }
    const Bytes default_id(sm2_curve.default_id, sm2_curve.default_id + 16);
    EXPECT_EQ(default_id, Bytes({'1', '2', '3', '4', '5', '6', '7', '8', '1', '2', '3', '4', '5',
                                 '6', '7', '8'}));
}

TEST(Sm2Sign, SignatureVerifiesAndAnyChangeBreaksIt) {
    const KeyPair k = fresh_key_pair(), other = fresh_key_pair();
    const Bytes msg = {'a', 'b', 'c', 'd', 'e'};
    std::array<uint8_t, 64> sig;
    ASSERT_EQ(sm2_sign(k.priv.data(), k.pub.data(), msg.data(), 5, sig.data()), 0);
    EXPECT_EQ(sm2_verify(k.pub.data(), msg.data(), 5, sig.data()), 0);

    for (size_t i = 0; i < msg.size(); ++i) {
        Bytes changed = msg;
        changed[i] ^= 0x01;
        EXPECT_NE(sm2_verify(k.pub.data(), changed.data(), 5, sig.data()), 0) << i;
    }
    for (size_t i : {0u, 17u, 31u, 32u, 50u, 63u}) {
        auto changed = sig;
        changed[i] ^= 0x80;
        EXPECT_NE(sm2_verify(k.pub.data(), msg.data(), 5, changed.data()), 0) << i;
    }
    EXPECT_NE(sm2_verify(other.pub.data(), msg.data(), 5, sig.data()), 0);
    EXPECT_NE(sm2_verify(k.pub.data(), msg.data(), 4, sig.data()), 0);
}

TEST(Sm2Sign, EmptyMessageAndFreshNonces) {
    const KeyPair k = fresh_key_pair();
    std::array<uint8_t, 64> a, b;
    ASSERT_EQ(sm2_sign(k.priv.data(), k.pub.data(), nullptr, 0, a.data()), 0);
    ASSERT_EQ(sm2_sign(k.priv.data(), k.pub.data(), nullptr, 0, b.data()), 0);
    EXPECT_NE(a, b);
    EXPECT_EQ(sm2_verify(k.pub.data(), nullptr, 0, a.data()), 0);
    EXPECT_EQ(sm2_verify(k.pub.data(), nullptr, 0, b.data()), 0);
}

TEST(Sm2Sign, DigestOfNOrMoreSignsAndVerifies) {
    const KeyPair k = fresh_key_pair();
    const Bytes32 n_be = be_of(sm2_curve.n);
    Bytes32 all_ones;
    all_ones.fill(0xFF);
    for (const Bytes32& e : {n_be, all_ones}) {
        std::array<uint8_t, 32> r, s;
        ASSERT_EQ(sm2_sign_digest(r.data(), s.data(), k.priv.data(), e.data()), 0);
        EXPECT_EQ(sm2_verify_digest(k.pub.data(), e.data(), r.data(), s.data()), 0);
    }
}

// Private keys whose public key is +-G: the joint scan of verification adds G to itself.
TEST(Sm2Sign, KeyOneSignsAndKeyNMinusOneCannot) {
    const KeyPair one = key_pair_of(bn_hex("01"));
    const Bytes32 gx = be_of(sm2_curve.g.x);
    EXPECT_TRUE(std::equal(gx.begin(), gx.end(), one.pub.begin()));
    std::array<uint8_t, 64> sig;
    const uint8_t msg[] = "x";
    ASSERT_EQ(sm2_sign(one.priv.data(), one.pub.data(), msg, 1, sig.data()), 0);
    EXPECT_EQ(sm2_verify(one.pub.data(), msg, 1, sig.data()), 0);

    Bytes32 n_minus_1;
    bn256 one_limb = {1};
    bn_sub(n_minus_1.data(), sm2_curve.n, one_limb);
    const KeyPair last = key_pair_of(n_minus_1);
    // 1 + d = 0 (mod n) makes s = 0, which is refused.
    std::array<uint8_t, 32> r, s;
    s.fill(0xAA);
    const Bytes32 e{};
    EXPECT_EQ(sm2_sign_digest(r.data(), s.data(), last.priv.data(), e.data()), -1);
    EXPECT_EQ(r, Bytes32{});
    for (uint8_t b : s) EXPECT_EQ(b, 0xAA);
}

TEST(Sm2Verify, MalformedSignaturesAreRefused) {
    const KeyPair k = fresh_key_pair();
    const Bytes32 e = bn_hex("1234");
    std::array<uint8_t, 32> r, s;
    ASSERT_EQ(sm2_sign_digest(r.data(), s.data(), k.priv.data(), e.data()), 0);

    const Bytes32 n = be_of(sm2_curve.n);
    Bytes32 n_minus_r_limbs, r_limbs, n_minus_r;
    bn_from_bytes(r_limbs.data(), r.data());
    bn_sub(n_minus_r_limbs.data(), sm2_curve.n, r_limbs.data());
    bn_from_bytes(n_minus_r.data(), n_minus_r_limbs.data());
    const Bytes32 zero{};
    struct Case {
        const char* what;
        Bytes32 r, s;
    } cases[] = {
        {"all zero", zero, zero},
        {"r = 0", zero, s},
        {"s = 0", r, zero},
        {"s = n", r, n},
        {"r = n", n, s},
        {"s = n - r (t = 0)", r, n_minus_r},
        {"s > n", r,
         [] {
             Bytes32 x;
             x.fill(0xFF);
             return x;
         }()},
    };
    for (const Case& c : cases)
        EXPECT_EQ(sm2_verify_digest(k.pub.data(), e.data(), c.r.data(), c.s.data()), -1) << c.what;
}

TEST(Sm2KeyPair, DrawnKeyIsInRangeAndConsistent) {
    for (int i = 0; i < 3; ++i) {
        const KeyPair k = fresh_key_pair();
        Bytes32 d;
        bn_from_bytes(d.data(), k.priv.data());
        EXPECT_FALSE(bn_is_zero(d.data()));
        EXPECT_LT(bn_cmp(d.data(), sm2_curve.n), 0);
        ec_point p;
        bn_from_bytes(p.x, k.pub.data());
        bn_from_bytes(p.y, k.pub.data() + 32);
        EXPECT_EQ(sm2_point_check(&p), 0);
        std::array<uint8_t, 64> again;
        EXPECT_EQ(sm2_pubkey_from_private(k.priv.data(), again.data()), 0);
        EXPECT_EQ(again, k.pub);
        std::array<uint8_t, 64> by_point_mul;
        Bytes g(64);
        bn_from_bytes(g.data(), sm2_curve.g.x);
        bn_from_bytes(g.data() + 32, sm2_curve.g.y);
        EXPECT_EQ(sm2_point_mul_bytes(g.data(), k.priv.data(), by_point_mul.data()), 0);
        EXPECT_EQ(by_point_mul, k.pub);
    }
    std::array<uint8_t, 32> priv;
    EXPECT_EQ(sm2_gen_private_key(priv.data()), 0);
}

TEST(Sm2PointCheck, AcceptsGAndRejectsOthers) {
    EXPECT_EQ(sm2_point_check(&sm2_curve.g), 0);
    ec_point p = sm2_curve.g;
    bn256 one = {1};
    bn_add(p.y, p.y, one);
    EXPECT_EQ(sm2_point_check(&p), 1) << "y + 1";
    ec_point zero{};
    EXPECT_EQ(sm2_point_check(&zero), 1) << "(0, 0)";
    p = sm2_curve.g;
    bn_copy(p.x, sm2_curve.p);
    EXPECT_EQ(sm2_point_check(&p), 1) << "x = p";
    p = sm2_curve.g;
    bn_copy(p.y, sm2_curve.p);
    EXPECT_EQ(sm2_point_check(&p), 1) << "y = p";
    // x + p with the same residue is still refused: coordinates must be below p.
    p = sm2_curve.g;
    bn_add(p.y, p.y, sm2_curve.p);
    EXPECT_EQ(sm2_point_check(&p), 1) << "y + p";
    EXPECT_EQ(sm2_point_check(nullptr), 1);
}

TEST(Sm2Arguments, NullPointersAreRefusedAndNothingIsWritten) {
    const KeyPair k = fresh_key_pair();
    std::array<uint8_t, 64> sig;
    sig.fill(0x5A);
    const auto untouched = sig;
    const uint8_t msg[4] = {1, 2, 3, 4};
    EXPECT_EQ(sm2_sign(nullptr, k.pub.data(), msg, 4, sig.data()), -1);
    EXPECT_EQ(sm2_sign(k.priv.data(), nullptr, msg, 4, sig.data()), -1);
    EXPECT_EQ(sm2_sign(k.priv.data(), k.pub.data(), nullptr, 4, sig.data()), -1);
    EXPECT_EQ(sm2_sign(k.priv.data(), k.pub.data(), msg, 4, nullptr), -1);
    EXPECT_EQ(sig, untouched);
    EXPECT_NE(sm2_verify(nullptr, msg, 4, sig.data()), 0);
    EXPECT_NE(sm2_verify(k.pub.data(), nullptr, 4, sig.data()), 0);
    EXPECT_NE(sm2_verify(k.pub.data(), msg, 4, nullptr), 0);
    EXPECT_EQ(sm2_make_keypair(nullptr, sig.data()), -1);
    EXPECT_EQ(sm2_make_keypair(sig.data(), nullptr), -1);
    EXPECT_EQ(sig, untouched);
    EXPECT_EQ(sm2_sign_digest(nullptr, sig.data(), k.priv.data(), msg), -1);
    EXPECT_EQ(sm2_verify_digest(k.pub.data(), nullptr, sig.data(), sig.data() + 32), -1);
    EXPECT_EQ(sm2_gen_private_key(nullptr), -1);
    EXPECT_EQ(sm2_pubkey_from_private(nullptr, sig.data()), -1);
    EXPECT_EQ(sig, untouched);
}

TEST(Sm2Verify, PublicKeyOffTheCurveOnlyFailsTheComparison) {
    const KeyPair k = fresh_key_pair();
    const uint8_t msg[] = "m";
    std::array<uint8_t, 64> sig;
    ASSERT_EQ(sm2_sign(k.priv.data(), k.pub.data(), msg, 1, sig.data()), 0);
    std::array<uint8_t, 64> bad = k.pub;
    bad[63] ^= 1;
    EXPECT_NE(sm2_verify(bad.data(), msg, 1, sig.data()), 0);
    bad.fill(0);
    EXPECT_NE(sm2_verify(bad.data(), msg, 1, sig.data()), 0);
}

}  // namespace
