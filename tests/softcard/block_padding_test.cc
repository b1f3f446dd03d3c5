#include "softcard/block_padding.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

TEST(PadIso7816, MarkerThenZerosAWholeBlockWhenAligned) {
    for (uint32_t length : {0u, 1u, 511u, 512u, 700u}) {
        std::vector<uint8_t> buffer(length + 512, 0xAB);
        uint32_t n = length;
        const uint32_t padded = PadIso7816(buffer.data(), &n, 512);
        EXPECT_EQ(padded, n);
        EXPECT_EQ(n, (length / 512 + 1) * 512) << length;
        EXPECT_EQ(buffer[length], 0x80);
        for (uint32_t i = length + 1; i < n; ++i) ASSERT_EQ(buffer[i], 0);
    }
}

TEST(PadPkcs7, CountBytesOfTheCount) {
    for (uint32_t length : {0u, 1u, 15u, 16u, 17u}) {
        std::vector<uint8_t> buffer(length + 16, 0xAB);
        uint32_t n = length;
        EXPECT_EQ(PadPkcs7(buffer.data(), &n, 16), n);
        const uint32_t count = 16 - length % 16;
        EXPECT_EQ(n, length + count);
        for (uint32_t i = length; i < n; ++i) ASSERT_EQ(buffer[i], count);
    }
}

TEST(UnpadPkcs7, RemovesAndZeroesThePadding) {
    std::vector<uint8_t> buffer = {1, 2, 3, 4, 4, 4, 4};
    uint32_t n = 7;
    ASSERT_EQ(UnpadPkcs7(buffer.data(), &n), 0);
    EXPECT_EQ(n, 3u);
    EXPECT_EQ(buffer, (std::vector<uint8_t>{1, 2, 3, 0, 0, 0, 0}));
}

// A count of 0, above the block or above the length is refused without touching anything.
TEST(UnpadPkcs7, RefusesBadCounts) {
    const std::vector<std::vector<uint8_t>> cases = {
        {1, 2, 0}, {5, 5, 17}, {3, 3}, {}, {0xFF},
    };
    for (const auto& original : cases) {
        // A guard byte behind the buffer shows any write outside it.
        std::vector<uint8_t> buffer = original;
        buffer.push_back(0x5A);
        uint32_t n = static_cast<uint32_t>(original.size());
        EXPECT_EQ(UnpadPkcs7(buffer.data(), &n), -1);
        EXPECT_EQ(n, original.size());
        EXPECT_EQ(std::vector<uint8_t>(buffer.begin(), buffer.end() - 1), original);
        EXPECT_EQ(buffer.back(), 0x5A);
    }
}

}  // namespace
