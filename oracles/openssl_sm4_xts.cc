#include "oracles/openssl_sm4_xts.h"

#include <openssl/evp.h>

#include <cstring>
#include <stdexcept>

namespace oracles {

namespace {

uint64_t load_be64(const uint8_t* p) {
    uint64_t v = 0;
    for (int i = 0; i < 8; ++i) v = (v << 8) | p[i];
    return v;
}

void store_be64(uint8_t* p, uint64_t v) {
    for (int i = 7; i >= 0; --i, v >>= 8) p[i] = static_cast<uint8_t>(v);
}

}  // namespace

void gbt17964_mul_alpha(uint8_t* t) {
    uint64_t hi = load_be64(t), lo = load_be64(t + 8);
    const bool carry = lo & 1;
    lo = (lo >> 1) | (hi << 63);
    hi >>= 1;
    if (carry) hi ^= uint64_t{0xE1} << 56;
    store_be64(t, hi);
    store_be64(t + 8, lo);
}

OpensslSm4Xts::OpensslSm4Xts()
    : cipher_(EVP_CIPHER_fetch(nullptr, "SM4-ECB", nullptr)), ctx_(EVP_CIPHER_CTX_new()) {
    if (!cipher_ || !ctx_) throw std::runtime_error("OpenSSL has no SM4-ECB");
}

OpensslSm4Xts::~OpensslSm4Xts() {
    EVP_CIPHER_CTX_free(ctx_);
    EVP_CIPHER_free(cipher_);
}

bool OpensslSm4Xts::crypt(const uint8_t* key, const uint8_t* tweak, const uint8_t* in, size_t len,
                          uint8_t* out, bool encrypt) {
    if (len % 16) return false;
    int n = 0;
    // T = E(K2, tweak input), then the tweak of every block, T * alpha^j.
    uint8_t t[16];
    if (EVP_CipherInit_ex2(ctx_, cipher_, key + 16, nullptr, 1, nullptr) != 1 ||
        EVP_CIPHER_CTX_set_padding(ctx_, 0) != 1 || EVP_CipherUpdate(ctx_, t, &n, tweak, 16) != 1)
        return false;
    tweaks_.resize(len);
    for (size_t j = 0; j < len; j += 16) {
        std::memcpy(&tweaks_[j], t, 16);
        gbt17964_mul_alpha(t);
    }
    // out = E_or_D(K1, in xor tweaks) xor tweaks, all blocks in one ECB call.
    for (size_t i = 0; i < len; ++i) out[i] = in[i] ^ tweaks_[i];
    if (EVP_CipherInit_ex2(ctx_, cipher_, key, nullptr, encrypt ? 1 : 0, nullptr) != 1 ||
        EVP_CIPHER_CTX_set_padding(ctx_, 0) != 1 ||
        EVP_CipherUpdate(ctx_, out, &n, out, static_cast<int>(len)) != 1 ||
        static_cast<size_t>(n) != len)
        return false;
    for (size_t i = 0; i < len; ++i) out[i] ^= tweaks_[i];
    return true;
}

bool OpensslSm4Xts::crypt_sectors(const uint8_t* key, uint64_t first_sector, const uint8_t* in,
                                  size_t len, uint8_t* out, bool encrypt) {
    constexpr size_t kSector = 512;
    if (len % kSector) return false;
    for (size_t at = 0; at < len; at += kSector) {
        uint8_t tweak[16] = {};
        const uint64_t sector = first_sector + at / kSector;
        for (int i = 0; i < 8; ++i) tweak[i] = static_cast<uint8_t>(sector >> (8 * i));
        if (!crypt(key, tweak, in + at, kSector, out + at, encrypt)) return false;
    }
    return true;
}

}  // namespace oracles
