// The random provider's life: the first successful call acquires it, later calls reuse it, and a
// failed acquisition leaves the buffer alone and is tried afresh next time. The provider handle
// is process-wide, so the whole sequence is one test in a program of its own.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>

#include "crypto/random.h"
#include "platform/testing/random_controls.h"

TEST(RandomProvider, AcquiresOnceAndRetriesAfterFailure) {
    std::array<uint8_t, 32> buffer;
    buffer.fill(0xA5);

    // Both acquisitions (without and with CRYPT_NEWKEYSET) fail: -1, buffer untouched.
    sim::random_fail_acquisitions(2);
    unsigned before = sim::random_acquisition_calls();
    EXPECT_EQ(get_random(buffer.data(), buffer.size()), -1);
    EXPECT_EQ(sim::random_acquisition_calls() - before, 2u);
    for (uint8_t b : buffer) EXPECT_EQ(b, 0xA5);

    // The next call tries again; the first form fails, the second succeeds.
    sim::random_fail_acquisitions(1);
    before = sim::random_acquisition_calls();
    EXPECT_EQ(get_random(buffer.data(), buffer.size()), 0);
    EXPECT_EQ(sim::random_acquisition_calls() - before, 2u);

    // Held from now on: no further acquisition, even when generation fails.
    before = sim::random_acquisition_calls();
    EXPECT_EQ(get_random(buffer.data(), buffer.size()), 0);
    sim::random_fail_generation(true);
    EXPECT_EQ(get_random(buffer.data(), buffer.size()), -1);
    sim::random_fail_generation(false);
    EXPECT_EQ(get_random(buffer.data(), buffer.size()), 0);
    EXPECT_EQ(sim::random_acquisition_calls(), before);
}

TEST(RandomProvider, FillsExactlyLenBytes) {
    std::array<uint8_t, 80> buffer{};
    ASSERT_EQ(get_random(buffer.data() + 8, 64), 0);
    for (int i = 0; i < 8; ++i) EXPECT_EQ(buffer[i], 0);
    for (int i = 72; i < 80; ++i) EXPECT_EQ(buffer[i], 0);
    int zeros = 0;
    for (int i = 8; i < 72; ++i) zeros += buffer[i] == 0;
    EXPECT_LT(zeros, 16);
}
