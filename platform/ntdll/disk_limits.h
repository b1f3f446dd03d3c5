// The simulated limits of a drive (platform/sim/disk.h): its free space, and how many more bytes
// its files may read before the disk fails.
#pragma once

#include <cstdint>

namespace platform {

// Whether files of the drive opened now count against its free space or its read budget.
bool drive_has_write_limit(char drive);
bool drive_has_read_limit(char drive);

// Takes at most wanted bytes of what the drive has left, and returns how many were granted
// (wanted itself when the drive has no limit any more).
uint64_t drive_take_written(char drive, uint64_t wanted);
uint64_t drive_take_read(char drive, uint64_t wanted);

}  // namespace platform
