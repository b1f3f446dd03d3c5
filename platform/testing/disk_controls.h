// Test controls of the drives' simulated limits, for every file the platform opens (CreateFileA and
// the C runtime's fopen alike) on a drive path.
#pragma once

#include <cstdint>

namespace sim {

// From now on at most bytes more can be written to files on the drive ('C' for "C:/..."); a write
// beyond that fails as on a full disk (WriteFile: ERROR_DISK_FULL; a stream: ENOSPC). Files opened
// before the call are not limited.
void disk_set_free_space(char drive, uint64_t bytes);
// Every drive unlimited again.
void disk_clear_free_space_limits();

// Files on the drive opened after the call return at most bytes more bytes in total; reads
// beyond that fail as an I/O error (ReadFile: ERROR_IO_DEVICE; fread: a short count with the
// stream's error set).
void disk_set_read_limit(char drive, uint64_t bytes);
// Every drive reads without limit again.
void disk_clear_read_limits();

}  // namespace sim
