// Small helpers shared by the SM2 tests: numbers and points from big-endian hex text.
#pragma once

#include <array>
#include <cstdint>
#include <random>
#include <string>

#include "crypto/bn256.h"
#include "crypto/ec.h"
#include "tests/support/vectors.h"

namespace sm2_test {

using Bytes32 = std::array<uint8_t, 32>;

// A bn256 (limbs) from 64 hex digits written most significant first.
inline Bytes32 bn_hex(const std::string& hex) {
    const std::vector<uint8_t> be = testing_support::from_hex(hex);
    Bytes32 out{};
    for (size_t i = 0; i < be.size() && i < 32; ++i) out[i] = be[be.size() - 1 - i];
    return out;
}

inline std::string bn_to_hex(const uint8_t* x) {
    uint8_t be[32];
    for (int i = 0; i < 32; ++i) be[i] = x[31 - i];
    return testing_support::to_hex(be, 32);
}

inline ec_point point_of(const Bytes32& x, const Bytes32& y) {
    ec_point p;
    bn_copy(p.x, x.data());
    bn_copy(p.y, y.data());
    return p;
}

inline bool same_point(const ec_point& a, const ec_point& b) {
    return bn_cmp(a.x, b.x) == 0 && bn_cmp(a.y, b.y) == 0;
}

inline Bytes32 curve_value(const uint8_t* limbs) {
    Bytes32 out;
    for (int i = 0; i < 32; ++i) out[i] = limbs[i];
    return out;
}

// 32 bytes from rng.
inline Bytes32 random_bn(std::mt19937_64& rng) {
    Bytes32 out;
    for (auto& b : out) b = static_cast<uint8_t>(rng());
    return out;
}

inline Bytes32 small(uint8_t v) {
    Bytes32 x{};
    x[0] = v;
    return x;
}

// [k] p through the reference ladder (the byte-limb ec_point_mul).
inline ec_point ladder_mul(const ec_point& p, const Bytes32& k) {
    ec_point out;
    ec_point_mul(&out, &p, k.data(), nullptr);
    return out;
}

inline ec_point negate(const ec_point& p) {
    ec_point out = p;
    bn256 zero = {0};
    bn_mod_sub(out.y, zero, p.y, sm2_curve.p);
    return out;
}

}  // namespace sm2_test
