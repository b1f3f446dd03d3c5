// The self-test runner's output: one line per failing test, or "alg test ok!" when all pass.
#include "crypto/selftest.h"

#include <gtest/gtest.h>

TEST(Selftest, EveryTestPassesAndTheRunnerSaysSo) {
    EXPECT_EQ(selftest_sm3(), 0);
    EXPECT_EQ(selftest_sm4(), 0);
    EXPECT_EQ(selftest_sm2(), 0);
    EXPECT_EQ(selftest_sm4_xts(), 0);

    testing::internal::CaptureStdout();
    crypto_selftest();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "alg test ok!\n");
}
