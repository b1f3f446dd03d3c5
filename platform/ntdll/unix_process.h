// The host side of processes and their users: ids as the host numbers them.
#pragma once

#include <cstdint>

namespace platform::unix_process {

uint32_t process_id();
uint32_t thread_id();
// The user and group that the process acts as, and so owns the files it creates.
uint32_t user_id();
uint32_t group_id();

}  // namespace platform::unix_process
