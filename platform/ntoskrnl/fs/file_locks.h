// Byte-range locks of one handle, as Windows grants them, held on the host as open-file-
// description locks so that handles of other processes are excluded as well.
//
// Windows' byte-range locks are mandatory: a read or write into a range that another handle has
// locked fails. The host's locks are advisory: they exclude other lockers only, so reads and
// writes through other handles still go through here.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/ddk/ntstatus.h"

namespace ntoskrnl::fs {

class RangeLocks {
  public:
    explicit RangeLocks(int fd) : fd_(fd) {}

    // Windows' rules: an exclusive lock may overlap no lock of this handle; a shared one may lie
    // over this handle's own locks; a lock of length 0 conflicts with nothing. wait: block until
    // other handles free the range, else STATUS_LOCK_NOT_GRANTED.
    NTSTATUS lock(uint64_t offset, uint64_t length, bool exclusive, bool wait);
    // Releases the lock taken with exactly this offset and length; STATUS_RANGE_NOT_LOCKED if none.
    NTSTATUS unlock(uint64_t offset, uint64_t length);

  private:
    struct Range {
        uint64_t offset, length;
        bool exclusive;
        uint64_t end() const { return offset + length; }  // 0 when the range reaches 2^64
    };

    // Sets the host's locks over the range to what the held ranges say.
    void sync_host(uint64_t offset, uint64_t length);

    const int fd_;
    std::vector<Range> held_;
};

}  // namespace ntoskrnl::fs
