// Simulated free space of a drive: files opened for writing on a drive with a limit fail with
// ENOSPC once the drive's remaining bytes are used up.
#pragma once

#include <cstdio>

namespace platform {

// A stream over real that counts its writes against the drive of path, or real itself when the
// drive has no limit. Takes ownership of real.
FILE* limit_by_free_space(const char* path, const char* mode, FILE* real);

}  // namespace platform
