// Host byte order, the 32-bit conversions, byte reversal and the hex conversions.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "crypto/byte_order.h"
#include "crypto/hex.h"
#include "tests/support/vectors.h"

using testing_support::to_hex;

#if defined(__x86_64__) || defined(_M_X64) || defined(__i386__)
TEST(ByteOrder, X86IsLittleEndian) {
    EXPECT_FALSE(host_is_big_endian());
    EXPECT_TRUE(host_is_little_endian());
}
#endif

TEST(ByteOrder, ConversionsGiveTheNamedOrderInMemoryAndUndoThemselves) {
    uint8_t bytes[4];
    const uint32_t le = to_little_endian32(0x11223344);
    std::memcpy(bytes, &le, 4);
    EXPECT_EQ(to_hex(bytes, 4), "44332211");
    const uint32_t be = to_big_endian32(0x11223344);
    std::memcpy(bytes, &be, 4);
    EXPECT_EQ(to_hex(bytes, 4), "11223344");
    if (host_is_little_endian()) {
        EXPECT_EQ(le, 0x11223344u);
        EXPECT_EQ(be, 0x44332211u);
    }
    for (uint32_t v : {0u, 0x11223344u, 0x80000001u, 0xFFFFFFFFu}) {
        EXPECT_EQ(to_little_endian32(to_little_endian32(v)), v);
        EXPECT_EQ(to_big_endian32(to_big_endian32(v)), v);
    }
}

TEST(ByteOrder, Reverse16BytesMirrorsTheBuffer) {
    uint8_t b[16];
    for (int i = 0; i < 16; ++i) b[i] = static_cast<uint8_t>(i);
    reverse_16_bytes(b);
    EXPECT_EQ(to_hex(b, 16), "0f0e0d0c0b0a09080706050403020100");
}

TEST(ByteOrder, ReverseIfLittleEndianTurnsBigEndianNumbersIntoHostOrder) {
    struct Case {
        std::vector<uint8_t> in;
        const char* reversed;
    };
    const Case cases[] = {
        {{1, 2, 3, 4, 5}, "0504030201"}, {{1, 2, 3, 4}, "04030201"}, {{7}, "07"}, {{}, ""}};
    for (const Case& c : cases) {
        std::vector<uint8_t> b = c.in;
        b.push_back(0xEE);  // past n: never touched
        reverse_bytes_if_little_endian(b.data(), static_cast<uint32_t>(c.in.size()));
        const std::string expected =
            (host_is_little_endian() ? std::string(c.reversed) : to_hex(c.in)) + "ee";
        EXPECT_EQ(to_hex(b), expected);
    }
    // A big-endian 32-bit number read through it equals the value.
    uint8_t be[4] = {0x11, 0x22, 0x33, 0x44};
    reverse_bytes_if_little_endian(be, 4);
    uint32_t value;
    std::memcpy(&value, be, 4);
    EXPECT_EQ(value, 0x11223344u);
}

TEST(Hex, BytesToHexWritesLowercaseDigitsAndOneNul) {
    const uint8_t data[] = {0x0A, 0xFF};
    for (auto fn : {bytes_to_hex, hex_encode}) {
        char out[8];
        std::memset(out, '#', sizeof out);
        fn(data, 2, out);
        EXPECT_EQ(std::string(out, 5), std::string("0aff\0", 5));
        EXPECT_EQ(out[5], '#');
    }
}

TEST(Hex, BytesToHexWithNoBytesWritesNothing) {
    const uint8_t data[] = {0x0A};
    for (int32_t len : {0, -1, -100}) {
        char out[4];
        std::memset(out, '#', sizeof out);
        bytes_to_hex(data, len, out);
        EXPECT_EQ(std::string(out, 4), "####") << len;
    }
}

TEST(Hex, HexToBytesReadsPairsLikeStrtol) {
    struct Case {
        const char* text;
        std::vector<uint8_t> bytes;
    };
    const Case cases[] = {
        {"0aff", {0x0A, 0xFF}}, {"0AFF", {0x0A, 0xFF}}, {"00", {0x00}},
        {"1g", {0x01}},  // a pair that is not hex gives its leading hex digit
        {"g1", {0x00}},  // or 0
        {"7f80", {0x7F, 0x80}},
    };
    for (const Case& c : cases) {
        uint8_t out[8];
        std::memset(out, 0xEE, sizeof out);
        const int32_t n = hex_to_bytes(c.text, out);
        ASSERT_EQ(n, static_cast<int32_t>(c.bytes.size())) << c.text;
        EXPECT_EQ(to_hex(out, c.bytes.size()), to_hex(c.bytes)) << c.text;
        EXPECT_EQ(out[n], 0xEE) << c.text;
    }
}

TEST(Hex, HexDumpPrintsLabelAndHex) {
    const uint8_t data[] = {0x0A, 0xFF};
    testing::internal::CaptureStdout();
    hex_dump(data, 2, "serial");
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "[serial]0aff\n");
}

// The text area holds 5,119 bytes of hex; longer input is cut there.
TEST(Hex, HexDumpCutsAtItsTextArea) {
    const std::vector<uint8_t> data(6000, 0xAB);
    testing::internal::CaptureStdout();
    hex_dump(data.data(), static_cast<uint32_t>(data.size()), "x");
    const std::string printed = testing::internal::GetCapturedStdout();
    std::string expected = "[x]";
    for (int i = 0; i < 5119; ++i) expected += "ab";
    EXPECT_EQ(printed, expected + "\n");
}

// Texts outside the contract (empty or of odd length) are read no further than their NUL.
TEST(Hex, HexToBytesStopsAtTheEndOfShortOrOddText) {
    struct Case {
        const char* text;
        std::vector<uint8_t> bytes;
    };
    const Case cases[] = {{"", {0x00}}, {"a", {0x0A}}, {"abc", {0xAB, 0x0C}}};
    for (const Case& c : cases) {
        // An exactly sized heap copy, so that a read past the NUL shows under the sanitizers.
        const size_t size = std::strlen(c.text) + 1;
        std::unique_ptr<char[]> text(new char[size]);
        std::memcpy(text.get(), c.text, size);
        uint8_t out[4];
        const int32_t n = hex_to_bytes(text.get(), out);
        ASSERT_EQ(n, static_cast<int32_t>(c.bytes.size())) << '"' << c.text << '"';
        EXPECT_EQ(to_hex(out, c.bytes.size()), to_hex(c.bytes)) << '"' << c.text << '"';
    }
}
