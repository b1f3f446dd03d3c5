// Runs the SM2 paths that handle secrets with the secrets marked undefined for memcheck (the
// library marks its random draws itself). Under valgrind --error-exitcode, a branch or a memory
// address that depends on a private key, a nonce or a shared point fails the run. Public results
// are marked defined before they are checked. With the argument "control" the program branches
// on a marked byte on purpose, so that the harness itself is shown to report such a branch.
#include <valgrind/memcheck.h>

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "crypto/sm2.h"
#include "crypto/sm2_encrypt.h"
#include "crypto/sm2_kx.h"

namespace {

void secret(const void* p, size_t len) {
    VALGRIND_MAKE_MEM_UNDEFINED(p, len);
}

void reveal(const void* p, size_t len) {
    VALGRIND_MAKE_MEM_DEFINED(p, len);
}

int failures = 0;

void expect(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "FAILED: %s\n", what);
        ++failures;
    }
}

// The result codes are public: the library reveals only accept or reject.
int32_t result(int32_t code) {
    reveal(&code, sizeof code);
    return code;
}

struct KeyPair {
    uint8_t priv[32];
    uint8_t pub[64];
};

KeyPair make_key_pair() {
    KeyPair k;
    expect(result(sm2_make_keypair(k.priv, k.pub)) == 0, "sm2_make_keypair");
    secret(k.priv, sizeof k.priv);  // already undefined when drawn here; kept so for clarity
    return k;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::strcmp(argv[1], "control") == 0) {
        volatile uint8_t byte = 1;
        secret(const_cast<uint8_t*>(&byte), 1);
        if (byte == 1) std::puts("branched on a secret");
        return 0;
    }

    const KeyPair a = make_key_pair();
    const uint8_t digest[32] = {0x10, 0x20, 0x30};
    const uint8_t msg[32] = {'m', 'e', 's', 's', 'a', 'g', 'e'};

    // Public key from a secret private key.
    uint8_t pub[64];
    expect(result(sm2_pubkey_from_private(a.priv, pub)) == 0, "sm2_pubkey_from_private");
    expect(std::memcmp(pub, a.pub, 64) == 0, "public key");

    // Signing: d, the nonce and (1 + d)^-1.
    uint8_t sig[64];
    expect(result(sm2_sign_digest(sig, sig + 32, a.priv, digest)) == 0, "sm2_sign_digest");
    expect(result(sm2_verify_digest(a.pub, digest, sig, sig + 32)) == 0, "signature verifies");
    expect(result(sm2_sign(a.priv, a.pub, msg, sizeof msg, sig)) == 0, "sm2_sign");
    expect(result(sm2_verify(a.pub, msg, sizeof msg, sig)) == 0, "sm2_verify");

    // Encryption (secret nonce) and decryption (secret key and plaintext).
    uint8_t ct[32 + 96], pt[32];
    uint32_t len = 0;
    expect(result(sm2_encrypt(a.pub, msg, sizeof msg, ct, &len)) == 0, "sm2_encrypt");
    expect(result(sm2_decrypt(a.priv, ct, sizeof ct, pt, &len)) == 0, "sm2_decrypt");
    reveal(pt, sizeof pt);
    expect(std::memcmp(pt, msg, sizeof msg) == 0, "plaintext");
    ct[100] ^= 1;
    expect(result(sm2_decrypt(a.priv, ct, sizeof ct, pt, &len)) == -1, "tampered ciphertext");

    // Key exchange: both long-term keys and both ephemeral keys secret.
    const KeyPair b = make_key_pair();
    uint8_t za[32], zb[32];
    sm2_compute_z(sm2_curve.default_id, 16, a.pub, za);
    sm2_compute_z(sm2_curve.default_id, 16, b.pub, zb);
    uint8_t ra[32], big_ra[64], rb[32], big_rb[64], v[64], sb[32], sa[32], ka[16], kb[16];
    expect(result(sm2_kx_make_ephemeral(ra, big_ra)) == 0, "sm2_kx_make_ephemeral");
    expect(result(sm2_kx_responder(rb, b.priv, big_ra, a.pub, za, zb, kb, sizeof kb, big_rb, v,
                                   sb)) == 0,
           "sm2_kx_responder");
    expect(result(sm2_kx_initiator(ra, a.priv, big_ra, big_rb, b.pub, za, zb, sb, ka, sizeof ka,
                                   sa)) == 0,
           "sm2_kx_initiator");
    expect(result(sm2_kx_responder_check(v, big_ra, big_rb, za, zb, sa)) == 0, "SA accepted");
    reveal(ka, sizeof ka);
    reveal(kb, sizeof kb);
    expect(std::memcmp(ka, kb, sizeof ka) == 0, "shared key");

    // A secret scalar times a public point.
    uint8_t scalar[32], product[64];
    std::memcpy(scalar, a.priv, 32);
    secret(scalar, sizeof scalar);
    expect(result(sm2_point_mul_bytes(b.pub, scalar, product)) == 0, "sm2_point_mul_bytes");

    if (failures == 0) std::puts("ok");
    return failures == 0 ? 0 : 2;
}
