// Known-answer and round-trip self-tests of the algorithms. Each returns 0 when every step
// passes, else the code of the first failing step.
#pragma once

#include <cstdint>

extern "C" {

int32_t selftest_sm3();
int32_t selftest_sm4();
int32_t selftest_sm2();
int32_t selftest_sm4_xts();

// Runs the four tests in order and prints "<name> ret[<code>]" for each failure, or
// "alg test ok!" when all passed.
void crypto_selftest();

}  // extern "C"
