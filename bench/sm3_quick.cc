// Quick SM3 throughput check on 4 KiB buffers against OpenSSL, in one run. Not part of the build:
//   g++ -std=c++20 -O3 -DNDEBUG -I. bench/sm3_quick.cc crypto/sm3.cc crypto/cpu_features.cc \
//       -lcrypto -o /tmp/sm3_quick
#include <openssl/evp.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "crypto/sm3.h"

namespace {

constexpr size_t kBuf = 4096;

template <typename F>
double gbps(F&& f) {
    using clock = std::chrono::steady_clock;
    double best = 0;
    for (int rep = 0; rep < 5; ++rep) {
        size_t iters = 0;
        const auto start = clock::now();
        auto now = start;
        do {
            for (int i = 0; i < 64; ++i) f();
            iters += 64;
            now = clock::now();
        } while (now - start < std::chrono::milliseconds(300));
        const double s = std::chrono::duration<double>(now - start).count();
        const double r = iters * kBuf / s / 1e9;
        if (r > best) best = r;
    }
    return best;
}

}  // namespace

int main() {
    std::vector<uint8_t> buf(kBuf);
    for (size_t i = 0; i < kBuf; ++i) buf[i] = static_cast<uint8_t>(i * 131 + 7);
    uint8_t out[32];
    uint8_t ref[32];
    unsigned int n = 0;

    EVP_MD* md = EVP_MD_fetch(nullptr, "SM3", nullptr);
    EVP_MD_CTX* mctx = EVP_MD_CTX_new();
    if (!md || !mctx) return 1;
    sm3(buf.data(), kBuf, out);
    EVP_Digest(buf.data(), kBuf, ref, &n, md, nullptr);
    for (int i = 0; i < 32; ++i)
        if (out[i] != ref[i]) return std::puts("digest mismatch"), 1;

    const double ours = gbps([&] {
        sm3(buf.data(), kBuf, out);
        buf[0] ^= out[0];
    });
    const double theirs = gbps([&] {
        EVP_DigestInit_ex(mctx, md, nullptr);
        EVP_DigestUpdate(mctx, buf.data(), kBuf);
        EVP_DigestFinal_ex(mctx, out, &n);
        buf[0] ^= out[0];
    });
    std::printf("SM3 4 KiB: ours %.3f GB/s, OpenSSL %.3f GB/s, ratio %.2f\n", ours, theirs,
                ours / theirs);
    EVP_MD_CTX_free(mctx);
    EVP_MD_free(md);
    return 0;
}
