#include "crypto/ec.h"

#include "crypto/secure_wipe.h"

// Co-Z Jacobian arithmetic on the SM2 curve (a = -3). Field operations are modulo p.

namespace {

const uint8_t* const P = sm2_curve.p;

void fmul(bn256 out, const bn256 x, const bn256 y) {
    bn_mod_mul_p(out, x, y, P);
}
void fsqr(bn256 out, const bn256 x) {
    bn_mod_square_p(out, x, P);
}
void fadd(bn256 out, const bn256 x, const bn256 y) {
    bn_mod_add(out, x, y, P);
}
void fsub(bn256 out, const bn256 x, const bn256 y) {
    bn_mod_sub(out, x, y, P);
}

// x := x / 2 mod p.
void fhalve(bn256 x) {
    if (x[0] & 1) {
        const uint8_t carry = bn_add(x, x, P);
        bn_shift_right1(x);
        x[31] = static_cast<uint8_t>(x[31] | (carry << 7));
    } else {
        bn_shift_right1(x);
    }
}

void copy_point(bn256 x, bn256 y, const ec_point* from) {
    bn_copy(x, from->x);
    bn_copy(y, from->y);
}

}  // namespace

int ec_point_is_zero(const ec_point* point) {
    return bn_is_zero(point->x) && bn_is_zero(point->y);
}

void ec_jacobian_double(bn256 x, bn256 y, bn256 z) {
    if (bn_is_zero(z)) return;
    bn256 t4, t5;
    fsqr(t4, y);
    fmul(t5, x, t4);  // A = X Y^2
    fsqr(t4, t4);     // Y^4
    fmul(y, y, z);    // new Z
    fsqr(z, z);

    fadd(x, x, z);
    fadd(z, z, z);
    fsub(z, x, z);  // X - Z^2
    fmul(x, x, z);  // X^2 - Z^4

    fadd(z, x, x);
    fadd(x, x, z);  // 3 (X^2 - Z^4)
    fhalve(x);      // B

    fsqr(z, x);
    fsub(z, z, t5);
    fsub(z, z, t5);  // new X = B^2 - 2A
    fsub(t5, t5, z);
    fmul(x, x, t5);
    fsub(t4, x, t4);  // new Y = B (A - X') - Y^4

    bn_copy(x, z);
    bn_copy(z, y);
    bn_copy(y, t4);
    crypto_internal::secure_wipe(t4, sizeof t4);
    crypto_internal::secure_wipe(t5, sizeof t5);
}

void ec_scale_by_z(bn256 x, bn256 y, const bn256 z) {
    bn256 t;
    fsqr(t, z);
    fmul(x, x, t);
    fmul(t, t, z);
    fmul(y, y, t);
    crypto_internal::secure_wipe(t, sizeof t);
}

void ec_co_z_start(bn256 x1, bn256 y1, bn256 x2, bn256 y2, const bn256 z0) {
    bn_copy(x2, x1);
    bn_copy(y2, y1);
    bn256 z = {1};
    if (z0 != nullptr) bn_copy(z, z0);
    ec_scale_by_z(x1, y1, z);
    ec_jacobian_double(x1, y1, z);
    ec_scale_by_z(x2, y2, z);
}

void ec_add_co_z(bn256 x1, bn256 y1, bn256 x2, bn256 y2) {
    bn256 t5;
    fsub(t5, x2, x1);
    fsqr(t5, t5);      // A
    fmul(x1, x1, t5);  // B
    fmul(x2, x2, t5);  // C
    fsub(y2, y2, y1);
    fsqr(t5, y2);  // D

    fsub(t5, t5, x1);
    fsub(t5, t5, x2);  // x3 = D - B - C
    fsub(x2, x2, x1);  // C - B
    fmul(y1, y1, x2);
    fsub(x2, x1, t5);  // B - x3
    fmul(y2, y2, x2);
    fsub(y2, y2, y1);  // y3

    bn_copy(x2, t5);
    crypto_internal::secure_wipe(t5, sizeof t5);
}

void ec_add_conj_co_z(bn256 x1, bn256 y1, bn256 x2, bn256 y2) {
    bn256 t5, t6, t7;
    fsub(t5, x2, x1);
    fsqr(t5, t5);      // A
    fmul(x1, x1, t5);  // B
    fmul(x2, x2, t5);  // C
    fadd(t5, y2, y1);
    fsub(y2, y2, y1);

    fsub(t6, x2, x1);  // C - B
    fmul(y1, y1, t6);
    fadd(t6, x1, x2);  // B + C
    fsqr(x2, y2);
    fsub(x2, x2, t6);  // x3

    fsub(t7, x1, x2);
    fmul(y2, y2, t7);
    fsub(y2, y2, y1);  // y3

    fsqr(t7, t5);
    fsub(t7, t7, t6);  // x3'
    fsub(t6, t7, x1);
    fmul(t6, t6, t5);
    fsub(y1, t6, y1);  // y3'
    bn_copy(x1, t7);
    crypto_internal::secure_wipe(t5, sizeof t5);
    crypto_internal::secure_wipe(t6, sizeof t6);
    crypto_internal::secure_wipe(t7, sizeof t7);
}

namespace {

// The co-Z ladder of [k] point for k in [2, n - 2].
void ladder(ec_point* result, const ec_point* point, const bn256 k, const bn256 z0) {
    ec_point r[2];
    copy_point(r[1].x, r[1].y, point);
    ec_co_z_start(r[1].x, r[1].y, r[0].x, r[0].y, z0);

    for (int i = static_cast<int>(bn_num_bits(k)) - 2; i >= 1; --i) {
        const int b = bn_test_bit(k, static_cast<uint32_t>(i)) ? 1 : 0;
        ec_add_conj_co_z(r[b].x, r[b].y, r[1 - b].x, r[1 - b].y);
        ec_add_co_z(r[1 - b].x, r[1 - b].y, r[b].x, r[b].y);
    }
    const int b = bn_test_bit(k, 0) ? 1 : 0;
    ec_add_conj_co_z(r[b].x, r[b].y, r[1 - b].x, r[1 - b].y);

    // R[b] is now +-P on the final Z: recover that Z's inverse from the affine input.
    bn256 z;
    fsub(z, r[1].x, r[0].x);
    fmul(z, z, r[b].y);
    fmul(z, z, point->x);
    bn_mod_inv(z, z, P);
    fmul(z, z, point->y);
    fmul(z, z, r[b].x);

    ec_add_co_z(r[1 - b].x, r[1 - b].y, r[b].x, r[b].y);
    ec_scale_by_z(r[0].x, r[0].y, z);
    bn_copy(result->x, r[0].x);
    bn_copy(result->y, r[0].y);
    crypto_internal::secure_wipe(r, sizeof r);
    crypto_internal::secure_wipe(z, sizeof z);
}

}  // namespace

void ec_point_mul(ec_point* result, const ec_point* point, const bn256 k, const bn256 z0) {
    // The ladder is exact for k mod n in [2, n - 2]; 0, 1 and n - 1 are answered directly.
    // A k of n or more needs one subtraction, since 2n > 2^256.
    const uint8_t* const n = sm2_curve.n;
    bn256 kr;
    bn_copy(kr, k);
    if (bn_cmp(kr, n) >= 0) bn_sub(kr, kr, n);
    bn256 n_minus_1 = {1};
    bn_sub(n_minus_1, n, n_minus_1);

    if (bn_is_zero(kr)) {
        bn_clear(result->x);
        bn_clear(result->y);
    } else if (bn_num_bits(kr) == 1) {
        copy_point(result->x, result->y, point);
    } else if (bn_cmp(kr, n_minus_1) == 0) {
        bn256 y, zero = {0};
        fsub(y, zero, point->y);  // p - y
        bn_copy(result->x, point->x);
        bn_copy(result->y, y);
    } else {
        ladder(result, point, kr, z0);
    }
    crypto_internal::secure_wipe(kr, sizeof kr);
}

namespace {

// Complete affine addition for the cases the joint scan cannot take: infinity on either side,
// P + P and P + (-P).
void affine_add(ec_point* result, const ec_point* p1, const ec_point* p2) {
    if (ec_point_is_zero(p1)) {
        *result = *p2;
    } else if (ec_point_is_zero(p2)) {
        *result = *p1;
    } else if (bn_cmp(p1->x, p2->x) != 0) {
        ec_point_add(result, p1, p2);
    } else if (bn_cmp(p1->y, p2->y) != 0 || bn_is_zero(p1->y)) {
        bn_clear(result->x);
        bn_clear(result->y);
    } else {
        bn256 x, y, z = {1};
        copy_point(x, y, p1);
        ec_jacobian_double(x, y, z);
        bn_mod_inv(z, z, P);
        ec_scale_by_z(x, y, z);
        bn_copy(result->x, x);
        bn_copy(result->y, y);
    }
}

// The joint bit scan; false when it meets an addition of two points with the same x.
bool joint_scan(ec_point* result, const ec_point* p1, const ec_point* p2, const bn256 u1,
                const bn256 u2) {
    ec_point table[4];
    table[1] = *p1;
    table[2] = *p2;
    bn256 tx, ty, z;
    copy_point(table[3].x, table[3].y, p2);
    copy_point(tx, ty, p1);
    fsub(z, table[3].x, tx);
    if (bn_is_zero(z)) return false;
    ec_add_co_z(tx, ty, table[3].x, table[3].y);
    bn_mod_inv(z, z, P);
    ec_scale_by_z(table[3].x, table[3].y, z);

    const uint32_t nbits = max_u32(bn_num_bits(u1), bn_num_bits(u2));
    auto index_at = [&](int i) {
        const uint32_t bit = static_cast<uint32_t>(i);
        return (bn_test_bit(u1, bit) ? 1 : 0) + (bn_test_bit(u2, bit) ? 2 : 0);
    };
    bn256 rx, ry;
    const int top = index_at(static_cast<int>(nbits) - 1);
    copy_point(rx, ry, &table[top]);
    bn256 zr = {1};

    for (int i = static_cast<int>(nbits) - 2; i >= 0; --i) {
        ec_jacobian_double(rx, ry, zr);
        const int index = index_at(i);
        if (index == 0) continue;
        copy_point(tx, ty, &table[index]);
        ec_scale_by_z(tx, ty, zr);
        bn256 tz;
        fsub(tz, rx, tx);
        if (bn_is_zero(tz)) return false;
        ec_add_co_z(tx, ty, rx, ry);
        fmul(zr, zr, tz);
    }
    bn_mod_inv(zr, zr, P);
    ec_scale_by_z(rx, ry, zr);
    bn_copy(result->x, rx);
    bn_copy(result->y, ry);
    return true;
}

}  // namespace

void ec_double_point_mul(ec_point* result, const ec_point* p1, const ec_point* p2, const bn256 u1,
                         const bn256 u2) {
    if (bn_is_zero(u1) && bn_is_zero(u2)) {
        bn_clear(result->x);
        bn_clear(result->y);
        return;
    }
    ec_point sum;
    if (joint_scan(&sum, p1, p2, u1, u2)) {
        *result = sum;
        return;
    }
    // P2 = +-P1 or an intermediate sum equal to the entry being added: two ladders instead.
    ec_point a, b;
    ec_point_mul(&a, p1, u1, nullptr);
    ec_point_mul(&b, p2, u2, nullptr);
    affine_add(result, &a, &b);
}

void ec_point_add(ec_point* result, const ec_point* p1, const ec_point* p2) {
    bn256 x1, y1, x2, y2, z;
    copy_point(x1, y1, p1);
    copy_point(x2, y2, p2);
    fsub(z, x2, x1);
    ec_add_co_z(x1, y1, x2, y2);
    bn_mod_inv(z, z, P);
    ec_scale_by_z(x2, y2, z);
    bn_copy(result->x, x2);
    bn_copy(result->y, y2);
}
