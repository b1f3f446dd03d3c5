// Unsigned 256-bit arithmetic for the SM2 field (mod p) and scalars (mod n) on byte limbs, and the
// SM2 curve constants.
//
// A bn256 is 32 little-endian limbs (limb 0 least significant); a bn512 is the 64-limb product.
// Outputs come first. Every output except that of bn_mul and bn_square may alias an input.
//
// The SM2 routines compute on the 64-bit words of crypto/sm2_fast.h. The bn256 form is how numbers
// and points are passed between them, and the plain steps around the fast code (conversion,
// comparison, r + s in verification) are done here. The modular functions (bn_mod_*), with the
// curve arithmetic of crypto/ec.h, serve as the reference ladder for the points that the fast
// code does not take (a point that is not on the curve) and as the oracle of its tests.
#pragma once

#include <cstdint>

extern "C" {

typedef uint8_t bn256[32];
typedef uint8_t bn512[64];

// An affine point: x then y. The point at infinity is (0, 0).
struct ec_point {
    bn256 x;
    bn256 y;
};

// The SM2 recommended curve of GB/T 32918.5, in this order. g is Gx directly followed by Gy.
struct sm2_curve_params {
    uint8_t default_id[16];  // default distinguishing identifier, ENTL = 128 bits
    ec_point g;
    bn256 p;
    bn256 n;
    bn256 h;
    bn256 a;
    bn256 b;
};

extern const sm2_curve_params sm2_curve;

void bn_clear(bn256 x);
int bn_is_zero(const bn256 x);
// Nonzero when bit i (0..255) is set.
int bn_test_bit(const bn256 x, uint32_t i);
// Limbs up to and including the most significant nonzero limb; 0 for zero.
uint32_t bn_num_digits(const bn256 x);
uint32_t bn_num_bits(const bn256 x);
void bn_copy(bn256 out, const bn256 x);
// 1 if x > y, -1 if x < y, 0 if equal.
int bn_cmp(const bn256 x, const bn256 y);
// out := x << shift for shift 1..7; returns the bits that leave limb 31.
uint8_t bn_shift_left(bn256 out, const bn256 x, uint32_t shift);
void bn_shift_right1(bn256 x);
// Return the carry (borrow).
uint8_t bn_add(bn256 out, const bn256 x, const bn256 y);
uint8_t bn_sub(bn256 out, const bn256 x, const bn256 y);
void bn_mul(bn512 out, const bn256 x, const bn256 y);
void bn_square(bn512 out, const bn256 x);
// For x, y below m; subtract (add) m at most once.
void bn_mod_add(bn256 out, const bn256 x, const bn256 y, const bn256 m);
void bn_mod_sub(bn256 out, const bn256 x, const bn256 y, const bn256 m);
// out := product mod p, with the word schedule of the SM2 prime; every caller passes p.
void bn_mod_p_fast(bn256 out, const bn512 product, const bn256 p);
void bn_mod_mul_p(bn256 out, const bn256 x, const bn256 y, const bn256 p);
void bn_mod_square_p(bn256 out, const bn256 x, const bn256 p);
// out := x * y mod m for any m from 1 to 2^256 - 1.
void bn_mod_mul(bn256 out, const bn256 x, const bn256 y, const bn256 m);
// out := x^-1 mod m for odd m and x coprime to m; x = 0 gives 0.
void bn_mod_inv(bn256 out, const bn256 x, const bn256 m);
// 32 big-endian bytes to a bn256 and back (the same reversal); out may equal in.
void bn_from_bytes(bn256 out, const uint8_t* in);
void bn_to_bytes(uint8_t* out, const bn256 in);
uint32_t max_u32(uint32_t a, uint32_t b);

}  // extern "C"
