#include "crypto/bn256.h"

// Plain 256-bit operations on byte limbs. No intermediate is wider than 16 bits.

void bn_clear(bn256 x) {
    for (int i = 0; i < 32; ++i) x[i] = 0;
}

int bn_is_zero(const bn256 x) {
    for (int i = 0; i < 32; ++i)
        if (x[i] != 0) return 0;
    return 1;
}

int bn_test_bit(const bn256 x, uint32_t i) {
    return (x[i / 8] >> (i % 8)) & 1;
}

uint32_t bn_num_digits(const bn256 x) {
    uint32_t digits = 32;
    while (digits > 0 && x[digits - 1] == 0) --digits;
    return digits;
}

uint32_t bn_num_bits(const bn256 x) {
    const uint32_t digits = bn_num_digits(x);
    if (digits == 0) return 0;
    uint32_t top_bits = 0;
    for (uint8_t top = x[digits - 1]; top != 0; top >>= 1) ++top_bits;
    return 8 * (digits - 1) + top_bits;
}

void bn_copy(bn256 out, const bn256 x) {
    for (int i = 0; i < 32; ++i) out[i] = x[i];
}

int bn_cmp(const bn256 x, const bn256 y) {
    for (int i = 31; i >= 0; --i) {
        if (x[i] > y[i]) return 1;
        if (x[i] < y[i]) return -1;
    }
    return 0;
}

uint8_t bn_shift_left(bn256 out, const bn256 x, uint32_t shift) {
    uint8_t carry = 0;
    for (int i = 0; i < 32; ++i) {
        const uint8_t limb = x[i];
        out[i] = static_cast<uint8_t>((limb << shift) | carry);
        carry = static_cast<uint8_t>(limb >> (8 - shift));
    }
    return carry;
}

void bn_shift_right1(bn256 x) {
    uint8_t carry = 0;
    for (int i = 31; i >= 0; --i) {
        const uint8_t limb = x[i];
        x[i] = static_cast<uint8_t>((limb >> 1) | (carry << 7));
        carry = limb & 1;
    }
}

uint8_t bn_add(bn256 out, const bn256 x, const bn256 y) {
    uint8_t carry = 0;
    for (int i = 0; i < 32; ++i) {
        const uint8_t xi = x[i];
        const uint8_t sum = static_cast<uint8_t>(xi + y[i] + carry);
        if (sum != xi) carry = sum < xi;
        out[i] = sum;
    }
    return carry;
}

uint8_t bn_sub(bn256 out, const bn256 x, const bn256 y) {
    uint8_t borrow = 0;
    for (int i = 0; i < 32; ++i) {
        const uint8_t xi = x[i];
        const uint8_t diff = static_cast<uint8_t>(xi - y[i] - borrow);
        if (diff != xi) borrow = diff > xi;
        out[i] = diff;
    }
    return borrow;
}

namespace {

// Column accumulator of the product scan: a 16-bit part (r0, r1) and an overflow byte r2.
struct Accumulator {
    uint16_t low = 0;
    uint8_t r2 = 0;

    void add(uint16_t product) {
        const uint16_t sum = static_cast<uint16_t>(low + product);
        if (sum < low) ++r2;
        low = sum;
    }
    // Returns r0 and moves the accumulator down one byte.
    uint8_t shift_out() {
        const uint8_t r0 = static_cast<uint8_t>(low);
        low = static_cast<uint16_t>((low >> 8) | (r2 << 8));
        r2 = 0;
        return r0;
    }
};

uint16_t limb_product(uint8_t a, uint8_t b) {
    return static_cast<uint16_t>(a * b);
}

}  // namespace

void bn_mul(bn512 out, const bn256 x, const bn256 y) {
    Accumulator acc;
    for (int k = 0; k < 63; ++k) {
        const int first = k > 31 ? k - 31 : 0;
        const int last = k < 31 ? k : 31;
        for (int i = first; i <= last; ++i) acc.add(limb_product(x[i], y[k - i]));
        out[k] = acc.shift_out();
    }
    out[63] = acc.shift_out();
}

void bn_square(bn512 out, const bn256 x) {
    Accumulator acc;
    for (int k = 0; k < 63; ++k) {
        for (int i = k > 31 ? k - 31 : 0; i <= k - i; ++i) {
            const uint16_t product = limb_product(x[i], x[k - i]);
            if (i < k - i) {
                acc.r2 = static_cast<uint8_t>(acc.r2 + (product >> 15));
                acc.add(static_cast<uint16_t>(product << 1));
            } else {
                acc.add(product);
            }
        }
        out[k] = acc.shift_out();
    }
    out[63] = acc.shift_out();
}

void bn_from_bytes(bn256 out, const uint8_t* in) {
    for (int i = 0; i < 16; ++i) {
        const uint8_t low = in[i];
        const uint8_t high = in[31 - i];
        out[i] = high;
        out[31 - i] = low;
    }
}

void bn_to_bytes(uint8_t* out, const bn256 in) {
    bn_from_bytes(out, in);
}

uint32_t max_u32(uint32_t a, uint32_t b) {
    return a > b ? a : b;
}
