#include "platform/unix/unix_process.h"

#include <unistd.h>

namespace platform::unix_process {

uint32_t user_id() {
    return static_cast<uint32_t>(geteuid());
}

uint32_t group_id() {
    return static_cast<uint32_t>(getegid());
}

}  // namespace platform::unix_process
