// The MULX/ADCX/ADOX backend of the field modulo p (BMI2 and ADX; x86-64 with GCC-style inline
// assembly, which defines SM2_HAVE_ADX): the products of PortableField (crypto/sm2_fast_field.h),
// word for word, with register operands only and the final subtraction by CMOV. Constant-time.
#pragma once

#include "crypto/sm2_fast_internal.h"

#if defined(__x86_64__) && defined(__GNUC__)
#define SM2_HAVE_ADX 1

namespace crypto_internal::sm2_fast {

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

}  // namespace crypto_internal::sm2_fast

#endif
