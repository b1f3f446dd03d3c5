// SM4 ECB, CBC and CBC-MAC: the GB/T 32907 vectors one-shot and block by block, the argument
// checks, and in-place operation.
#include "crypto/sm4.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <functional>
#include <vector>

#include "tests/support/vectors.h"

using testing_support::from_hex;
using testing_support::load_vectors;
using testing_support::TestVector;
using testing_support::to_hex;
using Bytes = std::vector<uint8_t>;

namespace {

bool is_mode(const TestVector& v, const char* mode) {
    const Bytes m = v.bytes("mode");
    return std::string(m.begin(), m.end()) == mode;
}

Bytes ecb(int32_t (*fn)(const uint8_t*, const uint8_t*, uint32_t, uint8_t*), const Bytes& key,
          const Bytes& in) {
    Bytes out(in.size());
    EXPECT_EQ(fn(key.data(), in.data(), static_cast<uint32_t>(in.size()), out.data()), 0);
    return out;
}

using CbcFn = int32_t (*)(const uint8_t*, uint8_t*, const uint8_t*, uint32_t, uint8_t*);

// One call over the whole input, or one call per block sharing the chaining value buffer.
Bytes cbc(CbcFn fn, const Bytes& key, Bytes& iv, const Bytes& in, bool per_block) {
    Bytes out(in.size());
    const uint32_t step = per_block ? SM4_BLOCK_SIZE : static_cast<uint32_t>(in.size());
    for (size_t offset = 0; offset < in.size(); offset += step)
        EXPECT_EQ(fn(key.data(), iv.data(), in.data() + offset, step, out.data() + offset), 0);
    return out;
}

}  // namespace

TEST(Sm4Ecb, VectorsOneShotAndBlockByBlock) {
    for (const auto& v : load_vectors("sm4.txt").vectors) {
        if (!is_mode(v, "ecb") || v.has("count")) continue;
        SCOPED_TRACE(v.name);
        const Bytes key = v.bytes("key"), plain = v.bytes("plain"), cipher = v.bytes("cipher");
        EXPECT_EQ(to_hex(ecb(sm4_ecb_encrypt, key, plain)), to_hex(cipher));
        EXPECT_EQ(to_hex(ecb(sm4_ecb_decrypt, key, cipher)), to_hex(plain));

        Bytes pieces(plain.size());
        for (size_t offset = 0; offset < plain.size(); offset += SM4_BLOCK_SIZE)
            ASSERT_EQ(sm4_ecb_encrypt(key.data(), plain.data() + offset, SM4_BLOCK_SIZE,
                                      pieces.data() + offset),
                      0);
        EXPECT_EQ(to_hex(pieces), to_hex(cipher));
    }
}

TEST(Sm4Ecb, IteratedEncryptionOfGbt32907) {
    for (const auto& v : load_vectors("sm4.txt").vectors) {
        if (!v.has("count")) continue;
        SCOPED_TRACE(v.name);
        const Bytes key = v.bytes("key");
        Bytes block = v.bytes("plain");
        for (uint64_t i = 0; i < v.number("count"); ++i)
            ASSERT_EQ(sm4_ecb_encrypt(key.data(), block.data(), SM4_BLOCK_SIZE, block.data()), 0);
        EXPECT_EQ(to_hex(block), to_hex(v.bytes("cipher")));
    }
}

TEST(Sm4Ecb, KeySchedulesAreReversesOfEachOther) {
    const Bytes key = from_hex("0123456789abcdeffedcba9876543210");
    sm4_ctx enc, dec;
    sm4_set_encrypt_key(&enc, key.data());
    sm4_set_decrypt_key(&dec, key.data());
    // rk_0 and rk_31 of GB/T 32907's example.
    EXPECT_EQ(enc.rk[0], 0xF12186F9u);
    EXPECT_EQ(enc.rk[31], 0x9124A012u);
    for (int i = 0; i < 32; ++i) EXPECT_EQ(dec.rk[i], enc.rk[31 - i]) << i;
}

TEST(Sm4Cbc, VectorsOneShotAndSplitAcrossCalls) {
    for (const auto& v : load_vectors("sm4.txt").vectors) {
        if (!is_mode(v, "cbc")) continue;
        SCOPED_TRACE(v.name);
        const Bytes key = v.bytes("key"), iv0 = v.bytes("iv");
        const Bytes plain = v.bytes("plain"), cipher = v.bytes("cipher");
        const Bytes last_block(cipher.end() - SM4_BLOCK_SIZE, cipher.end());
        for (bool per_block : {false, true}) {
            SCOPED_TRACE(per_block ? "block by block" : "one call");
            Bytes iv = iv0;
            EXPECT_EQ(to_hex(cbc(sm4_cbc_encrypt, key, iv, plain, per_block)), to_hex(cipher));
            EXPECT_EQ(to_hex(iv), to_hex(last_block)) << "chaining value after encryption";
            iv = iv0;
            EXPECT_EQ(to_hex(cbc(sm4_cbc_decrypt, key, iv, cipher, per_block)), to_hex(plain));
            EXPECT_EQ(to_hex(iv), to_hex(last_block)) << "chaining value after decryption";
        }

        Bytes iv = iv0;
        uint8_t mac[SM4_BLOCK_SIZE];
        ASSERT_EQ(sm4_cbc_mac(key.data(), iv.data(), plain.data(),
                              static_cast<uint32_t>(plain.size()), mac),
                  0);
        EXPECT_EQ(to_hex(mac, sizeof mac), to_hex(last_block));
        EXPECT_EQ(to_hex(iv), to_hex(last_block));
    }
}

// Every checked mode with a null pointer or a length of 0, 15, 17 or 31: result 1 and neither
// the output nor the chaining value is touched.
TEST(Sm4Modes, BadArgumentsGiveOneAndWriteNothing) {
    struct Mode {
        const char* name;
        std::function<int32_t(const uint8_t*, uint8_t*, const uint8_t*, uint32_t, uint8_t*)> call;
        bool uses_iv;
    };
    auto no_iv = [](auto fn) {
        return [fn](const uint8_t* k, uint8_t*, const uint8_t* in, uint32_t len, uint8_t* out) {
            return fn(k, in, len, out);
        };
    };
    const Mode modes[] = {
        {"ecb encrypt", no_iv(sm4_ecb_encrypt), false},
        {"ecb decrypt", no_iv(sm4_ecb_decrypt), false},
        {"cbc encrypt", sm4_cbc_encrypt, true},
        {"cbc decrypt", sm4_cbc_decrypt, true},
        {"cbc mac", sm4_cbc_mac, true},
    };
    struct Case {
        const char* name;
        bool null_key, null_iv, null_in, null_out;
        uint32_t len;
    };
    const Case cases[] = {
        {"len 0", false, false, false, false, 0},    {"len 15", false, false, false, false, 15},
        {"len 17", false, false, false, false, 17},  {"len 31", false, false, false, false, 31},
        {"null key", true, false, false, false, 32}, {"null iv", false, true, false, false, 32},
        {"null in", false, false, true, false, 32},  {"null out", false, false, false, true, 32},
    };
    std::array<uint8_t, 16> key{};
    std::array<uint8_t, 48> in{};
    for (const Mode& m : modes) {
        for (const Case& c : cases) {
            if (c.null_iv && !m.uses_iv) continue;
            SCOPED_TRACE(std::string(m.name) + ", " + c.name);
            std::array<uint8_t, 48> out;
            out.fill(0xA5);
            std::array<uint8_t, 16> iv;
            iv.fill(0x5A);
            EXPECT_EQ(
                m.call(c.null_key ? nullptr : key.data(), c.null_iv ? nullptr : iv.data(),
                       c.null_in ? nullptr : in.data(), c.len, c.null_out ? nullptr : out.data()),
                1);
            for (uint8_t b : out) ASSERT_EQ(b, 0xA5);
            for (uint8_t b : iv) ASSERT_EQ(b, 0x5A);
        }
    }
}

TEST(Sm4Modes, InPlaceMatchesSeparateBuffers) {
    const Bytes key = from_hex("0123456789abcdeffedcba9876543210");
    const Bytes iv0 = from_hex("f0e0d0c0b0a090807060504030201000");
    Bytes data(80);
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 37 + 1);
    const uint32_t len = static_cast<uint32_t>(data.size());

    for (auto fn : {sm4_ecb_encrypt, sm4_ecb_decrypt}) {
        Bytes apart(len), in_place = data;
        ASSERT_EQ(fn(key.data(), data.data(), len, apart.data()), 0);
        ASSERT_EQ(fn(key.data(), in_place.data(), len, in_place.data()), 0);
        EXPECT_EQ(to_hex(in_place), to_hex(apart));
    }
    for (CbcFn fn : {sm4_cbc_encrypt, sm4_cbc_decrypt}) {
        Bytes apart(len), in_place = data, iv_apart = iv0, iv_in_place = iv0;
        ASSERT_EQ(fn(key.data(), iv_apart.data(), data.data(), len, apart.data()), 0);
        ASSERT_EQ(fn(key.data(), iv_in_place.data(), in_place.data(), len, in_place.data()), 0);
        EXPECT_EQ(to_hex(in_place), to_hex(apart));
        EXPECT_EQ(to_hex(iv_in_place), to_hex(iv_apart));
    }
    // The MAC writes into its own 16 bytes; one placed over the input's last block still agrees.
    Bytes iv = iv0, mac(16), overlapping = data;
    ASSERT_EQ(sm4_cbc_mac(key.data(), iv.data(), data.data(), len, mac.data()), 0);
    iv = iv0;
    ASSERT_EQ(
        sm4_cbc_mac(key.data(), iv.data(), overlapping.data(), len, overlapping.data() + len - 16),
        0);
    EXPECT_EQ(to_hex(overlapping.data() + len - 16, 16), to_hex(mac));
}
