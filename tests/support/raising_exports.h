// The volume exports when the first file or drive call below them raises (the stand-ins of
// tests/support/raising_calls.h, which this brings into its program): result 1, the error text of
// ERROR_NOT_ENOUGH_MEMORY, and the letter never defined.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <initializer_list>
#include <string>

#include "tests/support/raising_calls.h"
#include "tests/support/volume_test.h"

struct VolumeExportCall {
    const char* operation;
    std::function<uint32_t(char* text, uint32_t size)> call;
};

inline void expect_first_raise_ends_with_1(std::initializer_list<VolumeExportCall> calls,
                                           char letter) {
    for (const VolumeExportCall& c : calls) {
        ErrorText out;
        raising::arm(0);
        EXPECT_EQ(c.call(out.text, ErrorText::kSize), 1u) << c.operation;
        EXPECT_TRUE(raising::disarm()) << c.operation;
        EXPECT_EQ(out.str(), std::string("[") + c.operation + "]failed " +
                                 system_message(ERROR_NOT_ENOUGH_MEMORY));
        EXPECT_FALSE(letter_defined(letter)) << c.operation;
    }
}
