// The SM4 S-box as affine maps around inversion in the AES field, for the table-free paths.
//
// GB/T 32907's S-box is S(x) = A * inv(A * x + c) + c, inverting in GF(2^8) modulo
// x^8 + x^7 + x^6 + x^5 + x^4 + x^2 + 1, with A the circulant bit matrix of 0xA7 and c = 0xD3.
// With M the field isomorphism onto the AES field (x^8 + x^4 + x^3 + x + 1) that sends x to the
// first root of that polynomial:
//   S(x) = (A M^-1) * inv_aes(M A * x + M c) + c.
// The AES-NI path gets inv_aes from AESENCLAST, whose S-box is B * inv_aes(y) + 0x63 (B the AES
// affine matrix), so its output map is (A M^-1 B^-1) * y + ((A M^-1 B^-1) * 0x63 + c).
#pragma once

#include <cstdint>

namespace crypto_internal::sm4_affine {

// GF2P8AFFINEQB / GF2P8AFFINEINVQB operands: byte 7 - i of the matrix is the row of output bit i.
constexpr uint64_t kGfniPreMatrix = 0x4c287db91a22505dULL;   // M A
constexpr uint8_t kGfniPreConst = 0x3e;                      // M c
constexpr uint64_t kGfniPostMatrix = 0xf3ab34a974a6b589ULL;  // A M^-1 (after inversion)
constexpr uint8_t kGfniPostConst = 0xd3;                     // c

// The affine maps around AESENCLAST as nibble tables for PSHUFB: f(x) = lo[x & 15] ^ hi[x >> 4].
constexpr uint8_t kAesPreLo[16] = {0x3e, 0xb2, 0x0e, 0x82, 0xbb, 0x37, 0x8b, 0x07,
                                   0xa1, 0x2d, 0x91, 0x1d, 0x24, 0xa8, 0x14, 0x98};
constexpr uint8_t kAesPreHi[16] = {0x00, 0xdc, 0x2e, 0xf2, 0xc5, 0x19, 0xeb, 0x37,
                                   0x08, 0xd4, 0x26, 0xfa, 0xcd, 0x11, 0xe3, 0x3f};
constexpr uint8_t kAesPostLo[16] = {0x6c, 0xd4, 0xa6, 0x1e, 0x52, 0xea, 0x98, 0x20,
                                    0x0b, 0xb3, 0xc1, 0x79, 0x35, 0x8d, 0xff, 0x47};
constexpr uint8_t kAesPostHi[16] = {0x00, 0xe0, 0x50, 0xb0, 0x9d, 0x7d, 0xcd, 0x2d,
                                    0xc0, 0x20, 0x90, 0x70, 0x5d, 0xbd, 0x0d, 0xed};

}  // namespace crypto_internal::sm4_affine
