// SM2 key exchange.
#include "crypto/sm2_kx.h"

#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "crypto/sm2.h"
#include "tests/crypto/bn_test_helpers.h"
#include "tests/support/vectors.h"

namespace {

using Bytes = std::vector<uint8_t>;
using sm2_test::bn_hex;
using sm2_test::bn_to_hex;

const testing_support::TestVector& reference_exchange() {
    static const testing_support::VectorFile file = testing_support::load_vectors("sm2_kx.txt");
    return file.vectors.at(0);
}

const Bytes kIdA = {'1', '2', '3', '4', '5', '6', '7', '8', '1', '2', '3', '4', '5', '6', '7', '8'};
const Bytes kIdB = {'b', 'o', 'b', '@', 'h', 'o', 's', 't'};

struct Party {
    std::array<uint8_t, 32> d{}, r{};
    std::array<uint8_t, 64> p{}, big_r{};
    std::array<uint8_t, 32> z{};

    explicit Party(const Bytes& id) {
        EXPECT_EQ(sm2_make_keypair(d.data(), p.data()), 0);
        EXPECT_EQ(sm2_kx_make_ephemeral(r.data(), big_r.data()), 0);
        sm2_compute_z(id.data(), static_cast<uint32_t>(id.size()), p.data(), z.data());
    }
};

TEST(Sm2KxXBar, KeepsTheLow127BitsAndSetsBit127) {
    struct Case {
        std::string x, expected;
    } cases[] = {
        {"00", "80000000000000000000000000000000"},
        {std::string(64, 'f'), std::string(32, 'f')},
        {"ffffffffffffffffffffffffffffffff00000000000000000000000000000001",
         "80000000000000000000000000000001"},
        {"7fffffffffffffffffffffffffffffff", std::string(32, 'f')},
    };
    for (const Case& c : cases) {
        auto x = bn_hex(c.x);
        bn256 out;
        sm2_kx_x_bar(out, x.data());
        EXPECT_EQ(bn_to_hex(out), std::string(32, '0') + c.expected) << c.x;
        sm2_kx_x_bar(x.data(), x.data());  // in place
        EXPECT_EQ(bn_to_hex(x.data()), std::string(32, '0') + c.expected) << c.x;
    }
}

TEST(Sm2KxReference, SharedPointKeyAndConfirmations) {
    const auto& v = reference_exchange();
    const Bytes da = v.bytes("da"), ra = v.bytes("ra"), big_ra = v.bytes("big_ra");
    const Bytes db = v.bytes("db"), big_rb = v.bytes("big_rb"), pa = v.bytes("pa");
    const Bytes pb = v.bytes("pb"), za = v.bytes("za"), zb = v.bytes("zb");
    const Bytes rb = v.bytes("rb");

    Bytes u(64), w(64);
    ASSERT_EQ(sm2_kx_shared_point(da.data(), ra.data(), big_ra.data(), pb.data(), big_rb.data(),
                                  u.data()),
              0);
    EXPECT_EQ(u, v.bytes("u"));
    ASSERT_EQ(sm2_kx_shared_point(db.data(), rb.data(), big_rb.data(), pa.data(), big_ra.data(),
                                  w.data()),
              0);
    EXPECT_EQ(w, u);

    Bytes k(16), sa(32);
    ASSERT_EQ(sm2_kx_initiator(ra.data(), da.data(), big_ra.data(), big_rb.data(), pb.data(),
                               za.data(), zb.data(), v.bytes("sb").data(), k.data(), 16, sa.data()),
              0);
    EXPECT_EQ(k, v.bytes("k"));
    EXPECT_EQ(sa, v.bytes("sa"));
    EXPECT_EQ(sm2_kx_responder_check(u.data(), big_ra.data(), big_rb.data(), za.data(), zb.data(),
                                     sa.data()),
              0);
    Bytes derived(16);
    EXPECT_EQ(sm2_kx_derive_key(u.data(), za.data(), zb.data(), 16, derived.data()), 0);
    EXPECT_EQ(derived, k);

    // Both sides without confirmation, each from its own IDs (the default one here).
    const Bytes id(sm2_curve.default_id, sm2_curve.default_id + 16);
    Bytes ka(16), kb(16);
    EXPECT_EQ(sm2_kx_compute_key(1, da.data(), pa.data(), ra.data(), big_ra.data(), id.data(), 16,
                                 id.data(), 16, pb.data(), big_rb.data(), 16, ka.data()),
              0);
    EXPECT_EQ(sm2_kx_compute_key(0, db.data(), pb.data(), rb.data(), big_rb.data(), id.data(), 16,
                                 id.data(), 16, pa.data(), big_ra.data(), 16, kb.data()),
              0);
    EXPECT_EQ(ka, k);
    EXPECT_EQ(kb, k);
}

TEST(Sm2Kx, ConfirmedExchangeAgreesForAnyKeyLength) {
    for (uint32_t klen : {1u, 16u, 32u, 33u, 100u}) {
        Party a(kIdA), b(kIdB);
        Bytes kb(klen), ka(klen), v(64), sb(32), sa(32);
        std::array<uint8_t, 32> rb;
        std::array<uint8_t, 64> big_rb;
        ASSERT_EQ(sm2_kx_responder(rb.data(), b.d.data(), a.big_r.data(), a.p.data(), a.z.data(),
                                   b.z.data(), kb.data(), klen, big_rb.data(), v.data(), sb.data()),
                  0);
        ASSERT_EQ(
            sm2_kx_initiator(a.r.data(), a.d.data(), a.big_r.data(), big_rb.data(), b.p.data(),
                             a.z.data(), b.z.data(), sb.data(), ka.data(), klen, sa.data()),
            0);
        EXPECT_EQ(ka, kb) << klen;
        EXPECT_EQ(sm2_kx_responder_check(v.data(), a.big_r.data(), big_rb.data(), a.z.data(),
                                         b.z.data(), sa.data()),
                  0);

        // The same key without confirmation, each side from its own and the peer's ID.
        Bytes ca(klen), cb(klen);
        EXPECT_EQ(
            sm2_kx_compute_key(1, a.d.data(), a.p.data(), a.r.data(), a.big_r.data(), kIdA.data(),
                               16, kIdB.data(), 8, b.p.data(), big_rb.data(), klen, ca.data()),
            0);
        EXPECT_EQ(
            sm2_kx_compute_key(0, b.d.data(), b.p.data(), rb.data(), big_rb.data(), kIdB.data(), 8,
                               kIdA.data(), 16, a.p.data(), a.big_r.data(), klen, cb.data()),
            0);
        EXPECT_EQ(ca, ka);
        EXPECT_EQ(cb, ka);
    }
}

TEST(Sm2Kx, WrongConfirmationsAreRejected) {
    Party a(kIdA), b(kIdB);
    Bytes kb(16), ka(16), v(64), sb(32), sa(32, 0x77);
    std::array<uint8_t, 32> rb;
    std::array<uint8_t, 64> big_rb;
    ASSERT_EQ(sm2_kx_responder(rb.data(), b.d.data(), a.big_r.data(), a.p.data(), a.z.data(),
                               b.z.data(), kb.data(), 16, big_rb.data(), v.data(), sb.data()),
              0);
    Bytes bad_sb = sb;
    bad_sb[5] ^= 1;
    EXPECT_EQ(sm2_kx_initiator(a.r.data(), a.d.data(), a.big_r.data(), big_rb.data(), b.p.data(),
                               a.z.data(), b.z.data(), bad_sb.data(), ka.data(), 16, sa.data()),
              -1);
    EXPECT_EQ(sa, Bytes(32, 0x77));  // no SA after a failed check
    ASSERT_EQ(sm2_kx_initiator(a.r.data(), a.d.data(), a.big_r.data(), big_rb.data(), b.p.data(),
                               a.z.data(), b.z.data(), sb.data(), ka.data(), 16, sa.data()),
              0);
    sa[31] ^= 0x80;
    EXPECT_EQ(sm2_kx_responder_check(v.data(), a.big_r.data(), big_rb.data(), a.z.data(),
                                     b.z.data(), sa.data()),
              -1);
    // Confirmation values differ by their tag.
    EXPECT_NE(sa, sb);
}

TEST(Sm2Kx, InvalidPeerEphemeralPointIsRejected) {
    Party a(kIdA), b(kIdB);
    std::array<uint8_t, 64> off_curve = b.big_r, zero{};
    off_curve[40] ^= 4;
    for (const auto* bad : {&off_curve, &zero}) {
        Bytes u(64, 0xEE), k(16, 0xEE), v(64, 0xEE);
        EXPECT_EQ(sm2_kx_shared_point(a.d.data(), a.r.data(), a.big_r.data(), b.p.data(),
                                      bad->data(), u.data()),
                  -1);
        EXPECT_EQ(u, Bytes(64, 0xEE));
        EXPECT_EQ(sm2_kx_initiator(a.r.data(), a.d.data(), a.big_r.data(), bad->data(), b.p.data(),
                                   a.z.data(), b.z.data(), nullptr, k.data(), 16, nullptr),
                  -1);
        EXPECT_EQ(k, Bytes(16, 0xEE));
        std::array<uint8_t, 32> rb;
        std::array<uint8_t, 64> big_rb;
        EXPECT_EQ(sm2_kx_responder(rb.data(), b.d.data(), bad->data(), a.p.data(), a.z.data(),
                                   b.z.data(), k.data(), 16, big_rb.data(), v.data(), nullptr),
                  -1);
        EXPECT_EQ(k, Bytes(16, 0xEE));
        EXPECT_EQ(
            sm2_kx_compute_key(1, a.d.data(), a.p.data(), a.r.data(), a.big_r.data(), kIdA.data(),
                               16, kIdB.data(), 8, b.p.data(), bad->data(), 16, k.data()),
            -1);
    }
}

TEST(Sm2Kx, InvalidPeerLongTermKeyIsRejected) {
    Party a(kIdA), b(kIdB);
    std::array<uint8_t, 64> off_curve = b.p, zero{};
    off_curve[63] ^= 1;
    for (const auto* bad : {&off_curve, &zero}) {
        Bytes u(64, 0xEE), k(16, 0xEE);
        EXPECT_EQ(sm2_kx_shared_point(a.d.data(), a.r.data(), a.big_r.data(), bad->data(),
                                      b.big_r.data(), u.data()),
                  -1);
        EXPECT_EQ(u, Bytes(64, 0xEE));
        EXPECT_EQ(
            sm2_kx_initiator(a.r.data(), a.d.data(), a.big_r.data(), b.big_r.data(), bad->data(),
                             a.z.data(), b.z.data(), nullptr, k.data(), 16, nullptr),
            -1);
        EXPECT_EQ(k, Bytes(16, 0xEE));
    }
}

}  // namespace
