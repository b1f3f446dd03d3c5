// The host side of the process's user: ids as the host numbers them.
#pragma once

#include <cstdint>

namespace platform::unix_process {

// The user and group that the process acts as, and so owns the files it creates.
uint32_t user_id();
uint32_t group_id();

}  // namespace platform::unix_process
