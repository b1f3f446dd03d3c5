// SM3 digests of random messages against OpenSSL 3.0's.
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <array>
#include <random>
#include <vector>

#include "crypto/sm3.h"

namespace {

using Digest = std::array<uint8_t, SM3_DIGEST_SIZE>;

Digest openssl_sm3(const std::vector<uint8_t>& m) {
    Digest out{};
    unsigned int n = 0;
    EVP_MD* md = EVP_MD_fetch(nullptr, "SM3", nullptr);
    const bool ok = md && EVP_Digest(m.data(), m.size(), out.data(), &n, md, nullptr) == 1 &&
                    n == SM3_DIGEST_SIZE;
    EVP_MD_free(md);
    if (!ok) ADD_FAILURE() << "OpenSSL has no working SM3";
    return out;
}

TEST(Sm3OpenSsl, RandomMessagesMatch) {
    std::mt19937 rng(0x5138);
    std::vector<size_t> lengths = {0, 1, 55, 56, 63, 64, 65, 511, 512, 513, 4096, 65536 + 17};
    for (int i = 0; i < 300; ++i) lengths.push_back(rng() % 5000);
    for (size_t len : lengths) {
        std::vector<uint8_t> m(len);
        for (auto& x : m) x = static_cast<uint8_t>(rng());
        Digest ours;
        sm3(m.data(), static_cast<uint32_t>(len), ours.data());
        ASSERT_EQ(ours, openssl_sm3(m)) << "length " << len;
    }
}

}  // namespace
