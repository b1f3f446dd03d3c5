// GB/T 17964-2021 XTS over whole blocks, built on OpenSSL's SM4-ECB: an oracle for the tests and
// the throughput peer of the bench, written apart from crypto/ so that it shares none of its code.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

struct evp_cipher_st;
struct evp_cipher_ctx_st;

namespace oracles {

// t := t * alpha in GB/T 17964's bit order: t as one 128-bit big-endian number shifted right by
// one, 0xE1 folded into the top byte when a bit falls off the bottom.
void gbt17964_mul_alpha(uint8_t* t);

class OpensslSm4Xts {
  public:
    OpensslSm4Xts();
    ~OpensslSm4Xts();
    OpensslSm4Xts(const OpensslSm4Xts&) = delete;
    OpensslSm4Xts& operator=(const OpensslSm4Xts&) = delete;

    // key is K1 || K2 (32 bytes), tweak the 16-byte tweak input, len a multiple of 16; in and out
    // may be the same buffer. Both keys are set up on every call. false when OpenSSL fails.
    bool crypt(const uint8_t* key, const uint8_t* tweak, const uint8_t* in, size_t len,
               uint8_t* out, bool encrypt);
    // A disk's 512-byte sectors from first_sector on, len a multiple of 512: sector k under the
    // tweak input k as u64 little-endian followed by 8 zero bytes. false when OpenSSL fails.
    bool crypt_sectors(const uint8_t* key, uint64_t first_sector, const uint8_t* in, size_t len,
                       uint8_t* out, bool encrypt);

  private:
    evp_cipher_st* cipher_;
    evp_cipher_ctx_st* ctx_;
    std::vector<uint8_t> tweaks_;
};

}  // namespace oracles
