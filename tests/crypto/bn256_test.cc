// 256-bit arithmetic against a schoolbook reference on 64-bit words.
#include "crypto/bn256.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "tests/crypto/bn_test_helpers.h"

namespace {

using sm2_test::bn_hex;
using sm2_test::bn_to_hex;
using sm2_test::Bytes32;
using sm2_test::random_bn;

// ---- reference: numbers as little-endian 64-bit words ----

using Wide = std::array<uint64_t, 8>;  // 512 bits

Wide wide_of(const uint8_t* limbs, int nlimbs) {
    Wide w{};
    for (int i = 0; i < nlimbs; ++i) w[i / 8] |= uint64_t{limbs[i]} << (8 * (i % 8));
    return w;
}

Bytes32 bytes_of(const Wide& w) {
    Bytes32 out;
    for (int i = 0; i < 32; ++i) out[i] = static_cast<uint8_t>(w[i / 8] >> (8 * (i % 8)));
    return out;
}

Wide ref_mul(const uint8_t* x, const uint8_t* y) {
    const Wide a = wide_of(x, 32), b = wide_of(y, 32);
    Wide r{};
    for (int i = 0; i < 4; ++i) {
        unsigned __int128 carry = 0;
        for (int j = 0; j < 4; ++j) {
            const unsigned __int128 t = (unsigned __int128)a[i] * b[j] + r[i + j] + carry;
            r[i + j] = static_cast<uint64_t>(t);
            carry = t >> 64;
        }
        r[i + 4] = static_cast<uint64_t>(carry);
    }
    return r;
}

// value mod m, by restoring division one bit at a time (a 5-word remainder holds 257 bits).
Bytes32 ref_mod(const Wide& value, const uint8_t* m_limbs) {
    const Wide m = wide_of(m_limbs, 32);
    std::array<uint64_t, 5> r{};
    auto ge_m = [&] {
        if (r[4] != 0) return true;
        for (int i = 3; i >= 0; --i)
            if (r[i] != m[i]) return r[i] > m[i];
        return true;
    };
    for (int bit = 511; bit >= 0; --bit) {
        for (int i = 4; i > 0; --i) r[i] = (r[i] << 1) | (r[i - 1] >> 63);
        r[0] = (r[0] << 1) | ((value[bit / 64] >> (bit % 64)) & 1);
        if (ge_m()) {
            uint64_t borrow = 0;
            for (int i = 0; i < 5; ++i) {
                const uint64_t mi = i < 4 ? m[i] : 0;
                const uint64_t d = r[i] - mi - borrow;
                borrow = (r[i] < mi || (r[i] == mi && borrow)) ? 1 : 0;
                r[i] = d;
            }
        }
    }
    Wide out{};
    for (int i = 0; i < 4; ++i) out[i] = r[i];
    return bytes_of(out);
}

Bytes32 ref_mul_mod(const uint8_t* x, const uint8_t* y, const uint8_t* m) {
    return ref_mod(ref_mul(x, y), m);
}

// ---- operands ----

const Bytes32 kP = sm2_test::curve_value(sm2_curve.p);
const Bytes32 kN = sm2_test::curve_value(sm2_curve.n);
const Bytes32 kAllOnes = bn_hex(std::string(64, 'f'));
const Bytes32 kZero{};
const Bytes32 kOne = bn_hex("01");

Bytes32 minus_one(const Bytes32& m) {
    Bytes32 out;
    bn_sub(out.data(), m.data(), kOne.data());
    return out;
}

// Random values below m, with some short ones mixed in so that carries and digit counts vary.
Bytes32 random_below(std::mt19937_64& rng, const Bytes32& m) {
    Bytes32 x = random_bn(rng);
    if (rng() % 4 == 0)
        for (size_t i = rng() % 32; i < 32; ++i) x[i] = 0;
    while (bn_cmp(x.data(), m.data()) >= 0) bn_sub(x.data(), x.data(), m.data());
    return x;
}

std::vector<Bytes32> boundary_operands(const Bytes32& m) {
    return {kZero, kOne, bn_hex("02"), minus_one(m), minus_one(minus_one(m))};
}

constexpr int kRandomCases = 1500;

// ---- plain operations ----

TEST(Bn256, BitAndDigitCounts) {
    EXPECT_EQ(bn_num_bits(kZero.data()), 0u);
    EXPECT_EQ(bn_num_digits(kZero.data()), 0u);
    EXPECT_EQ(bn_num_bits(kOne.data()), 1u);
    EXPECT_EQ(bn_num_digits(kOne.data()), 1u);
    const Bytes32 top = bn_hex("80" + std::string(62, '0'));
    EXPECT_EQ(bn_num_bits(top.data()), 256u);
    EXPECT_EQ(bn_num_digits(top.data()), 32u);
    EXPECT_EQ(bn_num_bits(bn_hex("0100").data()), 9u);
    EXPECT_TRUE(bn_test_bit(top.data(), 255));
    EXPECT_FALSE(bn_test_bit(top.data(), 254));
    EXPECT_TRUE(bn_is_zero(kZero.data()));
    EXPECT_FALSE(bn_is_zero(top.data()));
    EXPECT_EQ(max_u32(3, 9), 9u);
    EXPECT_EQ(max_u32(9, 3), 9u);
}

TEST(Bn256, ShiftLeftReturnsTheBitsLeavingTheTop) {
    Bytes32 x{};
    x[31] = 0xFF;
    x[0] = 0x81;
    Bytes32 out;
    EXPECT_EQ(bn_shift_left(out.data(), x.data(), 7), 0x7F);
    EXPECT_EQ(out[0], 0x80);
    EXPECT_EQ(out[1], 0x40);
    EXPECT_EQ(out[31], 0x80);
    // In place, one bit.
    EXPECT_EQ(bn_shift_left(x.data(), x.data(), 1), 1);
    EXPECT_EQ(bn_to_hex(x.data()), "fe" + std::string(58, '0') + "0102");
}

TEST(Bn256, ShiftRightMovesBitsDownAcrossLimbs) {
    Bytes32 x = bn_hex("0101");
    bn_shift_right1(x.data());
    EXPECT_EQ(bn_to_hex(x.data()), std::string(62, '0') + "80");
    bn_shift_right1(x.data());
    EXPECT_EQ(bn_to_hex(x.data()), std::string(62, '0') + "40");
}

TEST(Bn256, CompareDecidesByTheHighestDifferingLimb) {
    Bytes32 a = kP, b = kP;
    EXPECT_EQ(bn_cmp(a.data(), b.data()), 0);
    a[0] = 1;
    b[0] = 2;
    EXPECT_EQ(bn_cmp(a.data(), b.data()), -1);
    EXPECT_EQ(bn_cmp(b.data(), a.data()), 1);
    a[31] = 0xFF;  // a higher limb outweighs limb 0
    b[31] = 0xFE;
    EXPECT_EQ(bn_cmp(a.data(), b.data()), 1);
}

TEST(Bn256, AddAndSubCarryThroughEveryLimb) {
    Bytes32 out;
    EXPECT_EQ(bn_add(out.data(), kAllOnes.data(), kOne.data()), 1);
    EXPECT_TRUE(bn_is_zero(out.data()));
    EXPECT_EQ(bn_sub(out.data(), kZero.data(), kOne.data()), 1);
    EXPECT_EQ(out, kAllOnes);
    EXPECT_EQ(bn_add(out.data(), kAllOnes.data(), kAllOnes.data()), 1);
    EXPECT_EQ(out, minus_one(kAllOnes));
    EXPECT_EQ(bn_sub(out.data(), kP.data(), kP.data()), 0);
    EXPECT_TRUE(bn_is_zero(out.data()));
}

TEST(Bn256, MulAndSquareMatchTheReference) {
    std::mt19937_64 rng(1);
    std::vector<Bytes32> operands = {kZero, kOne, kAllOnes, kP, kN};
    for (int i = 0; i < 200; ++i) operands.push_back(random_below(rng, kAllOnes));
    for (size_t i = 0; i < operands.size(); ++i) {
        const Bytes32& x = operands[i];
        const Bytes32& y = operands[(i * 7 + 3) % operands.size()];
        bn512 product, square;
        bn_mul(product, x.data(), y.data());
        EXPECT_EQ(wide_of(product, 64), ref_mul(x.data(), y.data())) << bn_to_hex(x.data());
        bn_square(square, x.data());
        EXPECT_EQ(wide_of(square, 64), ref_mul(x.data(), x.data())) << bn_to_hex(x.data());
    }
}

TEST(Bn256, FromBytesReversesInPlaceAndIntoAnotherArray) {
    std::mt19937_64 rng(2);
    const Bytes32 input = random_bn(rng);
    Bytes32 copy, in_place = input, twice;
    bn_from_bytes(copy.data(), input.data());
    bn_from_bytes(in_place.data(), in_place.data());
    EXPECT_EQ(copy, in_place);
    for (int i = 0; i < 32; ++i) EXPECT_EQ(copy[i], input[31 - i]);
    bn_from_bytes(twice.data(), copy.data());
    EXPECT_EQ(twice, input);
    bn_to_bytes(twice.data(), input.data());
    EXPECT_EQ(twice, copy);
}

// ---- modular operations ----

TEST(BnMod, AddPastTwoTo256SubtractsTheModulusOnce) {
    for (const Bytes32& m : {kP, kN}) {
        const Bytes32 x = minus_one(m), y = minus_one(minus_one(m));
        Bytes32 out;
        bn_mod_add(out.data(), x.data(), y.data(), m.data());
        // (m - 1) + (m - 2) = m - 3 (mod m)
        EXPECT_EQ(out, minus_one(y));
        bn_mod_sub(out.data(), kOne.data(), x.data(), m.data());
        EXPECT_EQ(out, bn_hex("02"));
    }
}

TEST(BnMod, AddAndSubAgreeWithTheReference) {
    std::mt19937_64 rng(3);
    for (const Bytes32& m : {kP, kN}) {
        for (int i = 0; i < kRandomCases; ++i) {
            const Bytes32 x = random_below(rng, m), y = random_below(rng, m);
            Bytes32 sum, diff, back;
            bn_mod_add(sum.data(), x.data(), y.data(), m.data());
            Wide wide_sum = wide_of(x.data(), 32);
            const Wide wy = wide_of(y.data(), 32);
            unsigned __int128 carry = 0;
            for (int w = 0; w < 8; ++w) {
                const unsigned __int128 t = (unsigned __int128)wide_sum[w] + wy[w] + carry;
                wide_sum[w] = static_cast<uint64_t>(t);
                carry = t >> 64;
            }
            ASSERT_EQ(sum, ref_mod(wide_sum, m.data()));
            bn_mod_sub(diff.data(), sum.data(), y.data(), m.data());
            ASSERT_EQ(diff, x);
            bn_mod_sub(back.data(), y.data(), sum.data(), m.data());
            bn_mod_add(back.data(), back.data(), x.data(), m.data());
            ASSERT_TRUE(bn_is_zero(back.data()));
        }
    }
}

TEST(BnModPFast, BoundaryProducts) {
    const Bytes32 p_minus_1 = minus_one(kP);
    struct Case {
        Bytes32 x, y;
    } cases[] = {{p_minus_1, p_minus_1},   {kAllOnes, kAllOnes}, {kZero, kZero}, {kAllOnes, kZero},
                 {p_minus_1, kOne},        {kAllOnes, kOne},     {kP, kOne},     {kP, kAllOnes},
                 {p_minus_1, bn_hex("02")}};
    for (const Case& c : cases) {
        bn512 product;
        bn_mul(product, c.x.data(), c.y.data());
        Bytes32 out;
        bn_mod_p_fast(out.data(), product, kP.data());
        EXPECT_EQ(out, ref_mod(wide_of(product, 64), kP.data()))
            << bn_to_hex(c.x.data()) << " * " << bn_to_hex(c.y.data());
    }
    // (p - 1)^2 = 1 (mod p); a product below p comes back unchanged.
    bn512 product;
    bn_mul(product, p_minus_1.data(), p_minus_1.data());
    Bytes32 out;
    bn_mod_p_fast(out.data(), product, kP.data());
    EXPECT_EQ(out, kOne);
    bn_mul(product, p_minus_1.data(), kOne.data());
    bn_mod_p_fast(out.data(), product, kP.data());
    EXPECT_EQ(out, p_minus_1);
}

TEST(BnModPFast, RandomProductsBelowPAndAnyWideValue) {
    std::mt19937_64 rng(4);
    std::vector<Bytes32> specials = boundary_operands(kP);
    for (int i = 0; i < kRandomCases; ++i) {
        const Bytes32 x = i < 25 ? specials[i % 5] : random_below(rng, kP);
        const Bytes32 y = i < 25 ? specials[i / 5] : random_below(rng, kP);
        const Bytes32 expected = ref_mul_mod(x.data(), y.data(), kP.data());
        Bytes32 out, sq;
        bn_mod_mul_p(out.data(), x.data(), y.data(), kP.data());
        ASSERT_EQ(out, expected) << bn_to_hex(x.data()) << " * " << bn_to_hex(y.data());
        bn_mod_square_p(sq.data(), x.data(), kP.data());
        ASSERT_EQ(sq, ref_mul_mod(x.data(), x.data(), kP.data()));
        // Any 512-bit value, not only products of reduced numbers.
        bn512 wide;
        for (auto& b : wide) b = static_cast<uint8_t>(rng());
        bn_mod_p_fast(out.data(), wide, kP.data());
        ASSERT_EQ(out, ref_mod(wide_of(wide, 64), kP.data()));
    }
}

TEST(BnModMul, ModNAgreesWithTheReference) {
    std::mt19937_64 rng(5);
    std::vector<Bytes32> specials = boundary_operands(kN);
    for (int i = 0; i < kRandomCases; ++i) {
        const Bytes32 x = i < 25 ? specials[i % 5] : random_below(rng, kN);
        const Bytes32 y = i < 25 ? specials[i / 5] : random_below(rng, kN);
        Bytes32 out;
        bn_mod_mul(out.data(), x.data(), y.data(), kN.data());
        ASSERT_EQ(out, ref_mul_mod(x.data(), y.data(), kN.data()))
            << bn_to_hex(x.data()) << " * " << bn_to_hex(y.data());
    }
}

TEST(BnModMul, AnyModulusAndFullWidthOperands) {
    std::mt19937_64 rng(6);
    std::vector<Bytes32> moduli = {kOne, bn_hex("02"), bn_hex("ff"), kAllOnes, kP, kN};
    for (int i = 0; i < 40; ++i) {
        Bytes32 m = random_bn(rng);
        for (size_t j = 1 + rng() % 32; j < 32; ++j) m[j] = 0;  // every bit length
        if (bn_is_zero(m.data())) m[0] = 1;
        moduli.push_back(m);
    }
    for (const Bytes32& m : moduli) {
        for (int i = 0; i < 30; ++i) {
            const Bytes32 x = i == 0 ? kAllOnes : random_bn(rng);
            const Bytes32 y = i == 0 ? kAllOnes : random_bn(rng);
            Bytes32 out;
            bn_mod_mul(out.data(), x.data(), y.data(), m.data());
            ASSERT_EQ(out, ref_mul_mod(x.data(), y.data(), m.data()))
                << bn_to_hex(x.data()) << " * " << bn_to_hex(y.data()) << " mod "
                << bn_to_hex(m.data());
        }
    }
}

TEST(BnModMul, ProductBelowTheModulusIsReturnedUnchanged) {
    const Bytes32 x = bn_hex("1234567890abcdef"), y = bn_hex("fedcba0987654321");
    bn512 product;
    bn_mul(product, x.data(), y.data());
    Bytes32 out;
    bn_mod_mul(out.data(), x.data(), y.data(), kN.data());
    EXPECT_EQ(0, std::memcmp(out.data(), product, 32));
    // x * y with fewer bits than m: step 2, even for a small modulus.
    bn_mod_mul(out.data(), bn_hex("03").data(), bn_hex("05").data(), bn_hex("10").data());
    EXPECT_EQ(out, bn_hex("0f"));
    // Output aliasing an input.
    Bytes32 a = minus_one(kN);
    bn_mod_mul(a.data(), a.data(), a.data(), kN.data());
    EXPECT_EQ(a, kOne);
}

TEST(BnModInv, InversesModNAndModP) {
    std::mt19937_64 rng(7);
    for (const Bytes32& m : {kN, kP}) {
        Bytes32 out;
        bn_mod_inv(out.data(), kZero.data(), m.data());
        EXPECT_TRUE(bn_is_zero(out.data()));
        bn_mod_inv(out.data(), kOne.data(), m.data());
        EXPECT_EQ(out, kOne);
        std::vector<Bytes32> xs = {bn_hex("02"), minus_one(m), minus_one(minus_one(m)), kAllOnes};
        for (int i = 0; i < 300; ++i) {
            Bytes32 x = random_below(rng, m);
            if (bn_is_zero(x.data())) x = kOne;
            xs.push_back(x);
        }
        for (const Bytes32& x : xs) {
            bn_mod_inv(out.data(), x.data(), m.data());
            ASSERT_LT(bn_cmp(out.data(), m.data()), 0);
            ASSERT_EQ(ref_mul_mod(x.data(), out.data(), m.data()), kOne)
                << bn_to_hex(x.data()) << " mod " << bn_to_hex(m.data());
        }
        // In place.
        Bytes32 x = bn_hex("02");
        bn_mod_inv(x.data(), x.data(), m.data());
        EXPECT_EQ(ref_mul_mod(x.data(), bn_hex("02").data(), m.data()), kOne);
    }
}

}  // namespace
