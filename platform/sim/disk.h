// Test API of the drives' free space (files opened with fopen on drive paths).
#pragma once

#include <cstdint>

namespace sim {

// From now on at most bytes more can be written to files on the drive ('C' for "C:/..."); a write
// beyond that fails with ENOSPC, as on a full disk. Files opened before the call are not limited.
void disk_set_free_space(char drive, uint64_t bytes);
// Every drive unlimited again.
void disk_clear_free_space_limits();

}  // namespace sim
