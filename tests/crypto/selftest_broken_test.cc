// The self-tests with wrong algorithms linked in: broken_sm3.cc takes the place of the library's
// SM3 and broken_sm4_kernels.cc that of its SM4 kernels. Each test reports the code of its
// failing step, and the runner runs all four and prints a line for each one that failed.
#include <gtest/gtest.h>

#include "crypto/selftest.h"
#ifndef _WIN32
#include "platform/testing/random_controls.h"
#endif

namespace {

TEST(SelftestWithBrokenAlgorithms, EachTestReportsItsFailingStep) {
    EXPECT_EQ(selftest_sm3(), 1);
    EXPECT_EQ(selftest_sm4(), 1);       // the ECB block
    EXPECT_EQ(selftest_sm4_xts(), 11);  // the second block of the encryption
    EXPECT_EQ(selftest_sm2(), 0);       // consistent with the wrong SM3, so it passes
}

TEST(SelftestWithBrokenAlgorithms, RunnerReportsEveryFailureAndRunsTheRest) {
    testing::internal::CaptureStdout();
    crypto_selftest();
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "selftest_sm3 ret[1]\nselftest_sm4 ret[1]\nselftest_sm4_xts ret[11]\n");
}

#ifndef _WIN32
// Random bytes come from the simulated provider, which a test can make fail on Linux only.
TEST(SelftestWithBrokenAlgorithms, Sm2FailsAtTheKeyPairWithoutRandomBytes) {
    sim::random_fail_generation(true);
    EXPECT_EQ(selftest_sm2(), 1);
    testing::internal::CaptureStdout();
    crypto_selftest();
    const std::string printed = testing::internal::GetCapturedStdout();
    sim::random_fail_generation(false);
    EXPECT_EQ(printed,
              "selftest_sm3 ret[1]\nselftest_sm4 ret[1]\nselftest_sm2 ret[1]\n"
              "selftest_sm4_xts ret[11]\n");
}
#endif

}  // namespace
