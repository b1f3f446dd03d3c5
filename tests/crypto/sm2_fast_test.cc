// The 64-bit SM2 arithmetic against the byte-limb functions it stands in for.
#include "crypto/sm2_fast.h"

#include <gtest/gtest.h>

#include <array>
#include <random>
#include <string>
#include <vector>

#include "crypto/bn256.h"
#include "crypto/ec.h"
#include "crypto/sm2.h"
#include "crypto/sm2_kx.h"
#include "tests/crypto/bn_test_helpers.h"

namespace {

namespace fast = crypto_internal::sm2_fast;
using sm2_test::bn_to_hex;
using sm2_test::Bytes32;
using sm2_test::ladder_mul;
using sm2_test::negate;
using sm2_test::random_bn;
using sm2_test::same_point;
using sm2_test::small;

const Bytes32 kP = sm2_test::curve_value(sm2_curve.p);
const Bytes32 kN = sm2_test::curve_value(sm2_curve.n);
const ec_point& G = sm2_curve.g;

Bytes32 minus(const Bytes32& m, uint8_t v) {
    Bytes32 out;
    bn_sub(out.data(), m.data(), small(v).data());
    return out;
}

Bytes32 plus(const Bytes32& m, uint8_t v) {
    Bytes32 out;
    bn_add(out.data(), m.data(), small(v).data());
    return out;
}

Bytes32 all_ones() {
    Bytes32 x;
    x.fill(0xFF);
    return x;
}

Bytes32 random_below(std::mt19937_64& rng, const Bytes32& m) {
    Bytes32 x;
    do x = random_bn(rng);
    while (bn_cmp(x.data(), m.data()) >= 0);
    return x;
}

// Boundary operands below m followed by random ones.
std::vector<Bytes32> operands_below(const Bytes32& m, int random_count) {
    Bytes32 half = m;
    bn_shift_right1(half.data());
    Bytes32 top_bit{};
    top_bit[31] = 0x80;
    std::vector<Bytes32> v = {small(0),    small(1), small(2),      minus(m, 1),
                              minus(m, 2), half,     plus(half, 1), top_bit};
    Bytes32 low_ones{};
    for (int i = 0; i < 16; ++i) low_ones[i] = 0xFF;
    v.push_back(low_ones);
    std::mt19937_64 rng(0x5eed + random_count);
    for (int i = 0; i < random_count; ++i) v.push_back(random_below(rng, m));
    return v;
}

std::string point_hex(const ec_point& p) {
    return bn_to_hex(p.x) + " " + bn_to_hex(p.y);
}

// Scalars for the multiplications: the ladder's special cases and the ends of the range.
std::vector<Bytes32> special_scalars() {
    Bytes32 half = kN;
    bn_shift_right1(half.data());
    Bytes32 two_255{};
    two_255[31] = 0x80;
    return {small(0),
            small(1),
            small(2),
            small(3),
            small(16),
            small(17),
            minus(kN, 2),
            minus(kN, 1),
            kN,
            plus(kN, 1),
            half,
            plus(half, 1),
            minus(half, 1),
            two_255,
            all_ones(),
            minus(all_ones(), 1),
            minus(kN, 16),
            minus(kN, 31)};
}

TEST(Sm2FastField, MultiplyAndSquareMatchTheReductionModP) {
    const auto ops = operands_below(kP, 40);
    for (const auto& x : ops) {
        for (const auto& y : ops) {
            bn256 want, got;
            bn_mod_mul_p(want, x.data(), y.data(), sm2_curve.p);
            fast::fp_mul(got, x.data(), y.data());
            ASSERT_EQ(bn_to_hex(got), bn_to_hex(want))
                << bn_to_hex(x.data()) << " * " << bn_to_hex(y.data());
        }
        bn256 want, got;
        bn_mod_square_p(want, x.data(), sm2_curve.p);
        fast::fp_sqr(got, x.data());
        ASSERT_EQ(bn_to_hex(got), bn_to_hex(want)) << bn_to_hex(x.data());
    }
}

TEST(Sm2FastField, InverseMatchesTheBinaryInverse) {
    for (const auto& x : operands_below(kP, 20)) {
        bn256 want, got;
        bn_mod_inv(want, x.data(), sm2_curve.p);
        fast::fp_inv(got, x.data());
        ASSERT_EQ(bn_to_hex(got), bn_to_hex(want)) << bn_to_hex(x.data());
    }
}

TEST(Sm2FastScalar, ArithmeticMatchesTheGeneralFunctionsModN) {
    const auto ops = operands_below(kN, 20);
    for (const auto& x : ops) {
        for (const auto& y : ops) {
            bn256 want, got;
            bn_mod_mul(want, x.data(), y.data(), sm2_curve.n);
            fast::fn_mul(got, x.data(), y.data());
            ASSERT_EQ(bn_to_hex(got), bn_to_hex(want)) << "mul " << bn_to_hex(x.data());
            bn_mod_add(want, x.data(), y.data(), sm2_curve.n);
            fast::fn_add(got, x.data(), y.data());
            ASSERT_EQ(bn_to_hex(got), bn_to_hex(want)) << "add " << bn_to_hex(x.data());
            bn_mod_sub(want, x.data(), y.data(), sm2_curve.n);
            fast::fn_sub(got, x.data(), y.data());
            ASSERT_EQ(bn_to_hex(got), bn_to_hex(want)) << "sub " << bn_to_hex(x.data());
        }
        bn256 want, got;
        bn_mod_inv(want, x.data(), sm2_curve.n);
        fast::fn_inv(got, x.data());
        ASSERT_EQ(bn_to_hex(got), bn_to_hex(want)) << "inv " << bn_to_hex(x.data());
    }
}

TEST(Sm2FastScalar, ReduceTakesAnyNumberBelow2To256) {
    std::vector<Bytes32> xs = special_scalars();
    std::mt19937_64 rng(7);
    for (int i = 0; i < 20; ++i) xs.push_back(random_bn(rng));
    for (const auto& x : xs) {
        bn256 want, got;
        bn_mod_mul(want, x.data(), small(1).data(), sm2_curve.n);
        fast::fn_reduce(got, x.data());
        EXPECT_EQ(bn_to_hex(got), bn_to_hex(want)) << bn_to_hex(x.data());
    }
}

TEST(Sm2FastPoint, CheckAgreesWithSm2PointCheck) {
    ec_point g_y_plus_1 = G, x_is_p = G, y_is_p = G, zero = {}, neg_g = negate(G);
    bn_add(g_y_plus_1.y, G.y, small(1).data());
    bn_copy(x_is_p.x, sm2_curve.p);
    bn_copy(y_is_p.y, sm2_curve.p);
    ec_point x_plus_p = G;  // same residue as G, coordinate out of range
    bn_add(x_plus_p.x, G.x, sm2_curve.p);
    ec_point ones;
    bn_copy(ones.x, all_ones().data());
    bn_copy(ones.y, all_ones().data());
    std::vector<ec_point> points = {
        G, g_y_plus_1, x_is_p, y_is_p, zero, neg_g, x_plus_p, ones, ladder_mul(G, small(5))};
    std::mt19937_64 rng(11);
    for (int i = 0; i < 10; ++i) {
        ec_point p;
        bn_copy(p.x, random_below(rng, kP).data());
        bn_copy(p.y, random_below(rng, kP).data());
        points.push_back(p);
    }
    for (const auto& p : points)
        EXPECT_EQ(fast::point_check(&p), sm2_point_check(&p)) << point_hex(p);
}

TEST(Sm2FastPoint, BaseMulMatchesTheLadder) {
    std::vector<Bytes32> scalars = special_scalars();
    std::mt19937_64 rng(13);
    for (int i = 0; i < 24; ++i) scalars.push_back(random_bn(rng));
    for (const auto& k : scalars) {
        ec_point got;
        fast::base_mul(&got, k.data());
        EXPECT_EQ(point_hex(got), point_hex(ladder_mul(G, k))) << bn_to_hex(k.data());
    }
}

TEST(Sm2FastPoint, EveryBaseTableEntryAgreesWithTheVariableBaseMethod) {
    // [j 16^i] G reads entry j of row i (j = 8 also entry 1 of row i + 1).
    for (int i = 0; i < 64; ++i) {
        for (uint8_t j = 1; j <= 8; ++j) {
            Bytes32 k{};
            k[i / 2] = static_cast<uint8_t>(j << (4 * (i % 2)));
            ec_point a, b;
            fast::base_mul(&a, k.data());
            fast::point_mul(&b, &G, k.data());
            ASSERT_TRUE(same_point(a, b)) << "row " << i << " entry " << int{j};
        }
    }
}

TEST(Sm2FastPoint, PointMulMatchesTheLadder) {
    std::mt19937_64 rng(17);
    std::vector<ec_point> points = {G, negate(G), ladder_mul(G, random_below(rng, kN))};
    std::vector<Bytes32> scalars = special_scalars();
    for (int i = 0; i < 8; ++i) scalars.push_back(random_bn(rng));
    for (const auto& p : points) {
        for (const auto& k : scalars) {
            ec_point got;
            fast::point_mul(&got, &p, k.data());
            EXPECT_EQ(point_hex(got), point_hex(ladder_mul(p, k)))
                << point_hex(p) << " k " << bn_to_hex(k.data());
        }
    }
}

TEST(Sm2FastPoint, DoubleMulMatchesTheJointScan) {
    std::mt19937_64 rng(19);
    const ec_point q = ladder_mul(G, random_below(rng, kN));
    const ec_point two_g = ladder_mul(G, small(2));
    struct Case {
        ec_point q;
        Bytes32 u1, u2;
    };
    std::vector<Case> cases = {
        {q, small(1), small(1)},         {q, small(0), small(5)},
        {q, small(7), small(0)},         {q, minus(kN, 1), minus(kN, 1)},
        {G, small(3), small(4)},         {G, small(1), minus(kN, 1)},  // sum at infinity
        {negate(G), small(2), small(2)}, {two_g, small(2), minus(kN, 1)},
        {two_g, minus(kN, 4), small(2)}, {G, minus(kN, 2), minus(kN, 2)},
    };
    for (int i = 0; i < 12; ++i) cases.push_back({q, random_below(rng, kN), random_below(rng, kN)});
    for (int i = 0; i < 4; ++i)  // P2 = +-P1
        cases.push_back({i % 2 ? G : negate(G), random_below(rng, kN), random_below(rng, kN)});
    for (const auto& c : cases) {
        ec_point want, got;
        ec_double_point_mul(&want, &G, &c.q, c.u1.data(), c.u2.data());
        fast::double_mul(&got, c.u1.data(), &c.q, c.u2.data());
        EXPECT_EQ(point_hex(got), point_hex(want))
            << bn_to_hex(c.u1.data()) << " " << bn_to_hex(c.u2.data()) << " " << point_hex(c.q);
    }
}

TEST(Sm2FastPoint, AddMatchesEcPointAdd) {
    std::mt19937_64 rng(23);
    const ec_point a = ladder_mul(G, random_below(rng, kN));
    const ec_point b = ladder_mul(G, random_below(rng, kN));
    const std::pair<ec_point, ec_point> cases[] = {
        {a, b}, {b, a}, {a, G}, {a, a}, {a, negate(a)}, {G, ladder_mul(G, small(2))}};
    for (const auto& [p1, p2] : cases) {
        ec_point want, got;
        ec_point_add(&want, &p1, &p2);
        fast::point_add(&got, &p1, &p2);
        EXPECT_EQ(point_hex(got), point_hex(want)) << point_hex(p1) << " + " << point_hex(p2);
    }
}

// bn_cmp((x + e) mod n, r) for the x of [u1] G + [u2] q, from the reference functions.
int32_t reference_compare(const Bytes32& u1, const ec_point& q, const Bytes32& u2, const Bytes32& e,
                          const Bytes32& r) {
    ec_point sum;
    ec_double_point_mul(&sum, &G, &q, u1.data(), u2.data());
    bn256 x, er, big_r;
    bn_mod_mul(x, sum.x, small(1).data(), sm2_curve.n);
    bn_mod_mul(er, e.data(), small(1).data(), sm2_curve.n);
    bn_mod_add(big_r, x, er, sm2_curve.n);
    return bn_cmp(big_r, r.data());
}

TEST(Sm2FastPoint, VerifyCompareMatchesTheReferenceComparison) {
    std::mt19937_64 rng(29);
    const ec_point q = ladder_mul(G, random_below(rng, kN));
    struct Case {
        ec_point q;
        Bytes32 u1, u2, e;
    };
    std::vector<Case> cases = {
        {G, small(1), minus(kN, 1), random_bn(rng)},  // infinity: R = e mod n
        {G, small(2), small(3), all_ones()},
        {negate(G), small(9), small(4), small(0)},
    };
    for (int i = 0; i < 8; ++i)
        cases.push_back({q, random_below(rng, kN), random_below(rng, kN), random_bn(rng)});
    for (const auto& c : cases) {
        // r = R itself (0), R - 1 and R + 1 (1 and -1), and the ends of the range.
        ec_point sum;
        ec_double_point_mul(&sum, &G, &c.q, c.u1.data(), c.u2.data());
        bn256 x, er, big_r;
        bn_mod_mul(x, sum.x, small(1).data(), sm2_curve.n);
        bn_mod_mul(er, c.e.data(), small(1).data(), sm2_curve.n);
        bn_mod_add(big_r, x, er, sm2_curve.n);
        Bytes32 exact;
        bn_copy(exact.data(), big_r);
        std::vector<Bytes32> rs = {small(1), minus(kN, 1)};
        if (!bn_is_zero(exact.data())) rs.push_back(exact);
        if (bn_cmp(exact.data(), small(1).data()) > 0) rs.push_back(minus(exact, 1));
        if (bn_cmp(exact.data(), minus(kN, 1).data()) < 0) rs.push_back(plus(exact, 1));
        for (const auto& r : rs) {
            EXPECT_EQ(fast::verify_compare(c.u1.data(), &c.q, c.u2.data(), c.e.data(), r.data()),
                      reference_compare(c.u1, c.q, c.u2, c.e, r))
                << bn_to_hex(c.u1.data()) << " " << bn_to_hex(c.u2.data()) << " r "
                << bn_to_hex(r.data());
        }
    }
}

TEST(Sm2FastPoint, BaseAndPointMulMatchTheSeparateProducts) {
    std::mt19937_64 rng(31);
    const ec_point p = ladder_mul(G, random_below(rng, kN));
    std::vector<Bytes32> scalars = special_scalars();
    for (int i = 0; i < 4; ++i) scalars.push_back(random_bn(rng));
    for (const auto& k : scalars) {
        ec_point a, b, want_a, want_b;
        fast::base_and_point_mul(&a, &b, &p, k.data());
        fast::base_mul(&want_a, k.data());
        fast::point_mul(&want_b, &p, k.data());
        EXPECT_TRUE(same_point(a, want_a)) << bn_to_hex(k.data());
        EXPECT_TRUE(same_point(b, want_b)) << bn_to_hex(k.data());
    }
}

// Points that are not on the curve, or not in range, for the routines that do not check them.
std::vector<ec_point> points_off_the_curve() {
    ec_point y_plus_1 = G, zero = {}, x_is_p = G, x_plus_p = G;
    bn_add(y_plus_1.y, G.y, small(1).data());
    bn_copy(x_is_p.x, sm2_curve.p);
    bn_add(x_plus_p.x, G.x, sm2_curve.p);
    return {y_plus_1, zero, x_is_p, x_plus_p};
}

std::array<uint8_t, 64> bytes_of(const ec_point& p) {
    std::array<uint8_t, 64> out;
    bn_from_bytes(out.data(), p.x);
    bn_from_bytes(out.data() + 32, p.y);
    return out;
}

TEST(Sm2FastRouting, PointMulBytesMatchesTheLadderOnAndOffTheCurve) {
    std::mt19937_64 rng(37);
    std::vector<ec_point> points = points_off_the_curve();
    points.push_back(G);
    points.push_back(ladder_mul(G, random_below(rng, kN)));
    for (const auto& p : points) {
        for (const auto& k :
             {small(0), small(1), small(2), minus(kN, 1), all_ones(), random_bn(rng)}) {
            Bytes32 k_be;
            bn_from_bytes(k_be.data(), k.data());
            std::array<uint8_t, 64> got;
            ASSERT_EQ(sm2_point_mul_bytes(bytes_of(p).data(), k_be.data(), got.data()), 0);
            EXPECT_EQ(got, bytes_of(ladder_mul(p, k)))
                << point_hex(p) << " k " << bn_to_hex(k.data());
        }
    }
}

TEST(Sm2FastRouting, VerifyDigestMatchesTheReferenceComparisonForAnyKey) {
    std::mt19937_64 rng(41);
    std::vector<ec_point> keys = points_off_the_curve();
    keys.push_back(ladder_mul(G, random_below(rng, kN)));
    keys.push_back(G);
    for (const auto& q : keys) {
        for (int i = 0; i < 4; ++i) {
            const Bytes32 r = random_below(rng, kN), s = random_below(rng, kN), e = random_bn(rng);
            bn256 t;
            bn_mod_add(t, r.data(), s.data(), sm2_curve.n);
            Bytes32 t_limbs;
            bn_copy(t_limbs.data(), t);
            const int32_t want = reference_compare(s, q, t_limbs, e, r);
            Bytes32 r_be, s_be, e_be;
            bn_from_bytes(r_be.data(), r.data());
            bn_from_bytes(s_be.data(), s.data());
            bn_from_bytes(e_be.data(), e.data());
            EXPECT_EQ(sm2_verify_digest(bytes_of(q).data(), e_be.data(), r_be.data(), s_be.data()),
                      want)
                << point_hex(q);
        }
    }
}

TEST(Sm2FastRouting, KeyExchangeSharedPointMatchesTheReferenceOrRejectsThePeerKey) {
    std::mt19937_64 rng(43);
    const ec_point own_r = ladder_mul(G, random_below(rng, kN));
    const ec_point peer_r = ladder_mul(G, random_below(rng, kN));
    std::vector<ec_point> peer_keys = points_off_the_curve();
    peer_keys.push_back(ladder_mul(G, random_below(rng, kN)));
    bn256 xb;
    sm2_kx_x_bar(xb, peer_r.x);
    peer_keys.push_back(negate(ladder_mul(peer_r, sm2_test::curve_value(xb))));  // W = 0
    for (const auto& peer_p : peer_keys) {
        const Bytes32 d = random_bn(rng), r = random_bn(rng);
        // t = (d + x_bar(own R) r) mod n; W = P + [x_bar(peer R)] R; U = [t] W.
        bn256 x_bar, t, dr, rr;
        bn_mod_mul(dr, d.data(), small(1).data(), sm2_curve.n);
        bn_mod_mul(rr, r.data(), small(1).data(), sm2_curve.n);
        sm2_kx_x_bar(x_bar, own_r.x);
        bn_mod_mul(t, x_bar, rr, sm2_curve.n);
        bn_mod_add(t, dr, t, sm2_curve.n);
        sm2_kx_x_bar(x_bar, peer_r.x);
        ec_point w = ladder_mul(peer_r, sm2_test::curve_value(x_bar));
        ec_point_add(&w, &peer_p, &w);
        const ec_point u = ladder_mul(w, sm2_test::curve_value(t));

        Bytes32 d_be, r_be;
        bn_from_bytes(d_be.data(), d.data());
        bn_from_bytes(r_be.data(), r.data());
        std::array<uint8_t, 64> got{};
        const int32_t result =
            sm2_kx_shared_point(d_be.data(), r_be.data(), bytes_of(own_r).data(),
                                bytes_of(peer_p).data(), bytes_of(peer_r).data(), got.data());
        if (sm2_point_check(&peer_p) != 0 || ec_point_is_zero(&u)) {
            EXPECT_EQ(result, -1) << point_hex(peer_p);
            EXPECT_EQ(got, (std::array<uint8_t, 64>{})) << point_hex(peer_p);
        } else {
            EXPECT_EQ(result, 0) << point_hex(peer_p);
            EXPECT_EQ(got, bytes_of(u)) << point_hex(peer_p);
        }
    }
}

}  // namespace
