// Pemra as a C host application uses it: its public header compiled as C, the library linked
// (through its import library on Windows), known answers and argument checks through the exports.
#include <string.h>

#include "c_check.h"
#include "pemra.h"

_Static_assert(sizeof(sm2_private_key) == 32 && sizeof(sm2_public_key) == 64 &&
                   sizeof(sm2_signature) == 64 && sizeof(sm4_xts_key) == 32,
               "the key and signature types have their sizes");

int main(void) {
    // GB/T 32905, example 1: "abc".
    static const uint8_t kSm3Abc[SM3_DIGEST_SIZE] = {
        0x66, 0xc7, 0xf0, 0xf4, 0x62, 0xee, 0xed, 0xd9, 0xd1, 0xf2, 0xd4,
        0x6b, 0xdc, 0x10, 0xe4, 0xe2, 0x41, 0x67, 0xc4, 0x87, 0x5c, 0xf2,
        0xf7, 0xa2, 0x29, 0x7d, 0xa0, 0x2b, 0x8f, 0x4b, 0xa8, 0xe0};
    uint8_t digest[SM3_DIGEST_SIZE];
    sm3((const uint8_t*)"abc", 3, digest);
    C_CHECK(memcmp(digest, kSm3Abc, sizeof digest) == 0);

    // GB/T 32907, example 1: the key is the plaintext.
    static const uint8_t kSm4Key[SM4_KEY_SIZE] = {0x01, 0x23, 0x45, 0x67, 0x89, 0xab, 0xcd, 0xef,
                                                  0xfe, 0xdc, 0xba, 0x98, 0x76, 0x54, 0x32, 0x10};
    static const uint8_t kSm4Cipher[SM4_BLOCK_SIZE] = {0x68, 0x1e, 0xdf, 0x34, 0xd2, 0x06,
                                                       0x96, 0x5e, 0x86, 0xb3, 0xe9, 0x4f,
                                                       0x53, 0x6e, 0x42, 0x46};
    uint8_t block[SM4_BLOCK_SIZE];
    C_CHECK(sm4_ecb_encrypt(kSm4Key, kSm4Key, sizeof block, block) == 0);
    C_CHECK(memcmp(block, kSm4Cipher, sizeof block) == 0);
    C_CHECK(sm4_ecb_decrypt(kSm4Key, block, sizeof block, block) == 0);
    C_CHECK(memcmp(block, kSm4Key, sizeof block) == 0);

    // Argument checks: 1, nothing written; the unchecked XTS answers 0.
    sm4_xts_key xts_key = {0};
    uint8_t tweak[SM4_XTS_TWEAK_SIZE] = {0};
    uint8_t data[2 * SM4_BLOCK_SIZE] = {0};
    C_CHECK(sm4_ecb_encrypt(NULL, data, sizeof data, data) == 1);
    C_CHECK(sm4_xts_encrypt(xts_key, tweak, data, sizeof data - 1, data) == 1);
    C_CHECK(sm4_xts_decrypt(xts_key, NULL, data, sizeof data, data) == 1);
    C_CHECK(sm4_xts(xts_key, tweak, data, sizeof data, data, 1) == 0);

    // SM2 through the typed buffers: a signature verifies, and fails once the message changes; a
    // ciphertext is the message's length plus the overhead and decrypts back.
    sm2_private_key priv;
    sm2_public_key pub;
    sm2_signature sig;
    uint8_t message[20];
    C_CHECK(get_random(message, sizeof message) == 0);
    C_CHECK(sm2_make_keypair(priv, pub) == 0);
    C_CHECK(sm2_sign(priv, pub, message, sizeof message, sig) == 0);
    C_CHECK(sm2_verify(pub, message, sizeof message, sig) == 0);
    message[0] ^= 1;
    C_CHECK(sm2_verify(pub, message, sizeof message, sig) != 0);

    uint8_t ciphertext[sizeof message + SM2_CIPHERTEXT_OVERHEAD];
    uint8_t plaintext[sizeof message];
    uint32_t length = 0;
    C_CHECK(sm2_encrypt(pub, message, sizeof message, ciphertext, &length) == 0);
    C_CHECK(length == sizeof ciphertext);
    C_CHECK(sm2_decrypt(priv, ciphertext, sizeof ciphertext, plaintext, &length) == 0);
    C_CHECK(length == sizeof plaintext && memcmp(plaintext, message, sizeof message) == 0);
    return c_check_result();
}
