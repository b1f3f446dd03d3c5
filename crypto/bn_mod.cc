#include <cstdint>

#include "base/byte_access.h"
#include "crypto/bn256.h"
#include "crypto/secure_wipe.h"

// Modular operations: the fast reduction for the SM2 prime, the general bit-serial reduction used
// for the group order, and the binary inverse.

void bn_mod_add(bn256 out, const bn256 x, const bn256 y, const bn256 m) {
    const uint8_t carry = bn_add(out, x, y);
    if (carry || bn_cmp(out, m) >= 0) bn_sub(out, out, m);
}

void bn_mod_sub(bn256 out, const bn256 x, const bn256 y, const bn256 m) {
    if (bn_sub(out, x, y)) bn_add(out, out, m);
}

namespace {

uint32_t word_of(const uint8_t* limbs, int j) {
    return bytes::load_le32(limbs + 4 * j);
}

// The number holding the word value c at each listed word position and zero elsewhere.
template <int N>
void word_term(bn256 out, uint32_t c, const int (&positions)[N]) {
    bn_clear(out);
    for (int j : positions) bytes::store_le32(out + 4 * j, c);
}

// Running sum of the reduction with its signed carry beyond 2^256.
struct FoldSum {
    bn256 r;
    int carry = 0;

    template <int N>
    void add(uint32_t c, const int (&positions)[N]) {
        bn256 term;
        word_term(term, c, positions);
        carry += bn_add(r, r, term);
        crypto_internal::secure_wipe(term, sizeof term);
    }
    template <int N>
    void sub(uint32_t c, const int (&positions)[N]) {
        bn256 term;
        word_term(term, c, positions);
        carry -= bn_sub(r, r, term);
        crypto_internal::secure_wipe(term, sizeof term);
    }
};

}  // namespace

// From 2^256 = 2^224 + 2^96 - 2^64 + 1 (mod p), each high word c8..c15 folds into the low half.
void bn_mod_p_fast(bn256 out, const bn512 product, const bn256 p) {
    FoldSum f;
    bn_copy(f.r, product);
    uint32_t c[16];
    for (int j = 0; j < 16; ++j) c[j] = word_of(product, j);

    f.add(c[8], {0, 3, 7});
    f.sub(c[8], {2});
    f.add(c[9], {0, 1, 4, 7});
    f.sub(c[9], {2});
    f.add(c[10], {0, 1, 5, 7});
    f.add(c[11], {0, 1, 3, 6, 7});
    f.add(c[12], {0, 1, 3, 4, 7});
    f.add(c[12], {7});
    f.add(c[13], {0, 1, 3, 4, 5, 7});
    f.add(c[13], {0, 3, 7});
    f.sub(c[13], {2});
    f.add(c[14], {0, 1, 3, 4, 5, 6, 7});
    f.add(c[14], {0, 1, 4, 7});
    f.sub(c[14], {2});

    bn256 twice_c15_at_7;
    word_term(twice_c15_at_7, c[15], {7});
    f.carry += bn_shift_left(twice_c15_at_7, twice_c15_at_7, 1);
    f.add(c[15], {0, 1, 3, 4, 5, 6, 7});
    f.add(c[15], {0, 1, 5});
    f.carry += bn_add(f.r, f.r, twice_c15_at_7);

    if (f.carry < 0) {
        while (f.carry < 0) f.carry += bn_add(f.r, f.r, p);
    } else {
        while (f.carry != 0 || bn_cmp(f.r, p) >= 0) f.carry -= bn_sub(f.r, f.r, p);
    }
    bn_copy(out, f.r);
    crypto_internal::secure_wipe(&f, sizeof f);
    crypto_internal::secure_wipe(c, sizeof c);
    crypto_internal::secure_wipe(twice_c15_at_7, sizeof twice_c15_at_7);
}

void bn_mod_mul_p(bn256 out, const bn256 x, const bn256 y, const bn256 p) {
    bn512 product;
    bn_mul(product, x, y);
    bn_mod_p_fast(out, product, p);
    crypto_internal::secure_wipe(product, sizeof product);
}

void bn_mod_square_p(bn256 out, const bn256 x, const bn256 p) {
    bn512 product;
    bn_square(product, x);
    bn_mod_p_fast(out, product, p);
    crypto_internal::secure_wipe(product, sizeof product);
}

namespace {

// The 512-bit comparison of bn_mod_mul: high halves first.
int cmp512(const bn512 x, const bn512 y) {
    const int high = bn_cmp(x + 32, y + 32);
    return high != 0 ? high : bn_cmp(x, y);
}

void sub512(bn512 x, const bn512 y) {
    if (bn_sub(x, x, y)) {
        bn256 one = {1};
        bn_sub(x + 32, x + 32, one);
    }
    bn_sub(x + 32, x + 32, y + 32);
}

void shift_right1_512(bn512 x) {
    const uint8_t carried = x[32] & 1;
    bn_shift_right1(x + 32);
    bn_shift_right1(x);
    x[31] = static_cast<uint8_t>(x[31] | (carried << 7));
}

}  // namespace

void bn_mod_mul(bn256 out, const bn256 x, const bn256 y, const bn256 m) {
    bn512 prod;
    bn_mul(prod, x, y);
    const uint32_t mbits = bn_num_bits(m);
    uint32_t pbits = bn_is_zero(prod + 32) ? bn_num_bits(prod) : 256 + bn_num_bits(prod + 32);

    if (pbits >= mbits) {
        // mm := m << (pbits - mbits); its bit length is pbits <= 512, so nothing leaves limb 63.
        bn512 mm = {};
        const uint32_t offset = (pbits - mbits) / 8;
        const uint32_t bit_shift = (pbits - mbits) % 8;
        bn256 shifted;
        uint8_t top = 0;
        if (bit_shift == 0) {
            bn_copy(shifted, m);
        } else {
            top = bn_shift_left(shifted, m, bit_shift);
        }
        for (uint32_t i = 0; i < 32 && offset + i < 64; ++i) mm[offset + i] = shifted[i];
        if (offset + 32 < 64) mm[offset + 32] = top;

        while (pbits > 256 || bn_cmp(mm, m) >= 0) {
            if (cmp512(mm, prod) <= 0) sub512(prod, mm);
            shift_right1_512(mm);
            --pbits;
        }
        crypto_internal::secure_wipe(mm, sizeof mm);
    }
    bn_copy(out, prod);
    crypto_internal::secure_wipe(prod, sizeof prod);
}

namespace {

// w := w / 2 mod m for odd m and w < m.
void halve_mod(bn256 w, const bn256 m) {
    if (w[0] & 1) {
        const uint8_t carry = bn_add(w, w, m);
        bn_shift_right1(w);
        w[31] = static_cast<uint8_t>(w[31] | (carry << 7));
    } else {
        bn_shift_right1(w);
    }
}

}  // namespace

void bn_mod_inv(bn256 out, const bn256 x, const bn256 m) {
    if (bn_is_zero(x)) {
        bn_clear(out);
        return;
    }
    bn256 a, b, u = {1}, v = {0};
    bn_copy(a, x);
    bn_copy(b, m);
    while (bn_cmp(a, b) != 0) {
        if ((a[0] & 1) == 0) {
            bn_shift_right1(a);
            halve_mod(u, m);
        } else if ((b[0] & 1) == 0) {
            bn_shift_right1(b);
            halve_mod(v, m);
        } else if (bn_cmp(a, b) > 0) {
            bn_sub(a, a, b);
            bn_shift_right1(a);
            if (bn_cmp(u, v) < 0) bn_add(u, u, m);
            bn_sub(u, u, v);
            halve_mod(u, m);
        } else {
            bn_sub(b, b, a);
            bn_shift_right1(b);
            if (bn_cmp(v, u) < 0) bn_add(v, v, m);
            bn_sub(v, v, u);
            halve_mod(v, m);
        }
    }
    bn_copy(out, u);
    crypto_internal::secure_wipe(a, sizeof a);
    crypto_internal::secure_wipe(b, sizeof b);
    crypto_internal::secure_wipe(u, sizeof u);
    crypto_internal::secure_wipe(v, sizeof v);
}
