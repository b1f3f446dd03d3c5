#include "crypto/selftest.h"

#include <cstdio>
#include <cstring>

#include "crypto/sm2.h"
#include "crypto/sm2_encrypt.h"
#include "crypto/sm3.h"
#include "crypto/sm4.h"
#include "crypto/sm4_xts.h"

namespace {

// GB/T 32907's example key and plaintext.
constexpr uint8_t kV16[16] = {0x01, 0x23, 0x45, 0x67, 0x89, 0xab, 0xcd, 0xef,
                              0xfe, 0xdc, 0xba, 0x98, 0x76, 0x54, 0x32, 0x10};

bool differs(const uint8_t* a, const uint8_t* b, size_t len) {
    return std::memcmp(a, b, len) != 0;
}

}  // namespace

extern "C" int32_t selftest_sm3() {
    // GB/T 32905 Appendix A.
    static const uint8_t kAbc[3] = {'a', 'b', 'c'};
    static const uint8_t kAbcDigest[32] = {0x66, 0xc7, 0xf0, 0xf4, 0x62, 0xee, 0xed, 0xd9,
                                           0xd1, 0xf2, 0xd4, 0x6b, 0xdc, 0x10, 0xe4, 0xe2,
                                           0x41, 0x67, 0xc4, 0x87, 0x5c, 0xf2, 0xf7, 0xa2,
                                           0x29, 0x7d, 0xa0, 0x2b, 0x8f, 0x4b, 0xa8, 0xe0};
    static const uint8_t kAbcd16Digest[32] = {0xde, 0xbe, 0x9f, 0xf9, 0x22, 0x75, 0xb8, 0xa1,
                                              0x38, 0x60, 0x48, 0x89, 0xc1, 0x8e, 0x5a, 0x4d,
                                              0x6f, 0xdb, 0x70, 0xe5, 0x38, 0x7e, 0x57, 0x65,
                                              0x29, 0x3d, 0xcb, 0xa3, 0x9c, 0x0c, 0x57, 0x32};
    uint8_t abcd16[64];
    for (int i = 0; i < 64; ++i) abcd16[i] = static_cast<uint8_t>('a' + i % 4);

    uint8_t digest1[32] = {}, digest2[32] = {};
    sm3(kAbc, sizeof kAbc, digest1);
    sm3(abcd16, sizeof abcd16, digest2);
    if (differs(digest1, kAbcDigest, 32) || differs(digest2, kAbcd16Digest, 32)) return 1;
    return 0;
}

extern "C" int32_t selftest_sm4() {
    static const uint8_t kEcb[16] = {0x68, 0x1e, 0xdf, 0x34, 0xd2, 0x06, 0x96, 0x5e,
                                     0x86, 0xb3, 0xe9, 0x4f, 0x53, 0x6e, 0x42, 0x46};
    static const uint8_t kCbc[16] = {0x26, 0x77, 0xf4, 0x6b, 0x09, 0xc1, 0x22, 0xcc,
                                     0x97, 0x55, 0x33, 0x10, 0x5b, 0xd4, 0xa2, 0x2a};
    uint8_t out[16] = {}, iv[16];

    sm4_ecb_encrypt(kV16, kV16, 16, out);
    if (differs(out, kEcb, 16)) return 1;
    std::memset(out, 0, sizeof out);
    sm4_ecb_decrypt(kV16, kEcb, 16, out);
    if (differs(out, kV16, 16)) return 1;

    std::memcpy(iv, kV16, 16);
    std::memset(out, 0, sizeof out);
    sm4_cbc_encrypt(kV16, iv, kV16, 16, out);
    if (differs(out, kCbc, 16)) return 2;
    std::memcpy(iv, kV16, 16);
    std::memset(out, 0, sizeof out);
    sm4_cbc_decrypt(kV16, iv, kCbc, 16, out);
    if (differs(out, kV16, 16)) return 2;

    std::memcpy(iv, kV16, 16);
    std::memset(out, 0, sizeof out);
    sm4_cbc_mac(kV16, iv, kV16, 16, out);
    if (differs(out, kCbc, 16)) return 3;
    return 0;
}

extern "C" int32_t selftest_sm2() {
    uint8_t message[32];
    std::memcpy(message, kV16, 16);
    std::memcpy(message + 16, kV16, 16);

    sm2_private_key priv = {};
    sm2_public_key pub = {};
    uint8_t sig1[64] = {}, sig2[64] = {};
    uint8_t ciphertext[32 + SM2_CIPHERTEXT_OVERHEAD] = {};
    uint8_t plaintext[32] = {};
    uint32_t ciphertext_len = 0, plaintext_len = 0;
    int32_t code = 0;

    if (sm2_make_keypair(priv, pub) != 0)
        code = 1;
    else if (sm2_sign_digest(sig1, sig1 + 32, priv, message) != 0)
        code = 2;
    else if (sm2_sign(priv, pub, message, sizeof message, sig2) != 0)
        code = 22;
    else if (sm2_verify_digest(pub, message, sig1, sig1 + 32) != 0)
        code = 3;
    else if (sm2_verify(pub, message, sizeof message, sig2) != 0)
        code = 33;
    else if (sm2_encrypt(pub, message, sizeof message, ciphertext, &ciphertext_len) != 0)
        code = 3;
    else if (sm2_decrypt(priv, ciphertext, ciphertext_len, plaintext, &plaintext_len) != 0)
        code = 4;
    else if (plaintext_len > sizeof plaintext || differs(plaintext, message, plaintext_len))
        code = 5;

    std::memset(priv, 0, sizeof priv);
    return code;
}

extern "C" int32_t selftest_sm4_xts() {
    // The GB/T 17964 SM4-XTS example.
    static const uint8_t kKey[32] = {0x2b, 0x7e, 0x15, 0x16, 0x28, 0xae, 0xd2, 0xa6,
                                     0xab, 0xf7, 0x15, 0x88, 0x09, 0xcf, 0x4f, 0x3c,
                                     0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07,
                                     0x08, 0x09, 0x0a, 0x0b, 0x0c, 0x0d, 0x0e, 0x0f};
    static const uint8_t kTweak[16] = {0xf0, 0xf1, 0xf2, 0xf3, 0xf4, 0xf5, 0xf6, 0xf7,
                                       0xf8, 0xf9, 0xfa, 0xfb, 0xfc, 0xfd, 0xfe, 0xff};
    static const uint8_t kPlain[32] = {0x6b, 0xc1, 0xbe, 0xe2, 0x2e, 0x40, 0x9f, 0x96,
                                       0xe9, 0x3d, 0x7e, 0x11, 0x73, 0x93, 0x17, 0x2a,
                                       0xae, 0x2d, 0x8a, 0x57, 0x1e, 0x03, 0xac, 0x9c,
                                       0x9e, 0xb7, 0x6f, 0xac, 0x45, 0xaf, 0x8e, 0x51};
    static const uint8_t kCipher[32] = {0xe9, 0x53, 0x82, 0x51, 0xc7, 0x1d, 0x7b, 0x80,
                                        0xbb, 0xe4, 0x48, 0x3f, 0xef, 0x49, 0x7b, 0xd1,
                                        0x2c, 0x5c, 0x58, 0x1b, 0xd6, 0x24, 0x2f, 0xc5,
                                        0x1e, 0x08, 0x96, 0x4f, 0xb4, 0xf6, 0x0f, 0xdb};
    uint8_t out[32] = {};

    if (sm4_xts_encrypt(kKey, kTweak, kPlain, 32, out) != 0) return 1;
    if (differs(out, kCipher, 32)) return 11;
    std::memset(out, 0, sizeof out);
    if (sm4_xts_decrypt(kKey, kTweak, kCipher, 32, out) != 0) return 2;
    if (differs(out, kPlain, 32)) return 22;
    std::memset(out, 0, sizeof out);
    if (sm4_xts(kKey, kTweak, kPlain, 32, out, 1) != 0) return 1;
    if (differs(out, kCipher, 32)) return 33;
    std::memset(out, 0, sizeof out);
    if (sm4_xts(kKey, kTweak, kCipher, 32, out, 0) != 0) return 2;
    if (differs(out, kPlain, 32)) return 33;
    return 0;
}

extern "C" void crypto_selftest() {
    struct Test {
        const char* line;
        int32_t (*run)();
    };
    static const Test kTests[] = {
        {"selftest_sm3 ret[%d]\n", selftest_sm3},
        {"selftest_sm4 ret[%d]\n", selftest_sm4},
        {"selftest_sm2 ret[%d]\n", selftest_sm2},
        {"selftest_sm4_xts ret[%d]\n", selftest_sm4_xts},
    };
    bool all_passed = true;
    for (const Test& test : kTests) {
        const int32_t code = test.run();
        if (code != 0) {
            std::printf(test.line, code);
            all_passed = false;
        }
    }
    if (all_passed) std::printf("alg test ok!\n");
}
