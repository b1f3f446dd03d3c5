// The system's message table: the English text of each Win32 error code this machine can report,
// as FormatMessage gives it (every line ends in "\r\n").
#pragma once

#include <cstdint>

namespace platform {

// The text of code, or null when the table has none.
const char* system_message(uint32_t code);

}  // namespace platform
