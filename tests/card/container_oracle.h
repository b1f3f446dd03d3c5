// The host's own reading of a container, apart from the library and the card's model: the V1 key
// unwrapped with the recipient's private key, the V2 key derived from the PIN, the key constant
// and the salt with OpenSSL's SM3, and the blocks through the OpenSSL-based SM4-XTS with a zero
// tweak.
#pragma once

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "crypto/sm2_encrypt.h"
#include "oracles/openssl_sm4_xts.h"
#include "tests/card/container_files.h"

// The system's key constant.
inline const Bytes kKeyConstant = {0x7b, 0xc5, 0xe1, 0x31, 0xcd, 0xf5, 0xbb, 0x20,
                                   0xe0, 0x17, 0x7c, 0xa4, 0x51, 0xf7, 0x67, 0x5a};

inline Bytes openssl_sm3(const Bytes& data) {
    Bytes digest(32);
    unsigned int length = 0;
    EXPECT_EQ(EVP_Digest(data.data(), data.size(), digest.data(), &length, EVP_sm3(), nullptr), 1);
    return digest;
}

struct PinKey {
    Bytes key;  // 32 bytes: SM3-KDF of the PIN field, the constant and the salt
    Bytes mac;  // SM3(key || constant)
};

inline PinKey derive_pin_key(const std::string& pin, const Bytes& salt) {
    Bytes input(16, 0);
    std::copy(pin.begin(), pin.end(), input.begin());
    input.insert(input.end(), kKeyConstant.begin(), kKeyConstant.end());
    input.insert(input.end(), salt.begin(), salt.end());
    input.insert(input.end(), {0, 0, 0, 1});  // the KDF's counter: 32 bytes are one SM3 output
    PinKey k{openssl_sm3(input), {}};
    Bytes check = k.key;
    check.insert(check.end(), kKeyConstant.begin(), kKeyConstant.end());
    k.mac = openssl_sm3(check);
    return k;
}

// The V1 file key, unwrapped from csk (the 128 bytes at 319) with the recipient's private key.
inline Bytes unwrap_v1_key(const Bytes& container, const uint8_t* private_key) {
    Bytes key(32);
    uint32_t length = 0;
    EXPECT_EQ(sm2_decrypt(private_key, container.data() + 319, 128, key.data(), &length), 0);
    EXPECT_EQ(length, 32u);
    return key;
}

// The blocks that a container of this plaintext holds under key: 4096-byte pieces, the last one
// padded with 0x80 and zeros, each SM4-XTS-encrypted with a zero tweak.
inline Bytes expected_blocks(const Bytes& plain, const Bytes& key) {
    Bytes padded = plain;
    padded.push_back(0x80);
    padded.resize((plain.size() / 4096 + 1) * 4096, 0);
    oracles::OpensslSm4Xts xts;
    const uint8_t tweak[16] = {};
    Bytes out(padded.size());
    for (size_t at = 0; at < padded.size(); at += 4096)
        EXPECT_TRUE(xts.crypt(key.data(), tweak, padded.data() + at, 4096, out.data() + at, true));
    return out;
}

// The plaintext of blocks under key, cut at the last 0x80.
inline Bytes decrypt_blocks_on_host(const Bytes& blocks, const Bytes& key) {
    oracles::OpensslSm4Xts xts;
    const uint8_t tweak[16] = {};
    Bytes plain(blocks.size());
    for (size_t at = 0; at + 4096 <= blocks.size(); at += 4096)
        EXPECT_TRUE(
            xts.crypt(key.data(), tweak, blocks.data() + at, 4096, plain.data() + at, false));
    const auto marker = std::find(plain.rbegin(), plain.rend(), 0x80);
    if (marker != plain.rend()) plain.resize(static_cast<size_t>(plain.rend() - marker) - 1);
    return plain;
}
