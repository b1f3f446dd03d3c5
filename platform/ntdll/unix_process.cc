#include "platform/ntdll/unix_process.h"

#include <unistd.h>

namespace platform::unix_process {

uint32_t process_id() {
    return static_cast<uint32_t>(getpid());
}

uint32_t thread_id() {
    return static_cast<uint32_t>(gettid());
}

uint32_t user_id() {
    return static_cast<uint32_t>(geteuid());
}

uint32_t group_id() {
    return static_cast<uint32_t>(getegid());
}

}  // namespace platform::unix_process
