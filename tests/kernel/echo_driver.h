// The control codes of the test driver in echo_driver.cc (devices "\Device\HaldenEcho<n>").
#pragma once

#include <cstdint>

namespace echo {

// METHOD_BUFFERED, any access, on FILE_DEVICE_UNKNOWN.
constexpr uint32_t kIoctlReverse = 0x00222000;  // function 0x800: output = input reversed
constexpr uint32_t kIoctlFail = 0x00222004;     // function 0x801: writes output, then fails
constexpr uint32_t kPoolTag = 'E' | 'c' << 8 | 'h' << 16 | 'o' << 24;  // "Echo"
constexpr uint32_t kStoreSize = 4096;  // bytes READ and WRITE reach, from offset 0

}  // namespace echo
