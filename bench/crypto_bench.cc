// Throughput of this library's SM3, SM4-ECB, SM4-XTS and SM2 next to OpenSSL 3.0 and libgcrypt,
// measured in one run on the same machine.
//
// Usage: crypto_bench [seconds per figure, default 1]
//
// Each figure is the median of several rounds, and the rounds of one row alternate between the
// implementations so that clock and thermal drift fall on all of them alike. Every peer is given
// the key on every call, as this library's functions take it; outputs are checked against each
// other before timing.
#include <gcrypt.h>
#include <openssl/evp.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "bench/timing.h"
#include "crypto/sm2.h"
#include "crypto/sm2_encrypt.h"
#include "crypto/sm3.h"
#include "crypto/sm4.h"
#include "crypto/sm4_blocks.h"
#include "crypto/sm4_xts.h"
#include "oracles/openssl_sm4_xts.h"

namespace {

using Bytes = std::vector<uint8_t>;

constexpr int kRounds = 7;

[[noreturn]] void die(const char* what) {
    std::fprintf(stderr, "crypto_bench: %s\n", what);
    std::exit(1);
}

void check(bool ok, const char* what) {
    if (!ok) die(what);
}

// Keeps the optimiser from dropping a result.
void consume(const void* p) {
    asm volatile("" : : "r"(p) : "memory");
}

struct Contender {
    std::string name;
    std::function<void()> op;
    std::vector<double> rates;  // operations per second, one per round
};

// One row: the first contender is this library, the others its peers. bytes_per_op 0 prints
// operations per second instead of MB/s.
void row(const char* title, size_t bytes_per_op, std::vector<Contender> contenders,
         double seconds) {
    for (auto& c : contenders) c.op();  // warm-up
    for (int r = 0; r < kRounds; ++r)
        for (auto& c : contenders) c.rates.push_back(bench::rate_of(c.op, seconds / kRounds));
    const double ours = bench::median(contenders[0].rates);
    auto figure = [&](double rate) {
        char text[32];
        if (bytes_per_op) {
            std::snprintf(text, sizeof text, "%9.1f MB/s", rate * bytes_per_op / 1e6);
        } else {
            std::snprintf(text, sizeof text, "%9.0f op/s", rate);
        }
        return std::string(text);
    };
    std::printf("%s\n  %-44s %s\n", title, contenders[0].name.c_str(), figure(ours).c_str());
    for (size_t i = 1; i < contenders.size(); ++i) {
        const double peer = bench::median(contenders[i].rates);
        std::printf("  %-44s %s   ours/peer %.2f\n", contenders[i].name.c_str(),
                    figure(peer).c_str(), ours / peer);
    }
    std::fflush(stdout);
}

Bytes random_bytes(size_t n) {
    static std::mt19937 rng(20240601);
    Bytes b(n);
    for (auto& x : b) x = static_cast<uint8_t>(rng());
    return b;
}

void bench_sm3(double seconds) {
    const Bytes msg = random_bytes(4096);
    Bytes ours(32), theirs(32);
    EVP_MD* md = EVP_MD_fetch(nullptr, "SM3", nullptr);
    EVP_MD_CTX* ctx = EVP_MD_CTX_new();
    check(md && ctx, "OpenSSL has no SM3");
    auto openssl_sm3 = [&] {
        unsigned n = 0;
        check(EVP_DigestInit_ex2(ctx, md, nullptr) == 1 &&
                  EVP_DigestUpdate(ctx, msg.data(), msg.size()) == 1 &&
                  EVP_DigestFinal_ex(ctx, theirs.data(), &n) == 1,
              "OpenSSL SM3 failed");
        consume(theirs.data());
    };
    auto our_sm3 = [&] {
        sm3(msg.data(), static_cast<uint32_t>(msg.size()), ours.data());
        consume(ours.data());
    };
    our_sm3();
    openssl_sm3();
    check(ours == theirs, "SM3 digests differ from OpenSSL's");
    row("SM3, 4 KiB messages", msg.size(),
        {{"sm3", our_sm3, {}}, {"OpenSSL EVP sm3", openssl_sm3, {}}}, seconds);
    EVP_MD_CTX_free(ctx);
    EVP_MD_free(md);
}

void bench_sm4_ecb(double seconds) {
    const Bytes key = random_bytes(16), in = random_bytes(4096);
    Bytes ours(in.size()), theirs(in.size());
    EVP_CIPHER* cipher = EVP_CIPHER_fetch(nullptr, "SM4-ECB", nullptr);
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    check(cipher && ctx, "OpenSSL has no SM4-ECB");
    auto openssl_ecb = [&] {
        int n = 0;
        check(EVP_EncryptInit_ex2(ctx, cipher, key.data(), nullptr, nullptr) == 1 &&
                  EVP_CIPHER_CTX_set_padding(ctx, 0) == 1 &&
                  EVP_EncryptUpdate(ctx, theirs.data(), &n, in.data(),
                                    static_cast<int>(in.size())) == 1,
              "OpenSSL SM4-ECB failed");
        consume(theirs.data());
    };
    auto our_ecb = [&] {
        check(sm4_ecb_encrypt(key.data(), in.data(), static_cast<uint32_t>(in.size()),
                              ours.data()) == 0,
              "sm4_ecb_encrypt failed");
        consume(ours.data());
    };
    our_ecb();
    openssl_ecb();
    check(ours == theirs, "SM4-ECB differs from OpenSSL's");
    row("SM4-ECB encryption, 4 KiB", in.size(),
        {{"sm4_ecb_encrypt", our_ecb, {}}, {"OpenSSL EVP sm4-ecb", openssl_ecb, {}}}, seconds);
    EVP_CIPHER_CTX_free(ctx);
    EVP_CIPHER_free(cipher);
}

// A 512-byte sector per call, the sector number as tweak input, as the disk driver uses it.
void bench_sm4_xts(double seconds) {
    constexpr size_t kSector = 512;
    const Bytes key = random_bytes(32), in = random_bytes(kSector);
    Bytes ours(kSector), oracle_out(kSector), gcrypt_out(kSector);
    uint8_t tweak[16] = {};
    uint64_t sector = 0;
    auto next_tweak = [&] {
        ++sector;
        for (int i = 0; i < 8; ++i) tweak[i] = static_cast<uint8_t>(sector >> (8 * i));
    };

    oracles::OpensslSm4Xts oracle;
    gcry_cipher_hd_t gcrypt = nullptr;
    check(gcry_cipher_open(&gcrypt, GCRY_CIPHER_SM4, GCRY_CIPHER_MODE_XTS, 0) == 0,
          "libgcrypt has no SM4-XTS");

    auto our_xts = [&] {
        next_tweak();
        sm4_xts_encrypt(key.data(), tweak, in.data(), kSector, ours.data());
        consume(ours.data());
    };
    auto oracle_xts = [&] {
        next_tweak();
        check(oracle.crypt(key.data(), tweak, in.data(), kSector, oracle_out.data(), true),
              "OpenSSL-based XTS failed");
        consume(oracle_out.data());
    };
    // IEEE 1619 tweak order: a throughput peer only, its output is not ours.
    auto gcrypt_xts = [&] {
        next_tweak();
        check(gcry_cipher_setkey(gcrypt, key.data(), key.size()) == 0 &&
                  gcry_cipher_setiv(gcrypt, tweak, sizeof tweak) == 0 &&
                  gcry_cipher_encrypt(gcrypt, gcrypt_out.data(), kSector, in.data(), kSector) == 0,
              "libgcrypt SM4-XTS failed");
        consume(gcrypt_out.data());
    };
    sm4_xts_encrypt(key.data(), tweak, in.data(), kSector, ours.data());
    check(oracle.crypt(key.data(), tweak, in.data(), kSector, oracle_out.data(), true),
          "OpenSSL-based XTS failed");
    check(ours == oracle_out, "SM4-XTS differs from the OpenSSL-based GB/T 17964 XTS");
    gcrypt_xts();

    row("SM4-XTS encryption, 512-byte sectors", kSector,
        {{"sm4_xts_encrypt", our_xts, {}},
         {"GB/T 17964 XTS on OpenSSL EVP sm4-ecb", oracle_xts, {}},
         {"libgcrypt SM4 XTS (IEEE order, throughput)", gcrypt_xts, {}}},
        seconds);
    gcry_cipher_close(gcrypt);
}

// The driver's sector path: 64 KiB requests of 512-byte sectors, the keys set up once per
// request, against one call per sector of the peers.
void bench_sm4_sectors(double seconds) {
    constexpr size_t kSector = 512, kSectors = 128;
    const Bytes key = random_bytes(32), in = random_bytes(kSector * kSectors);
    Bytes ours(in.size()), per_call(in.size()), oracle_out(in.size()), gcrypt_out(in.size());
    uint64_t first = 1000;
    auto tweak_of = [](uint64_t sector, uint8_t* t) {
        std::memset(t, 0, 16);
        for (int i = 0; i < 8; ++i) t[i] = static_cast<uint8_t>(sector >> (8 * i));
    };
    oracles::OpensslSm4Xts oracle;
    gcry_cipher_hd_t gcrypt = nullptr;
    check(gcry_cipher_open(&gcrypt, GCRY_CIPHER_SM4, GCRY_CIPHER_MODE_XTS, 0) == 0,
          "libgcrypt has no SM4-XTS");

    auto our_request = [&] {
        crypto_internal::sm4_xts_sectors(key.data(), first, in.data(), ours.data(), kSectors,
                                         kSector, true);
        consume(ours.data());
    };
    auto our_per_sector = [&] {
        uint8_t t[16];
        for (size_t s = 0; s < kSectors; ++s) {
            tweak_of(first + s, t);
            sm4_xts_encrypt(key.data(), t, &in[s * kSector], kSector, &per_call[s * kSector]);
        }
        consume(per_call.data());
    };
    auto oracle_request = [&] {
        uint8_t t[16];
        for (size_t s = 0; s < kSectors; ++s) {
            tweak_of(first + s, t);
            check(oracle.crypt(key.data(), t, &in[s * kSector], kSector, &oracle_out[s * kSector],
                               true),
                  "OpenSSL-based XTS failed");
        }
        consume(oracle_out.data());
    };
    // One key set-up per request for libgcrypt too; IEEE 1619 tweak order, throughput only.
    auto gcrypt_request = [&] {
        uint8_t t[16];
        check(gcry_cipher_setkey(gcrypt, key.data(), key.size()) == 0, "libgcrypt setkey");
        for (size_t s = 0; s < kSectors; ++s) {
            tweak_of(first + s, t);
            check(gcry_cipher_setiv(gcrypt, t, sizeof t) == 0 &&
                      gcry_cipher_encrypt(gcrypt, &gcrypt_out[s * kSector], kSector,
                                          &in[s * kSector], kSector) == 0,
                  "libgcrypt SM4-XTS failed");
        }
        consume(gcrypt_out.data());
    };
    our_request();
    our_per_sector();
    oracle_request();
    check(ours == oracle_out && per_call == oracle_out,
          "the sector path differs from the OpenSSL-based GB/T 17964 XTS");
    row("SM4-XTS sector path, 64 KiB requests of 512-byte sectors", in.size(),
        {{"sm4_xts_sectors (one key set-up per request)", our_request, {}},
         {"sm4_xts_encrypt per sector", our_per_sector, {}},
         {"GB/T 17964 XTS on OpenSSL EVP sm4-ecb", oracle_request, {}},
         {"libgcrypt SM4 XTS (IEEE order, throughput)", gcrypt_request, {}}},
        seconds);
    gcry_cipher_close(gcrypt);
}

// OpenSSL's SM2 with the same default user ID as ours.
const unsigned char kDefaultId[] = "1234567812345678";

EVP_MD_CTX* openssl_sm2_digest_ctx(EVP_PKEY* pkey, bool sign) {
    EVP_MD_CTX* mctx = EVP_MD_CTX_new();
    EVP_PKEY_CTX* pctx = EVP_PKEY_CTX_new_from_pkey(nullptr, pkey, nullptr);
    check(mctx && pctx && EVP_PKEY_CTX_set1_id(pctx, kDefaultId, 16) == 1,
          "OpenSSL SM2 context failed");
    EVP_MD_CTX_set_pkey_ctx(mctx, pctx);
    const int ok = sign ? EVP_DigestSignInit(mctx, nullptr, EVP_sm3(), nullptr, pkey)
                        : EVP_DigestVerifyInit(mctx, nullptr, EVP_sm3(), nullptr, pkey);
    check(ok == 1, "OpenSSL SM2 digest init failed");
    return mctx;
}

void free_digest_ctx(EVP_MD_CTX* mctx) {
    EVP_PKEY_CTX_free(EVP_MD_CTX_get_pkey_ctx(mctx));
    EVP_MD_CTX_free(mctx);
}

void bench_sm2(double seconds) {
    const Bytes msg = random_bytes(32);
    uint8_t priv[SM2_PRIVATE_KEY_SIZE], pub[SM2_PUBLIC_KEY_SIZE], sig[SM2_SIGNATURE_SIZE];
    check(sm2_make_keypair(priv, pub) == 0, "sm2_make_keypair failed");
    EVP_PKEY* pkey = EVP_PKEY_Q_keygen(nullptr, nullptr, "SM2");
    check(pkey != nullptr, "OpenSSL SM2 key generation failed");

    uint8_t der_sig[128];
    size_t der_sig_len = 0;
    auto our_sign = [&] { check(sm2_sign(priv, pub, msg.data(), 32, sig) == 0, "sm2_sign"); };
    auto openssl_sign = [&] {
        EVP_MD_CTX* mctx = openssl_sm2_digest_ctx(pkey, true);
        der_sig_len = sizeof der_sig;
        check(EVP_DigestSign(mctx, der_sig, &der_sig_len, msg.data(), 32) == 1,
              "OpenSSL SM2 sign failed");
        free_digest_ctx(mctx);
    };
    auto our_verify = [&] { check(sm2_verify(pub, msg.data(), 32, sig) == 0, "sm2_verify"); };
    auto openssl_verify = [&] {
        EVP_MD_CTX* mctx = openssl_sm2_digest_ctx(pkey, false);
        check(EVP_DigestVerify(mctx, der_sig, der_sig_len, msg.data(), 32) == 1,
              "OpenSSL SM2 verify failed");
        free_digest_ctx(mctx);
    };
    our_sign();
    openssl_sign();
    row("SM2 signature of 32 bytes", 0,
        {{"sm2_sign", our_sign, {}}, {"OpenSSL EVP_DigestSign, SM2", openssl_sign, {}}}, seconds);
    row("SM2 verification of 32 bytes", 0,
        {{"sm2_verify", our_verify, {}}, {"OpenSSL EVP_DigestVerify, SM2", openssl_verify, {}}},
        seconds);

    uint8_t ct[32 + SM2_CIPHERTEXT_OVERHEAD], pt[32];
    uint32_t ct_len = 0, pt_len = 0;
    uint8_t der_ct[256], der_pt[64];
    size_t der_ct_len = 0, der_pt_len = 0;
    EVP_PKEY_CTX* enc = EVP_PKEY_CTX_new_from_pkey(nullptr, pkey, nullptr);
    EVP_PKEY_CTX* dec = EVP_PKEY_CTX_new_from_pkey(nullptr, pkey, nullptr);
    check(enc && dec && EVP_PKEY_encrypt_init(enc) == 1 && EVP_PKEY_decrypt_init(dec) == 1,
          "OpenSSL SM2 encryption init failed");
    auto our_encrypt = [&] {
        check(sm2_encrypt(pub, msg.data(), 32, ct, &ct_len) == 0, "sm2_encrypt");
    };
    auto openssl_encrypt = [&] {
        der_ct_len = sizeof der_ct;
        check(EVP_PKEY_encrypt(enc, der_ct, &der_ct_len, msg.data(), 32) == 1,
              "OpenSSL SM2 encrypt failed");
    };
    auto our_decrypt = [&] {
        check(sm2_decrypt(priv, ct, sizeof ct, pt, &pt_len) == 0 && pt_len == 32, "sm2_decrypt");
    };
    auto openssl_decrypt = [&] {
        der_pt_len = sizeof der_pt;
        check(
            EVP_PKEY_decrypt(dec, der_pt, &der_pt_len, der_ct, der_ct_len) == 1 && der_pt_len == 32,
            "OpenSSL SM2 decrypt failed");
    };
    our_encrypt();
    our_decrypt();
    check(std::memcmp(pt, msg.data(), 32) == 0, "sm2_decrypt gave other bytes");
    openssl_encrypt();
    openssl_decrypt();
    row("SM2 encryption of 32 bytes", 0,
        {{"sm2_encrypt", our_encrypt, {}}, {"OpenSSL EVP_PKEY_encrypt, SM2", openssl_encrypt, {}}},
        seconds);
    row("SM2 decryption of 32 bytes", 0,
        {{"sm2_decrypt", our_decrypt, {}}, {"OpenSSL EVP_PKEY_decrypt, SM2", openssl_decrypt, {}}},
        seconds);
    EVP_PKEY_CTX_free(enc);
    EVP_PKEY_CTX_free(dec);
    EVP_PKEY_free(pkey);
}

}  // namespace

int main(int argc, char** argv) {
    const double seconds = argc > 1 ? std::atof(argv[1]) : 1.0;
    if (!(seconds > 0)) die("usage: crypto_bench [seconds per figure]");
    check(gcry_check_version(GCRYPT_VERSION) != nullptr, "libgcrypt version mismatch");
    gcry_control(GCRYCTL_DISABLE_SECMEM, 0);
    gcry_control(GCRYCTL_INITIALIZATION_FINISHED, 0);

    std::printf("crypto_bench: median of %d rounds, %.2f s per figure; %s, libgcrypt %s\n", kRounds,
                seconds, OpenSSL_version(OPENSSL_VERSION), gcry_check_version(nullptr));
    bench_sm3(seconds);
    // SM4 on every kernel path this CPU runs, the one chosen at start-up first.
    using crypto_internal::Sm4Path;
    const Sm4Path chosen = crypto_internal::sm4_kernels().path;
    std::vector<Sm4Path> paths = {chosen};
    for (Sm4Path p : {Sm4Path::kGfniAvx512, Sm4Path::kGfniAvx2, Sm4Path::kAesniAvx2,
                      Sm4Path::kGfniSse, Sm4Path::kAesniSse, Sm4Path::kPortable})
        if (p != chosen && crypto_internal::sm4_path_supported(p)) paths.push_back(p);
    for (Sm4Path p : paths) {
        crypto_internal::sm4_force_path(p);
        std::printf("-- SM4 kernel path: %s%s\n", crypto_internal::sm4_path_name(p),
                    p == chosen ? " (chosen on this CPU)" : "");
        bench_sm4_ecb(seconds);
        bench_sm4_xts(seconds);
        bench_sm4_sectors(seconds);
    }
    crypto_internal::sm4_force_path(chosen);
    bench_sm2(seconds);
    return 0;
}
