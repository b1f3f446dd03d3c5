#include "crypto/sm2_fast.h"

#include <atomic>
#include <cstdint>
#if defined(HALDEN_CT_VALGRIND)
#include <cstdlib>
#include <cstring>
#endif

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include "crypto/constant_time.h"
#include "crypto/cpu_features.h"

// SM2 arithmetic on four 64-bit words, least significant first. Field elements are Montgomery
// residues x * 2^256 mod p; scalars are Montgomery residues modulo n while they are multiplied.

namespace crypto_internal::sm2_fast {
namespace {

using u64 = uint64_t;
using u128 = unsigned __int128;

struct Fe {
    u64 v[4];
};

#if defined(__GNUC__)
#define SM2_INLINE inline __attribute__((always_inline))
#else
#define SM2_INLINE inline
#endif

struct AffinePoint {
    Fe x, y;
};

// Jacobian (X, Y, Z) = (X / Z^2, Y / Z^3); Z = 0 is the point at infinity.
struct JacobianPoint {
    Fe x, y, z;
};

#include "crypto/sm2_tables.inc"

constexpr Fe kP = {
    {0xffffffffffffffffULL, 0xffffffff00000000ULL, 0xffffffffffffffffULL, 0xfffffffeffffffffULL}};
constexpr Fe kN = {
    {0x53bbf40939d54123ULL, 0x7203df6b21c6052bULL, 0xffffffffffffffffULL, 0xfffffffeffffffffULL}};
// (n - 1) / 2: scalars above it are negated so that every window sum stays below n / 2.
constexpr Fe kHalfN = {
    {0xa9ddfa049ceaa091ULL, 0xb901efb590e30295ULL, 0xffffffffffffffffULL, 0x7fffffff7fffffffULL}};
constexpr Fe kNMinus2 = {
    {0x53bbf40939d54121ULL, 0x7203df6b21c6052bULL, 0xffffffffffffffffULL, 0xfffffffeffffffffULL}};
// -n^-1 mod 2^64; for p it is 1.
constexpr u64 kN0 = 0x327f9e8872350975ULL;
// 2^512 mod p and mod n: Montgomery multiplication by them enters the Montgomery domain.
constexpr Fe kRRp = {
    {0x0000000200000003ULL, 0x00000002ffffffffULL, 0x0000000100000001ULL, 0x0000000400000002ULL}};
constexpr Fe kRRn = {
    {0x901192af7c114f20ULL, 0x3464504ade6fa2faULL, 0x620fc84c3affe0d4ULL, 0x1eb5e412a22b3d3bULL}};
// 1 and b in Montgomery form modulo p.
constexpr Fe kOneP = {
    {0x0000000000000001ULL, 0x00000000ffffffffULL, 0x0000000000000000ULL, 0x0000000100000000ULL}};
constexpr Fe kBMont = {
    {0x90d230632bc0dd42ULL, 0x71cf379ae9b537abULL, 0x527981505ea51c3cULL, 0x240fe188ba20e2c8ULL}};

// Carry and borrow bits of the word chains.
using Carry = unsigned char;

SM2_INLINE u64 addc(u64 a, u64 b, Carry& carry) {
#if defined(__x86_64__)
    unsigned long long out;
    carry = _addcarry_u64(carry, a, b, &out);
    return out;
#else
    const u128 s = static_cast<u128>(a) + b + carry;
    carry = static_cast<Carry>(s >> 64);
    return static_cast<u64>(s);
#endif
}

SM2_INLINE u64 subb(u64 a, u64 b, Carry& borrow) {
#if defined(__x86_64__)
    unsigned long long out;
    borrow = _subborrow_u64(borrow, a, b, &out);
    return out;
#else
    const u128 d = static_cast<u128>(a) - b - borrow;
    borrow = static_cast<Carry>(d >> 64) & 1;
    return static_cast<u64>(d);
#endif
}

void load(Fe& out, const bn256 in) {
    for (int i = 0; i < 4; ++i) {
        u64 w = 0;
        for (int b = 7; b >= 0; --b) w = (w << 8) | in[8 * i + b];
        out.v[i] = w;
    }
}

void store(bn256 out, const Fe& in) {
    for (int i = 0; i < 4; ++i)
        for (int b = 0; b < 8; ++b) out[8 * i + b] = static_cast<uint8_t>(in.v[i] >> (8 * b));
}

// mask ? a : b, word by word.
inline void select(Fe& out, u64 mask, const Fe& a, const Fe& b) {
    for (int i = 0; i < 4; ++i) out.v[i] = ct_select(mask, a.v[i], b.v[i]);
}

inline u64 is_zero_mask(const Fe& a) {
    return ct_is_zero_mask(a.v[0] | a.v[1] | a.v[2] | a.v[3]);
}

inline bool equal(const Fe& a, const Fe& b) {
    return ((a.v[0] ^ b.v[0]) | (a.v[1] ^ b.v[1]) | (a.v[2] ^ b.v[2]) | (a.v[3] ^ b.v[3])) == 0;
}

// Borrow of a - b: 1 when a < b.
inline u64 less_than(const Fe& a, const Fe& b) {
    Carry borrow = 0;
    for (int i = 0; i < 4; ++i) subb(a.v[i], b.v[i], borrow);
    return borrow;
}

// out := (hi * 2^256 + r) reduced once by m, for a value below 2m.
SM2_INLINE void final_subtract(Fe& out, const u64 r[4], u64 hi, const Fe& m) {
    u64 d[4];
    Carry borrow = 0;
    for (int i = 0; i < 4; ++i) d[i] = subb(r[i], m.v[i], borrow);
    // Add m back only when r < m with nothing above 2^256.
    const u64 keep = 0 - (u64{borrow} & (hi ^ 1));
    Carry carry = 0;
    for (int i = 0; i < 4; ++i) out.v[i] = addc(d[i], m.v[i] & keep, carry);
}

SM2_INLINE void mod_add(Fe& out, const Fe& a, const Fe& b, const Fe& m) {
    u64 r[4];
    Carry carry = 0;
    for (int i = 0; i < 4; ++i) r[i] = addc(a.v[i], b.v[i], carry);
    final_subtract(out, r, carry, m);
}

SM2_INLINE void mod_sub(Fe& out, const Fe& a, const Fe& b, const Fe& m) {
    u64 r[4];
    Carry borrow = 0;
    for (int i = 0; i < 4; ++i) r[i] = subb(a.v[i], b.v[i], borrow);
    const u64 mask = 0 - u64{borrow};
    Carry carry = 0;
    for (int i = 0; i < 4; ++i) out.v[i] = addc(r[i], m.v[i] & mask, carry);
}

// t[0..7] := a * b.
SM2_INLINE void mul_wide(u64 t[8], const Fe& a, const Fe& b) {
    for (int i = 0; i < 8; ++i) t[i] = 0;
    for (int i = 0; i < 4; ++i) {
        u64 carry = 0;
        for (int j = 0; j < 4; ++j) {
            const u128 acc = static_cast<u128>(a.v[i]) * b.v[j] + t[i + j] + carry;
            t[i + j] = static_cast<u64>(acc);
            carry = static_cast<u64>(acc >> 64);
        }
        t[i + 4] = carry;
    }
}

// (hi, lo) := a * b.
SM2_INLINE u64 mul_lo_hi(u64 a, u64 b, u64& hi) {
    const u128 p = static_cast<u128>(a) * b;
    hi = static_cast<u64>(p >> 64);
    return static_cast<u64>(p);
}

// t[i .. i + 4] := t[i .. i + 3] + ai * b, the products' low and high words in two chains.
SM2_INLINE void mul_row(u64& t0, u64& t1, u64& t2, u64& t3, u64& t4, u64 ai, const Fe& b) {
    u64 h0, h1, h2, h3;
    const u64 l0 = mul_lo_hi(ai, b.v[0], h0);
    const u64 l1 = mul_lo_hi(ai, b.v[1], h1);
    const u64 l2 = mul_lo_hi(ai, b.v[2], h2);
    const u64 l3 = mul_lo_hi(ai, b.v[3], h3);
    Carry c = 0;
    t0 = addc(t0, l0, c);
    t1 = addc(t1, l1, c);
    t2 = addc(t2, l2, c);
    t3 = addc(t3, l3, c);
    t4 = c;
    c = 0;
    t1 = addc(t1, h0, c);
    t2 = addc(t2, h1, c);
    t3 = addc(t3, h2, c);
    t4 = addc(t4, h3, c);
}

// One reduction round of Montgomery modulo p. With -p^-1 = 1 mod 2^64 the multiplier is m = t0,
// and m p = m * (2^256 - 2^224 - 2^96 + 2^64 - 1) clears t0 and adds
// V = m * (2^192 - 2^160 - 2^32 + 1) to t1..t4. carry enters at t4 (the carry out of the previous
// round's top word; V's top word plus 1 never wraps) and leaves from t4.
SM2_INLINE void redc_round(u64 t0, u64& t1, u64& t2, u64& t3, u64& t4, Carry& carry) {
    const u64 lo = t0 << 32, hi = t0 >> 32;
    Carry borrow = 0;
    const u64 v0 = subb(t0, lo, borrow);
    const u64 v1 = subb(0, hi, borrow);
    const u64 v2 = subb(0, lo, borrow);
    const u64 v3 = subb(t0, hi, borrow) + carry;
    Carry c = 0;
    t1 = addc(t1, v0, c);
    t2 = addc(t2, v1, c);
    t3 = addc(t3, v2, c);
    t4 = addc(t4, v3, c);
    carry = c;
}

// out := t / 2^256 mod p, reduced once, for the product t = t0 + t1 2^64 + ... + t7 2^448.
SM2_INLINE void redc_p(Fe& out, u64 t0, u64 t1, u64 t2, u64 t3, u64 t4, u64 t5, u64 t6, u64 t7) {
    Carry carry = 0;
    redc_round(t0, t1, t2, t3, t4, carry);
    redc_round(t1, t2, t3, t4, t5, carry);
    redc_round(t2, t3, t4, t5, t6, carry);
    redc_round(t3, t4, t5, t6, t7, carry);
    const u64 r[4] = {t4, t5, t6, t7};
    final_subtract(out, r, carry, kP);
}

SM2_INLINE void fmul_portable(Fe& out, const Fe& a, const Fe& b) {
    u64 t0 = 0, t1 = 0, t2 = 0, t3 = 0, t4, t5, t6, t7;
    mul_row(t0, t1, t2, t3, t4, a.v[0], b);
    mul_row(t1, t2, t3, t4, t5, a.v[1], b);
    mul_row(t2, t3, t4, t5, t6, a.v[2], b);
    mul_row(t3, t4, t5, t6, t7, a.v[3], b);
    redc_p(out, t0, t1, t2, t3, t4, t5, t6, t7);
}

// Montgomery reduction modulo n (generic, with kN0).
inline void redc_n(Fe& out, u64 t[8]) {
    u64 top = 0;
    for (int i = 0; i < 4; ++i) {
        const u64 m = t[i] * kN0;
        u64 high = 0;
        for (int j = 0; j < 4; ++j) {
            const u128 acc = static_cast<u128>(m) * kN.v[j] + t[i + j] + high;
            t[i + j] = static_cast<u64>(acc);
            high = static_cast<u64>(acc >> 64);
        }
        Carry carry = 0;
        t[i + 4] = addc(t[i + 4], high, carry);
        for (int j = i + 5; j < 8; ++j) t[j] = addc(t[j], 0, carry);
        top += carry;
    }
    final_subtract(out, t + 4, top, kN);
}

// ---- Field modulo p (Montgomery form) ----

// The six cross products once, doubled, plus the four squares; then the reduction of fmul.
SM2_INLINE void fsqr_portable(Fe& out, const Fe& a) {
    const u64 a0 = a.v[0], a1 = a.v[1], a2 = a.v[2], a3 = a.v[3];
    u64 h01, h02, h03, h12, h13, h23;
    const u64 l01 = mul_lo_hi(a0, a1, h01);
    const u64 l02 = mul_lo_hi(a0, a2, h02);
    const u64 l03 = mul_lo_hi(a0, a3, h03);
    const u64 l12 = mul_lo_hi(a1, a2, h12);
    const u64 l13 = mul_lo_hi(a1, a3, h13);
    const u64 l23 = mul_lo_hi(a2, a3, h23);
    Carry c = 0;
    u64 t1 = l01;
    u64 t2 = addc(l02, h01, c);
    u64 t3 = addc(l03, h02, c);
    u64 t4 = addc(h03, 0, c);
    c = 0;
    t3 = addc(t3, l12, c);
    t4 = addc(t4, l13, c);
    u64 t5 = c;
    c = 0;
    t4 = addc(t4, h12, c);
    t5 = addc(t5, h13, c);
    c = 0;
    t5 = addc(t5, l23, c);
    u64 t6 = addc(h23, 0, c);
    c = 0;
    t1 = addc(t1, t1, c);
    t2 = addc(t2, t2, c);
    t3 = addc(t3, t3, c);
    t4 = addc(t4, t4, c);
    t5 = addc(t5, t5, c);
    t6 = addc(t6, t6, c);
    u64 t7 = c;
    u64 h0, h1, h2, h3;
    u64 t0 = mul_lo_hi(a0, a0, h0);
    const u64 l1 = mul_lo_hi(a1, a1, h1);
    const u64 l2 = mul_lo_hi(a2, a2, h2);
    const u64 l3 = mul_lo_hi(a3, a3, h3);
    c = 0;
    t1 = addc(t1, h0, c);
    t2 = addc(t2, l1, c);
    t3 = addc(t3, h1, c);
    t4 = addc(t4, l2, c);
    t5 = addc(t5, h2, c);
    t6 = addc(t6, l3, c);
    t7 = addc(t7, h3, c);
    redc_p(out, t0, t1, t2, t3, t4, t5, t6, t7);
}

struct PortableField {
    static SM2_INLINE void mul(Fe& out, const Fe& a, const Fe& b) { fmul_portable(out, a, b); }
    static SM2_INLINE void sqr(Fe& out, const Fe& a) { fsqr_portable(out, a); }
};

#if defined(__x86_64__) && defined(__GNUC__)
#define SM2_HAVE_ADX 1

// Row i of a * b: rdx = a_i; t_i..t_{i+4} += rdx * b, the low product words on the CF chain
// (ADCX) and the high words on the OF chain (ADOX). The XOR clears t_{i+4} and both flags.
// clang-format off
#define SM2_ADX_ROW(off, r0, r1, r2, r3, r4) \
    "movq " #off "(%[a]), %%rdx\n\t"         \
    "xorl %k[" #r4 "], %k[" #r4 "]\n\t"      \
    "mulxq 0(%[b]), %[lo], %[hi]\n\t"        \
    "adcxq %[lo], %[" #r0 "]\n\t"            \
    "adoxq %[hi], %[" #r1 "]\n\t"            \
    "mulxq 8(%[b]), %[lo], %[hi]\n\t"        \
    "adcxq %[lo], %[" #r1 "]\n\t"            \
    "adoxq %[hi], %[" #r2 "]\n\t"            \
    "mulxq 16(%[b]), %[lo], %[hi]\n\t"       \
    "adcxq %[lo], %[" #r2 "]\n\t"            \
    "adoxq %[hi], %[" #r3 "]\n\t"            \
    "mulxq 24(%[b]), %[lo], %[hi]\n\t"       \
    "adcxq %[lo], %[" #r3 "]\n\t"            \
    "adoxq %[hi], %[" #r4 "]\n\t"            \
    "adcq $0, %[" #r4 "]\n\t"
// clang-format on

// One round of the reduction of redc_p with m = t_i: t_{i+1}..t_{i+4} += m (2^192 + 1) and
// -= m (2^160 + 2^32), the words lo = m << 32 and hi = m >> 32. The window plus V stays below
// 2^257, so the add carry minus the subtract borrow is 0 or 1; it is left in m's register and
// belongs to word i + 5, which no later multiplier reads, so it is added after the last round.
// clang-format off
#define SM2_ADX_REDC(m, r1, r2, r3, r4) \
    "movq %[" #m "], %[lo]\n\t"         \
    "shlq $32, %[lo]\n\t"               \
    "movq %[" #m "], %[hi]\n\t"         \
    "shrq $32, %[hi]\n\t"               \
    "addq %[" #m "], %[" #r1 "]\n\t"    \
    "adcq $0, %[" #r2 "]\n\t"           \
    "adcq $0, %[" #r3 "]\n\t"           \
    "adcq %[" #m "], %[" #r4 "]\n\t"    \
    "movl $0, %k[" #m "]\n\t"           \
    "adcq $0, %[" #m "]\n\t"            \
    "subq %[lo], %[" #r1 "]\n\t"        \
    "sbbq %[hi], %[" #r2 "]\n\t"        \
    "sbbq %[lo], %[" #r3 "]\n\t"        \
    "sbbq %[hi], %[" #r4 "]\n\t"        \
    "sbbq $0, %[" #m "]\n\t"
// clang-format on

// The four reductions, the deferred carries (t0..t3) added in, and the final subtraction of p
// by CMOV: the result in lo, hi, t0, t1.
#define SM2_ADX_REDUCE               \
    SM2_ADX_REDC(t0, t1, t2, t3, t4) \
    SM2_ADX_REDC(t1, t2, t3, t4, t5) \
    SM2_ADX_REDC(t2, t3, t4, t5, t6) \
    SM2_ADX_REDC(t3, t4, t5, t6, t7) \
    "addq %[t0], %[t5]\n\t"          \
    "adcq %[t1], %[t6]\n\t"          \
    "adcq %[t2], %[t7]\n\t"          \
    "adcq $0, %[t3]\n\t"             \
    "movq %[t4], %[lo]\n\t"          \
    "subq $-1, %[lo]\n\t"            \
    "movq %[t5], %[hi]\n\t"          \
    "sbbq %[p1], %[hi]\n\t"          \
    "movq %[t6], %[t0]\n\t"          \
    "sbbq $-1, %[t0]\n\t"            \
    "movq %[t7], %[t1]\n\t"          \
    "sbbq %[p3], %[t1]\n\t"          \
    "sbbq $0, %[t3]\n\t"             \
    "cmovcq %[t4], %[lo]\n\t"        \
    "cmovcq %[t5], %[hi]\n\t"        \
    "cmovcq %[t6], %[t0]\n\t"        \
    "cmovcq %[t7], %[t1]\n\t"

// a * b with MULX (BMI2) and ADCX/ADOX (ADX), then the reduction of redc_p (the same value).
SM2_INLINE void fmul_adx(Fe& out, const Fe& a, const Fe& b) {
    u64 t0, t1, t2, t3, t4, t5, t6, t7, lo, hi;
    __asm__(
        "movq 0(%[a]), %%rdx\n\t"
        "mulxq 0(%[b]), %[t0], %[t1]\n\t"
        "mulxq 8(%[b]), %[lo], %[t2]\n\t"
        "addq %[lo], %[t1]\n\t"
        "mulxq 16(%[b]), %[lo], %[t3]\n\t"
        "adcq %[lo], %[t2]\n\t"
        "mulxq 24(%[b]), %[lo], %[t4]\n\t"
        "adcq %[lo], %[t3]\n\t"
        "adcq $0, %[t4]\n\t"                 //
        SM2_ADX_ROW(8, t1, t2, t3, t4, t5)   //
        SM2_ADX_ROW(16, t2, t3, t4, t5, t6)  //
        SM2_ADX_ROW(24, t3, t4, t5, t6, t7)  //
        SM2_ADX_REDUCE
        : [t0] "=&r"(t0), [t1] "=&r"(t1), [t2] "=&r"(t2), [t3] "=&r"(t3), [t4] "=&r"(t4),
          [t5] "=&r"(t5), [t6] "=&r"(t6), [t7] "=&r"(t7), [lo] "=&r"(lo), [hi] "=&r"(hi)
        : [a] "r"(a.v), [b] "r"(b.v), "m"(a), "m"(b), [p1] "m"(kP.v[1]), [p3] "m"(kP.v[3])
        : "rdx", "cc");
    out.v[0] = lo;
    out.v[1] = hi;
    out.v[2] = t0;
    out.v[3] = t1;
}

#undef SM2_ADX_ROW

// The six cross products on two carry chains, then doubling (CF) and the squares (OF) in one
// pass; t7 stays zero until that pass and serves as the zero word. Then the reduction of fmul_adx.
SM2_INLINE void fsqr_adx(Fe& out, const Fe& a) {
    u64 t0, t1, t2, t3, t4, t5, t6, t7, lo, hi;
    __asm__(
        "xorl %k[t7], %k[t7]\n\t"
        "movq 0(%[a]), %%rdx\n\t"
        "mulxq 8(%[a]), %[t1], %[t2]\n\t"
        "mulxq 16(%[a]), %[lo], %[t3]\n\t"
        "adcxq %[lo], %[t2]\n\t"
        "mulxq 24(%[a]), %[lo], %[t4]\n\t"
        "adcxq %[lo], %[t3]\n\t"
        "movq 24(%[a]), %%rdx\n\t"
        "mulxq 8(%[a]), %[lo], %[t5]\n\t"
        "adcxq %[lo], %[t4]\n\t"
        "mulxq 16(%[a]), %[lo], %[t6]\n\t"
        "adcxq %[lo], %[t5]\n\t"
        "adcxq %[t7], %[t6]\n\t"
        "movq 8(%[a]), %%rdx\n\t"
        "mulxq 16(%[a]), %[lo], %[hi]\n\t"
        "adoxq %[lo], %[t3]\n\t"
        "adoxq %[hi], %[t4]\n\t"
        "adoxq %[t7], %[t5]\n\t"
        "adoxq %[t7], %[t6]\n\t"
        "xorl %k[t7], %k[t7]\n\t"
        "movq 0(%[a]), %%rdx\n\t"
        "mulxq %%rdx, %[t0], %[hi]\n\t"
        "adcxq %[t1], %[t1]\n\t"
        "adoxq %[hi], %[t1]\n\t"
        "movq 8(%[a]), %%rdx\n\t"
        "mulxq %%rdx, %[lo], %[hi]\n\t"
        "adcxq %[t2], %[t2]\n\t"
        "adoxq %[lo], %[t2]\n\t"
        "adcxq %[t3], %[t3]\n\t"
        "adoxq %[hi], %[t3]\n\t"
        "movq 16(%[a]), %%rdx\n\t"
        "mulxq %%rdx, %[lo], %[hi]\n\t"
        "adcxq %[t4], %[t4]\n\t"
        "adoxq %[lo], %[t4]\n\t"
        "adcxq %[t5], %[t5]\n\t"
        "adoxq %[hi], %[t5]\n\t"
        "movq 24(%[a]), %%rdx\n\t"
        "mulxq %%rdx, %[lo], %[hi]\n\t"
        "adcxq %[t6], %[t6]\n\t"
        "adoxq %[lo], %[t6]\n\t"
        "adcxq %[t7], %[t7]\n\t"
        "adoxq %[hi], %[t7]\n\t"  //
        SM2_ADX_REDUCE
        : [t0] "=&r"(t0), [t1] "=&r"(t1), [t2] "=&r"(t2), [t3] "=&r"(t3), [t4] "=&r"(t4),
          [t5] "=&r"(t5), [t6] "=&r"(t6), [t7] "=&r"(t7), [lo] "=&r"(lo), [hi] "=&r"(hi)
        : [a] "r"(a.v), "m"(a), [p1] "m"(kP.v[1]), [p3] "m"(kP.v[3])
        : "rdx", "cc");
    out.v[0] = lo;
    out.v[1] = hi;
    out.v[2] = t0;
    out.v[3] = t1;
}

#undef SM2_ADX_REDUCE
#undef SM2_ADX_REDC

struct AdxField {
    static SM2_INLINE void mul(Fe& out, const Fe& a, const Fe& b) { fmul_adx(out, a, b); }
    static SM2_INLINE void sqr(Fe& out, const Fe& a) { fsqr_adx(out, a); }
};
#endif

SM2_INLINE void fadd(Fe& out, const Fe& a, const Fe& b) {
    mod_add(out, a, b, kP);
}

SM2_INLINE void fsub(Fe& out, const Fe& a, const Fe& b) {
    mod_sub(out, a, b, kP);
}

// r + h 2^256 mod p for h <= 8 and r < 2^256: h 2^256 = h c (mod p) with
// c = 2^224 + 2^96 - 2^64 + 1, the words h, h 2^32 - h, 0, h 2^32.
SM2_INLINE void fold_small(Fe& out, u64 r0, u64 r1, u64 r2, u64 r3, u64 h) {
    Carry c = 0;
    r0 = addc(r0, h, c);
    r1 = addc(r1, (h << 32) - h, c);
    r2 = addc(r2, 0, c);
    r3 = addc(r3, h << 32, c);
    // A carry leaves less than 2^229: one more 2^256 = c cannot carry again.
    const u64 m = 0 - u64{c};
    c = 0;
    r0 = addc(r0, m & 1, c);
    r1 = addc(r1, m & 0xffffffffULL, c);
    r2 = addc(r2, 0, c);
    r3 = addc(r3, m & (u64{1} << 32), c);
    const u64 r[4] = {r0, r1, r2, r3};
    final_subtract(out, r, 0, kP);
}

// a * 2^s for s = 1..3.
SM2_INLINE void fshl(Fe& out, const Fe& a, int s) {
    const u64 h = a.v[3] >> (64 - s);
    fold_small(out, a.v[0] << s, (a.v[1] << s) | (a.v[0] >> (64 - s)),
               (a.v[2] << s) | (a.v[1] >> (64 - s)), (a.v[3] << s) | (a.v[2] >> (64 - s)), h);
}

// 3 a = a + 2 a.
SM2_INLINE void ftriple(Fe& out, const Fe& a) {
    Carry c = 0;
    const u64 r0 = addc(a.v[0], a.v[0] << 1, c);
    const u64 r1 = addc(a.v[1], (a.v[1] << 1) | (a.v[0] >> 63), c);
    const u64 r2 = addc(a.v[2], (a.v[2] << 1) | (a.v[1] >> 63), c);
    const u64 r3 = addc(a.v[3], (a.v[3] << 1) | (a.v[2] >> 63), c);
    fold_small(out, r0, r1, r2, r3, (a.v[3] >> 63) + c);
}

inline void fneg(Fe& out, const Fe& a) {
    const Fe zero = {};
    mod_sub(out, zero, a, kP);
}

// ---- Scalars modulo n ----

inline void nmul(Fe& out, const Fe& a, const Fe& b) {
    u64 t[8];
    mul_wide(t, a, b);
    redc_n(out, t);
    secure_wipe(t, sizeof t);
}

// x mod n for x < 2^256 < 2n.
inline void nreduce(Fe& out, const Fe& x) {
    final_subtract(out, x.v, 0, kN);
}

// a^(n - 2) in the Montgomery domain, with 4-bit windows of the public exponent.
void ninv_mont(Fe& out, const Fe& a) {
    Fe table[16];
    table[0] = {{0xac440bf6c62abeddULL, 0x8dfc2094de39fad4ULL, 0, 0x0000000100000000ULL}};
    table[1] = a;
    for (int i = 2; i < 16; ++i) nmul(table[i], table[i - 1], a);
    Fe r = table[(kNMinus2.v[3] >> 60) & 15];
    for (int i = 62; i >= 0; --i) {
        for (int s = 0; s < 4; ++s) nmul(r, r, r);
        const unsigned nibble = (kNMinus2.v[i / 16] >> (4 * (i % 16))) & 15;
        nmul(r, r, table[nibble]);  // exponent digits are public
    }
    out = r;
    secure_wipe(table, sizeof table);
    secure_wipe(&r, sizeof r);
}

struct CachedPoint {
    Fe x, y, z, zz, zzz;
};

u64 small_scalar(u64 out[5], const bn256 k) {
    Fe kw, kn;
    load(kw, k);
    nreduce(kw, kw);
    const u64 negate = 0 - less_than(kHalfN, kw);
    Carry borrow = 0;
    for (int i = 0; i < 4; ++i) kn.v[i] = subb(kN.v[i], kw.v[i], borrow);
    for (int i = 0; i < 4; ++i) out[i] = ct_select(negate, kn.v[i], kw.v[i]);
    out[4] = 0;
    secure_wipe(&kw, sizeof kw);
    secure_wipe(&kn, sizeof kn);
    return negate;
}

// width bits of k from bit position pos (which may be -1, reading a zero below bit 0). The
// position is public.
inline u64 window_bits(const u64 k[5], int pos, int width) {
    const u64 mask = (u64{1} << width) - 1;
    if (pos < 0) return (k[0] << 1) & mask;
    const int word = pos / 64, shift = pos % 64;
    u64 bits = k[word] >> shift;
    if (shift + width > 64) bits |= k[word + 1] << (64 - shift);
    return bits & mask;
}

// Signed digit of a window of w + 1 bits (the low bit belongs to the window below): the
// magnitude (0..2^(w-1)) and a sign mask.
inline void booth_recode(u64 in, int w, u64& magnitude, u64& negative) {
    const u64 s = ~((in >> w) - 1);
    u64 d = (u64{1} << (w + 1)) - in - 1;
    d = (d & s) | (in & ~s);
    magnitude = (d >> 1) + (d & 1);
    negative = s;
}

int wnaf(int8_t digits[257], const bn256 u, int w) {
    Fe k;
    load(k, u);
    const u64 x[5] = {k.v[0], k.v[1], k.v[2], k.v[3], 0};
    for (int i = 0; i < 257; ++i) digits[i] = 0;
    // Scan for the next bit that differs from the carry; a window from there gives an odd digit
    // in (-2^(w-1), 2^(w-1)), and a negative digit carries into the bits above.
    u64 carry = 0;
    int len = 0;
    for (int bit = 0; bit < 256;) {
        if (((x[bit / 64] >> (bit % 64)) & 1) == carry) {
            ++bit;
            continue;
        }
        const int width = w < 256 - bit ? w : 256 - bit;
        u64 word = window_bits(x, bit, width) + carry;
        carry = (word >> (w - 1)) & 1;
        const int digit = static_cast<int>(word) - static_cast<int>(carry << w);
        digits[bit] = static_cast<int8_t>(digit);
        len = bit + 1;
        bit += width;
    }
    if (carry) {
        digits[256] = 1;
        len = 257;
    }
    return len;
}

}  // namespace

void fn_reduce(bn256 out, const bn256 x) {
    Fe a;
    load(a, x);
    nreduce(a, a);
    store(out, a);
    secure_wipe(&a, sizeof a);
}

namespace {

// out := op(x, y) on scalars loaded as words; the working copies are wiped.
template <class Op>
void scalar_binary(bn256 out, const bn256 x, const bn256 y, Op op) {
    Fe a, b;
    load(a, x);
    load(b, y);
    op(a, b);
    store(out, a);
    secure_wipe(&a, sizeof a);
    secure_wipe(&b, sizeof b);
}

}  // namespace

void fn_add(bn256 out, const bn256 x, const bn256 y) {
    scalar_binary(out, x, y, [](Fe& a, const Fe& b) { mod_add(a, a, b, kN); });
}

void fn_sub(bn256 out, const bn256 x, const bn256 y) {
    scalar_binary(out, x, y, [](Fe& a, const Fe& b) { mod_sub(a, a, b, kN); });
}

void fn_mul(bn256 out, const bn256 x, const bn256 y) {
    scalar_binary(out, x, y, [](Fe& a, const Fe& b) {
        nmul(a, a, b);  // x y / R
        nmul(a, a, kRRn);
    });
}

void fn_inv(bn256 out, const bn256 x) {
    Fe a;
    load(a, x);
    nmul(a, a, kRRn);
    ninv_mont(a, a);
    const Fe one = {{1, 0, 0, 0}};
    nmul(a, a, one);
    store(out, a);
    secure_wipe(&a, sizeof a);
}

namespace {

// The field and point arithmetic on the field backend F (PortableField or AdxField).
template <class F>
struct Ops {
    SM2_INLINE void fmul(Fe& out, const Fe& a, const Fe& b) { F::mul(out, a, b); }
    SM2_INLINE void fsqr(Fe& out, const Fe& a) { F::sqr(out, a); }

    void fsqr_n(Fe& out, const Fe& a, int n) {
        fsqr(out, a);
        for (int i = 1; i < n; ++i) fsqr(out, out);
    }

    void to_mont_p(Fe& out, const Fe& a) { fmul(out, a, kRRp); }

    void from_mont_p(Fe& out, const Fe& a) {
        const Fe one = {{1, 0, 0, 0}};
        fmul(out, a, one);
    }

    // a^(p - 2). p - 2 from the top: 31 ones, a zero, 128 ones, 32 zeros, 62 ones, 0, 1. With
    // x_k = a^(2^k - 1): 256 squarings and 15 multiplications, the same for every input.
    void finv(Fe& out, const Fe& a) {
        Fe x2, x3, x6, x12, x15, x30, x31, x32, t;
        fsqr(x2, a);
        fmul(x2, x2, a);
        fsqr(x3, x2);
        fmul(x3, x3, a);
        fsqr_n(x6, x3, 3);
        fmul(x6, x6, x3);
        fsqr_n(x12, x6, 6);
        fmul(x12, x12, x6);
        fsqr_n(x15, x12, 3);
        fmul(x15, x15, x3);
        fsqr_n(x30, x15, 15);
        fmul(x30, x30, x15);
        fsqr(x31, x30);
        fmul(x31, x31, a);
        fsqr(x32, x31);
        fmul(x32, x32, a);

        fsqr_n(t, x31, 33);
        fmul(t, t, x32);
        for (int i = 0; i < 3; ++i) {
            fsqr_n(t, t, 32);
            fmul(t, t, x32);
        }
        fsqr_n(t, t, 32);
        fsqr_n(t, t, 32);
        fmul(t, t, x32);
        fsqr_n(t, t, 30);
        fmul(t, t, x30);
        fsqr_n(t, t, 2);
        fmul(out, t, a);
        secure_wipe(&x2, sizeof x2);
        secure_wipe(&x3, sizeof x3);
        secure_wipe(&x6, sizeof x6);
        secure_wipe(&x12, sizeof x12);
        secure_wipe(&x15, sizeof x15);
        secure_wipe(&x30, sizeof x30);
        secure_wipe(&x31, sizeof x31);
        secure_wipe(&x32, sizeof x32);
        secure_wipe(&t, sizeof t);
    }

    // ---- Points ----

    // 2 P for a = -3 (dbl-2001-b); infinity stays infinity.
    void point_double(JacobianPoint& out, const JacobianPoint& in) {
        Fe delta, gamma, beta, alpha, t, u;
        fsqr(delta, in.z);
        fsqr(gamma, in.y);
        fmul(beta, in.x, gamma);
        fsub(t, in.x, delta);
        fadd(u, in.x, delta);
        fmul(alpha, t, u);
        ftriple(alpha, alpha);  // 3 (X - delta)(X + delta)
        fmul(t, in.y, in.z);
        fadd(out.z, t, t);  // 2 Y Z = (Y + Z)^2 - gamma - delta
        fshl(beta, beta, 2);
        fsqr(t, alpha);
        fadd(u, beta, beta);
        fsub(out.x, t, u);
        fsub(t, beta, out.x);
        fmul(t, alpha, t);
        fsqr(gamma, gamma);
        fshl(gamma, gamma, 3);
        fsub(out.y, t, gamma);
    }

    // A Jacobian point with Z^2 and Z^3, for points added many times.
    CachedPoint cached(const JacobianPoint& p) {
        CachedPoint c = {p.x, p.y, p.z, {}, {}};
        fsqr(c.zz, p.z);
        fmul(c.zzz, c.zz, p.z);
        return c;
    }

    // a + b (add-2007-bl) for a != +-b, neither at infinity. h_zero and r_zero report the
    // exceptional cases to the variable-time caller.
    void point_add_cached(JacobianPoint& out, const JacobianPoint& a, const CachedPoint& b,
                          u64* h_zero = nullptr, u64* r_zero = nullptr) {
        Fe z1z1, u1, u2, s1, s2, h, i, j, r, v, t;
        fsqr(z1z1, a.z);
        fmul(u1, a.x, b.zz);
        fmul(u2, b.x, z1z1);
        fmul(s1, a.y, b.zzz);
        fmul(s2, b.y, a.z);
        fmul(s2, s2, z1z1);
        fsub(h, u2, u1);
        fsub(r, s2, s1);
        if (h_zero != nullptr) *h_zero = is_zero_mask(h);
        if (r_zero != nullptr) *r_zero = is_zero_mask(r);
        fadd(i, h, h);
        fsqr(i, i);
        fmul(j, h, i);
        fadd(r, r, r);
        fmul(v, u1, i);
        fmul(t, a.z, b.z);
        fadd(t, t, t);
        fmul(out.z, t, h);  // 2 Z1 Z2 H
        fsqr(t, r);
        fsub(t, t, j);
        fsub(t, t, v);
        fsub(out.x, t, v);
        fsub(t, v, out.x);
        fmul(t, r, t);
        fmul(s1, s1, j);
        fadd(s1, s1, s1);
        fsub(out.y, t, s1);
    }

    void point_add_jacobian(JacobianPoint& out, const JacobianPoint& a, const JacobianPoint& b) {
        CachedPoint c = cached(b);
        point_add_cached(out, a, c);
        secure_wipe(&c, sizeof c);
    }

    // a + b for affine b (madd-2007-bl), with the same conditions as point_add_jacobian.
    void point_add_mixed(JacobianPoint& out, const JacobianPoint& a, const AffinePoint& b,
                         u64* h_zero = nullptr, u64* r_zero = nullptr) {
        Fe z1z1, u2, s2, h, hh, i, j, r, v, t;
        fsqr(z1z1, a.z);
        fmul(u2, b.x, z1z1);
        fmul(s2, b.y, a.z);
        fmul(s2, s2, z1z1);
        fsub(h, u2, a.x);
        fsub(r, s2, a.y);
        if (h_zero != nullptr) *h_zero = is_zero_mask(h);
        if (r_zero != nullptr) *r_zero = is_zero_mask(r);
        fsqr(hh, h);
        fadd(i, hh, hh);
        fadd(i, i, i);
        fmul(j, h, i);
        fadd(r, r, r);
        fmul(v, a.x, i);
        fmul(t, a.z, h);
        fadd(out.z, t, t);  // 2 Z1 H
        fsqr(t, r);
        fsub(t, t, j);
        fsub(t, t, v);
        fsub(out.x, t, v);
        fsub(t, v, out.x);
        fmul(t, r, t);
        fmul(s2, a.y, j);
        fadd(s2, s2, s2);
        fsub(out.y, t, s2);
    }

    inline void select_point(JacobianPoint& out, u64 mask, const JacobianPoint& a,
                             const JacobianPoint& b) {
        select(out.x, mask, a.x, b.x);
        select(out.y, mask, a.y, b.y);
        select(out.z, mask, a.z, b.z);
    }

    // The affine limb form of p given zinv = 1 / Z (0 for infinity, giving (0, 0)), y negated
    // under the mask. Constant-time.
    void to_affine_with(ec_point* out, const JacobianPoint& p, const Fe& zinv, u64 negate) {
        Fe zinv2, x, y, ny;
        fsqr(zinv2, zinv);
        fmul(x, p.x, zinv2);
        fmul(zinv2, zinv2, zinv);
        fmul(y, p.y, zinv2);
        fneg(ny, y);
        select(y, negate, ny, y);
        from_mont_p(x, x);
        from_mont_p(y, y);
        store(out->x, x);
        store(out->y, y);
        secure_wipe(&zinv2, sizeof zinv2);
        secure_wipe(&x, sizeof x);
        secure_wipe(&y, sizeof y);
        secure_wipe(&ny, sizeof ny);
    }

    void to_affine(ec_point* out, const JacobianPoint& p, u64 negate) {
        Fe zinv;
        finv(zinv, p.z);
        to_affine_with(out, p, zinv, negate);
        secure_wipe(&zinv, sizeof zinv);
    }

    // The scalar for the windowed methods: k mod n, or n - (k mod n) when that is smaller, with
    // the mask of the choice. Five words, the fifth zero, for window reads past bit 255.

    void fp_mul(bn256 out, const bn256 x, const bn256 y) {
        Fe a, b;
        load(a, x);
        load(b, y);
        to_mont_p(a, a);
        to_mont_p(b, b);
        fmul(a, a, b);
        from_mont_p(a, a);
        store(out, a);
    }

    void fp_sqr(bn256 out, const bn256 x) {
        Fe a;
        load(a, x);
        to_mont_p(a, a);
        fsqr(a, a);
        from_mont_p(a, a);
        store(out, a);
    }

    void fp_inv(bn256 out, const bn256 x) {
        Fe a;
        load(a, x);
        to_mont_p(a, a);
        finv(a, a);
        from_mont_p(a, a);
        store(out, a);
        secure_wipe(&a, sizeof a);
    }

    int32_t point_check(const ec_point* point) {
        Fe x, y;
        load(x, point->x);
        load(y, point->y);
        if (is_zero_mask(x) & is_zero_mask(y)) return 1;
        if (!less_than(x, kP) || !less_than(y, kP)) return 1;
        to_mont_p(x, x);
        to_mont_p(y, y);
        Fe lhs, rhs, three;
        fsqr(lhs, y);
        fadd(three, kOneP, kOneP);
        fadd(three, three, kOneP);
        fsqr(rhs, x);
        fsub(rhs, rhs, three);
        fmul(rhs, rhs, x);
        fadd(rhs, rhs, kBMont);
        return equal(lhs, rhs) ? 0 : 1;
    }

    // [k'] G with k' = k mod n or n - (k mod n); returns the mask of the second choice.
    u64 base_mul_jacobian(JacobianPoint& acc, const bn256 k) {
        u64 scalar[5];
        const u64 negate = small_scalar(scalar, k);
        JacobianPoint sum, entry_j;
        acc = {};
        u64 at_infinity = ~u64{0};
        AffinePoint entry;
        for (int i = 0; i < 64; ++i) {
            u64 magnitude, negative;
            booth_recode(window_bits(scalar, 4 * i - 1, 5), 4, magnitude, negative);
            entry = {};
            for (int j = 0; j < 8; ++j) {
                const u64 hit = ct_eq_mask(magnitude, static_cast<u64>(j + 1));
                for (int w = 0; w < 4; ++w) {
                    entry.x.v[w] |= hit & kComb[i][j].x.v[w];
                    entry.y.v[w] |= hit & kComb[i][j].y.v[w];
                }
            }
            Fe ny;
            fneg(ny, entry.y);
            select(entry.y, negative, ny, entry.y);
            // The window sums stay below n / 2 in magnitude, so the addition meets neither
            // doubling nor cancellation; only an accumulator at infinity needs the entry itself.
            point_add_mixed(sum, acc, entry);
            entry_j = {entry.x, entry.y, kOneP};
            const u64 skip = ct_is_zero_mask(magnitude);
            select_point(sum, at_infinity, entry_j, sum);
            select_point(acc, skip, acc, sum);
            at_infinity &= skip;
        }
        secure_wipe(scalar, sizeof scalar);
        secure_wipe(&sum, sizeof sum);
        secure_wipe(&entry, sizeof entry);
        secure_wipe(&entry_j, sizeof entry_j);
        return negate;
    }

    // [k'] point as base_mul_jacobian.
    u64 point_mul_jacobian(JacobianPoint& acc, const ec_point* point, const bn256 k) {
        // [1..16] point; the point is public, so building the table may branch.
        AffinePoint p;
        load(p.x, point->x);
        load(p.y, point->y);
        to_mont_p(p.x, p.x);
        to_mont_p(p.y, p.y);
        JacobianPoint table[16];
        table[0] = {p.x, p.y, kOneP};
        point_double(table[1], table[0]);
        for (int j = 2; j < 16; ++j) point_add_mixed(table[j], table[j - 1], p);

        u64 scalar[5];
        const u64 negate = small_scalar(scalar, k);
        JacobianPoint sum, entry;
        acc = {};
        u64 at_infinity = ~u64{0};
        for (int i = 51; i >= 0; --i) {
            if (i != 51)
                for (int d = 0; d < 5; ++d) point_double(acc, acc);
            u64 magnitude, negative;
            booth_recode(window_bits(scalar, 5 * i - 1, 6), 5, magnitude, negative);
            entry = {};
            for (int j = 0; j < 16; ++j) {
                const u64 hit = ct_eq_mask(magnitude, static_cast<u64>(j + 1));
                for (int w = 0; w < 4; ++w) {
                    entry.x.v[w] |= hit & table[j].x.v[w];
                    entry.y.v[w] |= hit & table[j].y.v[w];
                    entry.z.v[w] |= hit & table[j].z.v[w];
                }
            }
            Fe ny;
            fneg(ny, entry.y);
            select(entry.y, negative, ny, entry.y);
            // The accumulator holds [a] point with 0 <= 32 a <= n / 2 + 16 before the addition of
            // [d] point, |d| <= 16: the two are equal or opposite only when a = 0.
            point_add_jacobian(sum, acc, entry);
            const u64 skip = ct_is_zero_mask(magnitude);
            select_point(sum, at_infinity, entry, sum);
            select_point(acc, skip, acc, sum);
            at_infinity &= skip;
        }
        secure_wipe(scalar, sizeof scalar);
        secure_wipe(&sum, sizeof sum);
        secure_wipe(&entry, sizeof entry);
        return negate;
    }

    // Width-w NAF of u < 2^256: digits[i] odd or zero, |digits[i]| < 2^(w-1). Returns the length.
    bool at_infinity(const JacobianPoint& p) { return is_zero_mask(p.z) != 0; }

    // acc := acc + b, any inputs.
    void add_vartime(JacobianPoint& acc, const CachedPoint& b) {
        if (is_zero_mask(b.z)) return;
        if (at_infinity(acc)) {
            acc = {b.x, b.y, b.z};
            return;
        }
        JacobianPoint sum;
        u64 h_zero, r_zero;
        point_add_cached(sum, acc, b, &h_zero, &r_zero);
        if (h_zero) {
            if (r_zero)
                point_double(acc, {b.x, b.y, b.z});
            else
                acc = {};
            return;
        }
        acc = sum;
    }

    void add_mixed_vartime(JacobianPoint& acc, const AffinePoint& b) {
        if (at_infinity(acc)) {
            acc = {b.x, b.y, kOneP};
            return;
        }
        JacobianPoint sum;
        u64 h_zero, r_zero;
        point_add_mixed(sum, acc, b, &h_zero, &r_zero);
        if (h_zero) {
            if (r_zero)
                point_double(acc, {b.x, b.y, kOneP});
            else
                acc = {};
            return;
        }
        acc = sum;
    }

    void double_mul_jacobian(JacobianPoint& acc, const bn256 u1, const ec_point* q,
                             const bn256 u2) {
        constexpr int kWidthG = 8, kWidthQ = 5;
        int8_t d1[257] = {}, d2[257] = {};
        const int len1 = wnaf(d1, u1, kWidthG);
        const int len2 = wnaf(d2, u2, kWidthQ);

        // Odd multiples [1, 3, ..., 15] q.
        AffinePoint qa;
        load(qa.x, q->x);
        load(qa.y, q->y);
        to_mont_p(qa.x, qa.x);
        to_mont_p(qa.y, qa.y);
        CachedPoint odd_q[8];
        JacobianPoint q1 = {qa.x, qa.y, kOneP}, q2;
        odd_q[0] = {qa.x, qa.y, kOneP, kOneP, kOneP};
        point_double(q2, q1);
        const CachedPoint q2c = cached(q2);
        for (int j = 1; j < 8; ++j) {
            add_vartime(q1, q2c);
            odd_q[j] = cached(q1);
        }

        acc = {};
        for (int i = (len1 > len2 ? len1 : len2) - 1; i >= 0; --i) {
            if (!at_infinity(acc)) point_double(acc, acc);
            if (d2[i] != 0) {
                CachedPoint e = odd_q[(d2[i] > 0 ? d2[i] : -d2[i]) / 2];
                if (d2[i] < 0) fneg(e.y, e.y);
                add_vartime(acc, e);
            }
            if (d1[i] != 0) {
                AffinePoint e = kOddG[(d1[i] > 0 ? d1[i] : -d1[i]) / 2];
                if (d1[i] < 0) fneg(e.y, e.y);
                add_mixed_vartime(acc, e);
            }
        }
    }

    void base_mul(ec_point* out, const bn256 k) {
        JacobianPoint acc;
        const u64 negate = base_mul_jacobian(acc, k);
        to_affine(out, acc, negate);
        secure_wipe(&acc, sizeof acc);
    }

    void point_mul(ec_point* out, const ec_point* point, const bn256 k) {
        JacobianPoint acc;
        const u64 negate = point_mul_jacobian(acc, point, k);
        to_affine(out, acc, negate);
        secure_wipe(&acc, sizeof acc);
    }

    void base_and_point_mul(ec_point* base_out, ec_point* point_out, const ec_point* point,
                            const bn256 k) {
        JacobianPoint a, b;
        const u64 negate = base_mul_jacobian(a, k);
        point_mul_jacobian(b, point, k);
        // One inversion for both: 1 / Za = Zb / (Za Zb) and the other way round.
        Fe zz, inv, zinv;
        fmul(zz, a.z, b.z);
        finv(inv, zz);
        fmul(zinv, inv, b.z);
        to_affine_with(base_out, a, zinv, negate);
        fmul(zinv, inv, a.z);
        to_affine_with(point_out, b, zinv, negate);
        secure_wipe(&a, sizeof a);
        secure_wipe(&b, sizeof b);
        secure_wipe(&zz, sizeof zz);
        secure_wipe(&inv, sizeof inv);
        secure_wipe(&zinv, sizeof zinv);
    }

    void double_mul(ec_point* out, const bn256 u1, const ec_point* q, const bn256 u2) {
        JacobianPoint acc;
        double_mul_jacobian(acc, u1, q, u2);
        to_affine(out, acc, 0);
    }

    int32_t verify_compare(const bn256 u1, const ec_point* q, const bn256 u2, const bn256 e,
                           const bn256 r) {
        JacobianPoint acc;
        double_mul_jacobian(acc, u1, q, u2);
        Fe er, rw, candidate;
        load(er, e);
        nreduce(er, er);
        load(rw, r);
        // R = r exactly when x = r - e mod n or that plus n (below p), and x = X / Z^2.
        mod_sub(candidate, rw, er, kN);
        if (!at_infinity(acc)) {
            Fe zz, t;
            fsqr(zz, acc.z);
            for (int i = 0; i < 2; ++i) {
                Fe m;
                to_mont_p(m, candidate);
                fmul(t, m, zz);
                if (equal(t, acc.x)) return 0;
                Carry carry = 0;
                for (int w = 0; w < 4; ++w) candidate.v[w] = addc(candidate.v[w], kN.v[w], carry);
                if (carry || !less_than(candidate, kP)) break;
            }
        }
        // No match: the comparison needs R itself.
        ec_point x1;
        to_affine(&x1, acc, 0);
        Fe big_r;
        load(big_r, x1.x);
        nreduce(big_r, big_r);
        mod_add(big_r, big_r, er, kN);
        bn256 big_r_limbs;
        store(big_r_limbs, big_r);
        return bn_cmp(big_r_limbs, r);
    }

    void point_add(ec_point* out, const ec_point* p1, const ec_point* p2) {
        Fe x1, y1, x2, y2;
        load(x1, p1->x);
        load(y1, p1->y);
        load(x2, p2->x);
        load(y2, p2->y);
        if (equal(x1, x2)) {
            bn_clear(out->x);
            bn_clear(out->y);
            return;
        }
        to_mont_p(x1, x1);
        to_mont_p(y1, y1);
        to_mont_p(x2, x2);
        to_mont_p(y2, y2);
        Fe lambda, t, x3, y3;
        fsub(t, x2, x1);
        finv(t, t);
        fsub(lambda, y2, y1);
        fmul(lambda, lambda, t);
        fsqr(x3, lambda);
        fsub(x3, x3, x1);
        fsub(x3, x3, x2);
        fsub(t, x1, x3);
        fmul(y3, lambda, t);
        fsub(y3, y3, y1);
        from_mont_p(x3, x3);
        from_mont_p(y3, y3);
        store(out->x, x3);
        store(out->y, y3);
    }
};

// The chosen backend: -1 until the first use, then a FieldBackend value.
std::atomic<int> g_backend{-1};

FieldBackend choose_backend() {
#if defined(HALDEN_CT_VALGRIND) && defined(SM2_HAVE_ADX)
    // The memcheck build takes the backend from HALDEN_SM2_FIELD: valgrind runs ADCX/ADOX but
    // hides ADX from CPUID.
    if (const char* name = std::getenv("HALDEN_SM2_FIELD")) {
        if (std::strcmp(name, "portable") == 0) return FieldBackend::kPortable;
        if (std::strcmp(name, "adx") == 0 && cpu_features().bmi2) return FieldBackend::kAdx;
        std::abort();
    }
#endif
    return field_backend_supported(FieldBackend::kAdx) ? FieldBackend::kAdx
                                                       : FieldBackend::kPortable;
}

FieldBackend active_backend() {
    int b = g_backend.load(std::memory_order_relaxed);
    if (b < 0) {
        b = static_cast<int>(choose_backend());
        g_backend.store(b, std::memory_order_relaxed);
    }
    return static_cast<FieldBackend>(b);
}

// fn(Ops<F>{}) for the backend b, one branch per whole operation.
template <class Fn>
SM2_INLINE decltype(auto) with_backend(FieldBackend b, Fn&& fn) {
#if defined(SM2_HAVE_ADX)
    if (b == FieldBackend::kAdx) return fn(Ops<AdxField>{});
#endif
    (void)b;
    return fn(Ops<PortableField>{});
}

template <class Fn>
SM2_INLINE decltype(auto) with_field(Fn&& fn) {
    return with_backend(active_backend(), static_cast<Fn&&>(fn));
}

}  // namespace

bool field_backend_supported(FieldBackend b) {
    switch (b) {
        case FieldBackend::kPortable:
            return true;
        case FieldBackend::kAdx:
#if defined(SM2_HAVE_ADX)
            return cpu_features().bmi2 && cpu_features().adx;
#else
            return false;
#endif
    }
    return false;
}

FieldBackend field_backend() {
    return active_backend();
}

bool force_field_backend(FieldBackend b) {
    if (!field_backend_supported(b)) return false;
    g_backend.store(static_cast<int>(b), std::memory_order_relaxed);
    return true;
}

void mont_mul_p(uint64_t out[4], const uint64_t x[4], const uint64_t y[4], FieldBackend b) {
    const Fe a = {{x[0], x[1], x[2], x[3]}}, c = {{y[0], y[1], y[2], y[3]}};
    Fe r;
    with_backend(b, [&](auto ops) { ops.fmul(r, a, c); });
    for (int i = 0; i < 4; ++i) out[i] = r.v[i];
}

void mont_sqr_p(uint64_t out[4], const uint64_t x[4], FieldBackend b) {
    const Fe a = {{x[0], x[1], x[2], x[3]}};
    Fe r;
    with_backend(b, [&](auto ops) { ops.fsqr(r, a); });
    for (int i = 0; i < 4; ++i) out[i] = r.v[i];
}

void fp_mul(bn256 out, const bn256 x, const bn256 y) {
    with_field([&](auto ops) { ops.fp_mul(out, x, y); });
}

void fp_sqr(bn256 out, const bn256 x) {
    with_field([&](auto ops) { ops.fp_sqr(out, x); });
}

void fp_inv(bn256 out, const bn256 x) {
    with_field([&](auto ops) { ops.fp_inv(out, x); });
}

int32_t point_check(const ec_point* point) {
    return with_field([&](auto ops) { return ops.point_check(point); });
}

void base_mul(ec_point* out, const bn256 k) {
    with_field([&](auto ops) { ops.base_mul(out, k); });
}

void point_mul(ec_point* out, const ec_point* point, const bn256 k) {
    with_field([&](auto ops) { ops.point_mul(out, point, k); });
}

void base_and_point_mul(ec_point* base_out, ec_point* point_out, const ec_point* point,
                        const bn256 k) {
    with_field([&](auto ops) { ops.base_and_point_mul(base_out, point_out, point, k); });
}

void double_mul(ec_point* out, const bn256 u1, const ec_point* q, const bn256 u2) {
    with_field([&](auto ops) { ops.double_mul(out, u1, q, u2); });
}

int32_t verify_compare(const bn256 u1, const ec_point* q, const bn256 u2, const bn256 e,
                       const bn256 r) {
    return with_field([&](auto ops) { return ops.verify_compare(u1, q, u2, e, r); });
}

void point_add(ec_point* out, const ec_point* p1, const ec_point* p2) {
    with_field([&](auto ops) { ops.point_add(out, p1, p2); });
}

}  // namespace crypto_internal::sm2_fast
