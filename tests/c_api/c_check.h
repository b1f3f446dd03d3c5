// The checks of a C test: each one that fails prints its condition and line; the program fails
// when any did.
#ifndef HALDEN_TESTS_C_CHECK_H
#define HALDEN_TESTS_C_CHECK_H

#include <stdio.h>

static int c_check_failures;

static void c_check(int passed, const char* condition, int line) {
    if (passed) return;
    printf("line %d: failed: %s\n", line, condition);
    ++c_check_failures;
}

#define C_CHECK(condition) c_check((condition) != 0, #condition, __LINE__)

// The program's exit status.
static int c_check_result(void) {
    if (c_check_failures == 0) return 0;
    printf("%d checks failed\n", c_check_failures);
    return 1;
}

#endif  // HALDEN_TESTS_C_CHECK_H
