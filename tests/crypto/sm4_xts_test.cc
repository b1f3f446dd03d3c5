// SM4-XTS: the GB/T 17964 vector through all three entry points, the alpha multiplication, the
// length rules of the checked and the unchecked forms, and in-place operation.
#include "crypto/sm4_xts.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "crypto/sm4.h"
#include "tests/support/vectors.h"

using testing_support::from_hex;
using testing_support::load_vectors;
using testing_support::to_hex;
using Bytes = std::vector<uint8_t>;

namespace {

enum class Entry { kChecked, kUnchecked };

Bytes run(Entry entry, bool encrypt, const Bytes& key, const Bytes& tweak, const Bytes& in) {
    Bytes out(in.size());
    const uint32_t len = static_cast<uint32_t>(in.size());
    int32_t r;
    if (entry == Entry::kUnchecked) {
        r = sm4_xts(key.data(), tweak.data(), in.data(), len, out.data(), encrypt ? 1 : 0);
    } else if (encrypt) {
        r = sm4_xts_encrypt(key.data(), tweak.data(), in.data(), len, out.data());
    } else {
        r = sm4_xts_decrypt(key.data(), tweak.data(), in.data(), len, out.data());
    }
    EXPECT_EQ(r, 0);
    return out;
}

const Bytes kKey = from_hex("2b7e151628aed2a6abf7158809cf4f3c000102030405060708090a0b0c0d0e0f");
const Bytes kTweak = from_hex("f0f1f2f3f4f5f6f7f8f9fafbfcfdfeff");

Bytes pattern(size_t len) {
    Bytes b(len);
    for (size_t i = 0; i < len; ++i) b[i] = static_cast<uint8_t>(i * 29 + 7);
    return b;
}

}  // namespace

TEST(Sm4Xts, VectorThroughAllEntryPoints) {
    for (const auto& v : load_vectors("sm4_xts.txt").vectors) {
        SCOPED_TRACE(v.name);
        const Bytes key = v.bytes("key"), tweak = v.bytes("tweak");
        const Bytes plain = v.bytes("plain"), cipher = v.bytes("cipher");
        for (Entry entry : {Entry::kChecked, Entry::kUnchecked}) {
            SCOPED_TRACE(entry == Entry::kChecked ? "checked" : "sm4_xts");
            EXPECT_EQ(to_hex(run(entry, true, key, tweak, plain)), to_hex(cipher));
            EXPECT_EQ(to_hex(run(entry, false, key, tweak, cipher)), to_hex(plain));
        }
    }
}

TEST(Sm4Xts, MulAlphaShiftsRightInGbt17964Order) {
    struct Case {
        const char* in;
        const char* out;
    };
    const Case cases[] = {
        {"00000000000000000000000000000001", "e1000000000000000000000000000000"},
        {"80000000000000000000000000000000", "40000000000000000000000000000000"},
        {"00000000000000000000000000000100", "00000000000000000000000000000080"},
        {"01000000000000000000000000000000", "00800000000000000000000000000000"},
        {"00000000000000000000000000000003", "e1000000000000000000000000000001"},
        {"ffffffffffffffffffffffffffffffff", "9effffffffffffffffffffffffffffff"},
        {"00000000000000000000000000000000", "00000000000000000000000000000000"},
    };
    for (const Case& c : cases) {
        Bytes t = from_hex(c.in);
        xts_mul_alpha(t.data());
        EXPECT_EQ(to_hex(t), c.out) << c.in;
    }
}

TEST(Sm4Xts, ReverseBits16ReversesEachByte) {
    Bytes t = from_hex("0180 0f f0 a5 12 48 fe 7f 00 ff 55 aa c3 3c 01");
    const Bytes original = t;
    reverse_bits_16(t.data());
    EXPECT_EQ(to_hex(t), "8001f00fa548127ffe00ffaa55c33c80");
    reverse_bits_16(t.data());
    EXPECT_EQ(to_hex(t), to_hex(original));
}

// With one block the tweak is T = E(K2, tweak input) itself.
TEST(Sm4Xts, OneBlockUsesTheEncryptedTweak) {
    const Bytes plain = pattern(16);
    Bytes t(16), block(16);
    ASSERT_EQ(sm4_ecb_encrypt(kKey.data() + 16, kTweak.data(), 16, t.data()), 0);
    for (int i = 0; i < 16; ++i) block[i] = plain[i] ^ t[i];
    ASSERT_EQ(sm4_ecb_encrypt(kKey.data(), block.data(), 16, block.data()), 0);
    for (int i = 0; i < 16; ++i) block[i] ^= t[i];
    EXPECT_EQ(to_hex(run(Entry::kChecked, true, kKey, kTweak, plain)), to_hex(block));
}

TEST(Sm4Xts, CheckedFormRefusesBadArgumentsAndWritesNothing) {
    struct Case {
        const char* name;
        bool null_key, null_tweak, null_in, null_out;
        uint32_t len;
    };
    const Case cases[] = {
        {"len 0", false, false, false, false, 0},    {"len 15", false, false, false, false, 15},
        {"len 17", false, false, false, false, 17},  {"len 40", false, false, false, false, 40},
        {"null key", true, false, false, false, 32}, {"null tweak", false, true, false, false, 32},
        {"null in", false, false, true, false, 32},  {"null out", false, false, false, true, 32},
    };
    const Bytes in = pattern(48);
    for (auto fn : {sm4_xts_encrypt, sm4_xts_decrypt}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(c.name);
            Bytes out(48, 0xA5);
            EXPECT_EQ(fn(c.null_key ? nullptr : kKey.data(), c.null_tweak ? nullptr : kTweak.data(),
                         c.null_in ? nullptr : in.data(), c.len, c.null_out ? nullptr : out.data()),
                      1);
            EXPECT_EQ(to_hex(out), to_hex(Bytes(48, 0xA5)));
        }
    }
}

// The unchecked form transforms whole blocks only and leaves the rest of out alone.
TEST(Sm4Xts, UncheckedFormIgnoresThePartialBlock) {
    const Bytes in = pattern(40);
    const Bytes first32(in.begin(), in.begin() + 32);
    for (bool encrypt : {true, false}) {
        Bytes out(40, 0xA5);
        EXPECT_EQ(sm4_xts(kKey.data(), kTweak.data(), in.data(), 40, out.data(), encrypt), 0);
        const Bytes expected = run(Entry::kChecked, encrypt, kKey, kTweak, first32);
        EXPECT_EQ(to_hex(out.data(), 32), to_hex(expected));
        EXPECT_EQ(to_hex(out.data() + 32, 8), "a5a5a5a5a5a5a5a5");
    }
    for (uint32_t len : {0u, 15u}) {
        Bytes out(16, 0xA5);
        EXPECT_EQ(sm4_xts(kKey.data(), kTweak.data(), in.data(), len, out.data(), 1), 0);
        EXPECT_EQ(to_hex(out), to_hex(Bytes(16, 0xA5))) << len;
    }
}

TEST(Sm4Xts, InPlaceMatchesSeparateBuffers) {
    const Bytes data = pattern(512);
    for (Entry entry : {Entry::kChecked, Entry::kUnchecked}) {
        for (bool encrypt : {true, false}) {
            const Bytes apart = run(entry, encrypt, kKey, kTweak, data);
            Bytes in_place = data;
            if (entry == Entry::kUnchecked) {
                sm4_xts(kKey.data(), kTweak.data(), in_place.data(), 512, in_place.data(), encrypt);
            } else {
                auto fn = encrypt ? sm4_xts_encrypt : sm4_xts_decrypt;
                ASSERT_EQ(fn(kKey.data(), kTweak.data(), in_place.data(), 512, in_place.data()), 0);
            }
            EXPECT_EQ(to_hex(in_place), to_hex(apart));
        }
    }
}

// The checked pair and the unchecked entry point give the same bytes, and decryption undoes
// encryption, over random keys, tweaks and lengths; the tweak input is never modified.
TEST(Sm4Xts, CheckedAndUncheckedAgreeAndRoundTrip) {
    std::mt19937 rng(17964);
    auto random_bytes = [&](size_t n) {
        Bytes b(n);
        for (auto& x : b) x = static_cast<uint8_t>(rng());
        return b;
    };
    for (int i = 0; i < 200; ++i) {
        const Bytes key = random_bytes(32), tweak = random_bytes(16);
        const Bytes plain = random_bytes(16 * (1 + rng() % 64));
        const Bytes tweak_copy = tweak;
        const Bytes cipher = run(Entry::kChecked, true, key, tweak, plain);
        ASSERT_EQ(to_hex(run(Entry::kUnchecked, true, key, tweak, plain)), to_hex(cipher));
        ASSERT_EQ(to_hex(run(Entry::kChecked, false, key, tweak, cipher)), to_hex(plain));
        ASSERT_EQ(to_hex(run(Entry::kUnchecked, false, key, tweak, cipher)), to_hex(plain));
        ASSERT_EQ(tweak, tweak_copy);
    }
}
