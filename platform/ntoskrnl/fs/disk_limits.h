// The simulated limits of a drive, which the test controls set (platform/testing/disk_controls.h):
// its free space, and how many more bytes its files may read before the disk fails.
#pragma once

#include <cstdint>

namespace ntoskrnl::fs {

// Whether files of the drive opened now count against its free space or its read budget.
bool drive_has_write_limit(char drive);
bool drive_has_read_limit(char drive);

// Takes at most wanted bytes of what the drive has left, and returns how many were granted
// (wanted itself when the drive has no limit any more).
uint64_t drive_take_written(char drive, uint64_t wanted);
uint64_t drive_take_read(char drive, uint64_t wanted);

// At most bytes more written to, or read from, the drive's files opened from now on; the clears
// lift every drive's limit.
void set_drive_write_limit(char drive, uint64_t bytes);
void clear_drive_write_limits();
void set_drive_read_limit(char drive, uint64_t bytes);
void clear_drive_read_limits();

}  // namespace ntoskrnl::fs
