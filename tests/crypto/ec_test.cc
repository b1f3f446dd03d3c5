// Point arithmetic on the SM2 curve.
#include "crypto/ec.h"

#include <gtest/gtest.h>

#include <random>

#include "crypto/bn256.h"
#include "crypto/sm2.h"
#include "tests/crypto/bn_test_helpers.h"

namespace {

using sm2_test::bn_hex;
using sm2_test::Bytes32;
using sm2_test::ladder_mul;
using sm2_test::negate;
using sm2_test::point_of;
using sm2_test::same_point;
using sm2_test::small;

const ec_point& G = sm2_curve.g;
const Bytes32 kN = sm2_test::curve_value(sm2_curve.n);

// 2G, computed independently with affine formulas over Python integers.
const ec_point k2G =
    point_of(bn_hex("56cefd60d7c87c000d58ef57fa73ba4d9c0dfa08c08a7331495c2e1da3f2bd52"),
             bn_hex("31b7e7e6cc8189f668535ce0f8eaf1bd6de84c182f6c8e716f780d3a970a23c3"));

Bytes32 n_minus(uint8_t v) {
    Bytes32 out;
    bn_sub(out.data(), kN.data(), small(v).data());
    return out;
}

// Affine doubling through the Jacobian routine.
ec_point twice(const ec_point& p) {
    bn256 x, y, z = {1};
    bn_copy(x, p.x);
    bn_copy(y, p.y);
    ec_jacobian_double(x, y, z);
    bn_mod_inv(z, z, sm2_curve.p);
    ec_scale_by_z(x, y, z);
    return point_of(sm2_test::curve_value(x), sm2_test::curve_value(y));
}

Bytes32 random_scalar(std::mt19937_64& rng) {
    Bytes32 k;
    do {
        k = sm2_test::random_bn(rng);
        if (bn_cmp(k.data(), kN.data()) >= 0) bn_sub(k.data(), k.data(), kN.data());
    } while (bn_num_bits(k.data()) < 2 || bn_cmp(k.data(), n_minus(1).data()) >= 0);
    return k;
}

TEST(EcPointMul, SmallMultiplesMatchAdditions) {
    const ec_point g2 = ladder_mul(G, small(2));
    EXPECT_TRUE(same_point(g2, k2G));
    EXPECT_TRUE(same_point(twice(G), k2G));
    ec_point g3;
    ec_point_add(&g3, &k2G, &G);
    EXPECT_TRUE(same_point(ladder_mul(G, small(3)), g3));
    ec_point g4;
    ec_point_add(&g4, &g3, &G);
    EXPECT_TRUE(same_point(ladder_mul(G, small(4)), g4));
    EXPECT_TRUE(same_point(twice(k2G), g4));
    EXPECT_EQ(sm2_point_check(&g3), 0);
}

TEST(EcPointMul, NMinus2GivesMinusTwoG) {
    EXPECT_TRUE(same_point(ladder_mul(G, n_minus(2)), negate(k2G)));
}

TEST(EcPointMul, ResultMayBeThePointArray) {
    std::mt19937_64 rng(11);
    const Bytes32 k = random_scalar(rng);
    const ec_point expected = ladder_mul(k2G, k);
    ec_point in_place = k2G;
    ec_point_mul(&in_place, &in_place, k.data(), nullptr);
    EXPECT_TRUE(same_point(in_place, expected));
}

TEST(EcPointMul, ScalarsOfNOrMoreActModN) {
    const Bytes32 all_ones = bn_hex(std::string(64, 'f'));
    Bytes32 reduced;
    bn_sub(reduced.data(), all_ones.data(), kN.data());
    EXPECT_TRUE(same_point(ladder_mul(G, all_ones), ladder_mul(G, reduced)));
    Bytes32 n_plus_2;
    bn_add(n_plus_2.data(), kN.data(), small(2).data());
    EXPECT_TRUE(same_point(ladder_mul(G, n_plus_2), k2G));
}

// Outside the ladder's range: 0 and n give infinity, 1 the point, n - 1 its negative.
TEST(EcPointMul, ScalarsOutsideTheLadderRange) {
    const ec_point infinity = point_of(Bytes32{}, Bytes32{});
    EXPECT_TRUE(same_point(ladder_mul(k2G, Bytes32{}), infinity));
    EXPECT_TRUE(same_point(ladder_mul(k2G, kN), infinity));
    EXPECT_TRUE(same_point(ladder_mul(k2G, small(1)), k2G));
    EXPECT_TRUE(same_point(ladder_mul(k2G, n_minus(1)), negate(k2G)));
}

TEST(EcPointMul, ScalarMultiplicationComposes) {
    std::mt19937_64 rng(12);
    for (int i = 0; i < 8; ++i) {
        const Bytes32 a = random_scalar(rng), b = random_scalar(rng);
        Bytes32 ab;
        bn_mod_mul(ab.data(), a.data(), b.data(), kN.data());
        const ec_point lhs = ladder_mul(ladder_mul(G, a), b);
        EXPECT_TRUE(same_point(lhs, ladder_mul(G, ab)));
        EXPECT_EQ(sm2_point_check(&lhs), 0);
    }
}

TEST(EcPointMul, InitialZDoesNotChangeTheResult) {
    std::mt19937_64 rng(13);
    const Bytes32 k = random_scalar(rng), z0 = random_scalar(rng);
    ec_point with_z;
    ec_point_mul(&with_z, &G, k.data(), z0.data());
    EXPECT_TRUE(same_point(with_z, ladder_mul(G, k)));
}

TEST(EcDoublePointMul, OneZeroScalarGivesASingleMultiple) {
    std::mt19937_64 rng(14);
    const ec_point p = ladder_mul(G, random_scalar(rng));
    for (int i = 0; i < 4; ++i) {
        const Bytes32 u = random_scalar(rng);
        ec_point out;
        ec_double_point_mul(&out, &G, &p, u.data(), Bytes32{}.data());
        EXPECT_TRUE(same_point(out, ladder_mul(G, u)));
        ec_double_point_mul(&out, &G, &p, Bytes32{}.data(), u.data());
        EXPECT_TRUE(same_point(out, ladder_mul(p, u)));
    }
}

TEST(EcDoublePointMul, EqualsTheSumOfTwoLadders) {
    std::mt19937_64 rng(15);
    for (int i = 0; i < 6; ++i) {
        const ec_point p = ladder_mul(G, random_scalar(rng));
        const Bytes32 u1 = random_scalar(rng), u2 = random_scalar(rng);
        const ec_point a = ladder_mul(G, u1), b = ladder_mul(p, u2);
        ec_point expected, out;
        ec_point_add(&expected, &a, &b);
        ec_double_point_mul(&out, &G, &p, u1.data(), u2.data());
        EXPECT_TRUE(same_point(out, expected));
    }
}

// P2 = +-P1 makes the joint scan add two points with the same x; the result is still exact.
TEST(EcDoublePointMul, SecondPointEqualToPlusOrMinusTheFirst) {
    std::mt19937_64 rng(16);
    const Bytes32 u1 = random_scalar(rng), u2 = random_scalar(rng);
    Bytes32 sum, diff;
    bn_mod_add(sum.data(), u1.data(), u2.data(), kN.data());
    bn_mod_sub(diff.data(), u1.data(), u2.data(), kN.data());
    ec_point out;
    ec_double_point_mul(&out, &G, &G, u1.data(), u2.data());
    EXPECT_TRUE(same_point(out, ladder_mul(G, sum)));
    const ec_point minus_g = negate(G);
    ec_double_point_mul(&out, &G, &minus_g, u1.data(), u2.data());
    EXPECT_TRUE(same_point(out, ladder_mul(G, diff)));
    ec_double_point_mul(&out, &G, &minus_g, u1.data(), u1.data());
    EXPECT_TRUE(ec_point_is_zero(&out));
}

TEST(EcPointAdd, PointPlusItsNegativeIsInfinity) {
    const ec_point minus = negate(k2G);
    ec_point out;
    ec_point_add(&out, &k2G, &minus);
    EXPECT_TRUE(ec_point_is_zero(&out));
    EXPECT_FALSE(ec_point_is_zero(&k2G));
    ec_point x_only = point_of(Bytes32{}, small(1));
    EXPECT_FALSE(ec_point_is_zero(&x_only));
}

TEST(EcJacobianDouble, ZeroZLeavesThePointUnchanged) {
    bn256 x, y, z = {0};
    bn_copy(x, G.x);
    bn_copy(y, G.y);
    ec_jacobian_double(x, y, z);
    EXPECT_EQ(bn_cmp(x, G.x), 0);
    EXPECT_EQ(bn_cmp(y, G.y), 0);
    EXPECT_TRUE(bn_is_zero(z));
}

TEST(EcCoZ, StartGivesTwoPAndPOnOneZ) {
    bn256 x1, y1, x2, y2;
    bn_copy(x1, G.x);
    bn_copy(y1, G.y);
    ec_co_z_start(x1, y1, x2, y2, nullptr);
    // The doubling's halved formulas make the shared Z equal to y: scale both back with 1 / y.
    bn256 z_inv;
    bn_mod_inv(z_inv, G.y, sm2_curve.p);
    ec_scale_by_z(x1, y1, z_inv);
    ec_scale_by_z(x2, y2, z_inv);
    EXPECT_TRUE(same_point(point_of(sm2_test::curve_value(x1), sm2_test::curve_value(y1)), k2G));
    EXPECT_TRUE(same_point(point_of(sm2_test::curve_value(x2), sm2_test::curve_value(y2)), G));
}

}  // namespace
