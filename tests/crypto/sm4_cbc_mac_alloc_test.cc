// sm4_cbc_mac when its working copy cannot be allocated: result 2 and nothing written. The
// program replaces the nothrow array allocation so that a test can make it fail; it is a program
// of its own so that the replacement reaches no other test.
#include <gtest/gtest.h>

#include <array>
#include <new>

#include "crypto/sm4.h"

namespace {
bool fail_allocation = false;
}  // namespace

void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    if (fail_allocation) return nullptr;
    try {
        return ::operator new[](size);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

TEST(Sm4CbcMac, NoMemoryGivesTwoAndWritesNothing) {
    std::array<uint8_t, 16> key{}, iv, mac;
    std::array<uint8_t, 64> in{};
    iv.fill(0x5A);
    mac.fill(0xA5);
    fail_allocation = true;
    const int32_t result = sm4_cbc_mac(key.data(), iv.data(), in.data(), 64, mac.data());
    fail_allocation = false;
    EXPECT_EQ(result, 2);
    for (uint8_t b : iv) EXPECT_EQ(b, 0x5A);
    for (uint8_t b : mac) EXPECT_EQ(b, 0xA5);

    // The same call with memory to spare succeeds.
    EXPECT_EQ(sm4_cbc_mac(key.data(), iv.data(), in.data(), 64, mac.data()), 0);
}
