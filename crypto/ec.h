// Point arithmetic on the SM2 curve y^2 = x^3 - 3x + b over GF(p), on the byte limbs of
// crypto/bn256.h: a co-Z Montgomery ladder and a joint double multiplication.
//
// The SM2 routines multiply points with the fast code of crypto/sm2_fast.h. These functions
// serve as the reference ladder for the points that the fast code does not take (a public key or
// peer point that is not on the curve, whose results are the ladder's own) and as the oracle of
// the fast code's tests. Nothing here takes constant time.
//
// Jacobian (X, Y, Z) stands for (X / Z^2, Y / Z^3). A co-Z pair is two points that share one Z,
// which is not stored. Coordinates passed in are below p; every result is below p.
#pragma once

#include "crypto/bn256.h"

extern "C" {

int ec_point_is_zero(const ec_point* point);
// (X, Y, Z) := 2 (X, Y, Z); nothing changes when Z = 0.
void ec_jacobian_double(bn256 x, bn256 y, bn256 z);
// X := X * Z^2, Y := Y * Z^3.
void ec_scale_by_z(bn256 x, bn256 y, const bn256 z);
// From the affine P in (x1, y1): (x1, y1) := 2P, (x2, y2) := P, co-Z. z0 may be null (Z = 1).
void ec_co_z_start(bn256 x1, bn256 y1, bn256 x2, bn256 y2, const bn256 z0);
// Co-Z P in (x1, y1), Q in (x2, y2): (x2, y2) := P + Q, (x1, y1) := P, on Z * (x2 - x1).
void ec_add_co_z(bn256 x1, bn256 y1, bn256 x2, bn256 y2);
// Co-Z P, Q: (x2, y2) := P + Q, (x1, y1) := P - Q, co-Z.
void ec_add_conj_co_z(bn256 x1, bn256 y1, bn256 x2, bn256 y2);
// result := [k] point, affine; result may be point. z0 may be null (Z = 1).
void ec_point_mul(ec_point* result, const ec_point* point, const bn256 k, const bn256 z0);
// result := [u1] p1 + [u2] p2, affine; u1 and u2 not both zero.
void ec_double_point_mul(ec_point* result, const ec_point* p1, const ec_point* p2, const bn256 u1,
                         const bn256 u2);
// result := p1 + p2, affine; points with the same x give (0, 0).
void ec_point_add(ec_point* result, const ec_point* p1, const ec_point* p2);

}  // extern "C"
