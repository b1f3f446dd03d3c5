#include "platform/testing/disk_controls.h"

#include "platform/ntoskrnl/fs/disk_limits.h"

namespace sim {

void disk_set_free_space(char drive, uint64_t bytes) {
    ntoskrnl::fs::set_drive_write_limit(drive, bytes);
}

void disk_clear_free_space_limits() {
    ntoskrnl::fs::clear_drive_write_limits();
}

void disk_set_read_limit(char drive, uint64_t bytes) {
    ntoskrnl::fs::set_drive_read_limit(drive, bytes);
}

void disk_clear_read_limits() {
    ntoskrnl::fs::clear_drive_read_limits();
}

}  // namespace sim
