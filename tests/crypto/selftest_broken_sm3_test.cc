// The runner with a wrong SM3 linked in (broken_sm3.cc takes the place of the library's SM3):
// the SM3 test reports 1, the other three still run and pass, and "alg test ok!" is not printed.
#include <gtest/gtest.h>

#include "crypto/selftest.h"

TEST(SelftestWithBrokenSm3, ReportsOnlyTheSm3TestAndRunsTheRest) {
    EXPECT_EQ(selftest_sm3(), 1);
    testing::internal::CaptureStdout();
    crypto_selftest();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "selftest_sm3 ret[1]\n");
}
