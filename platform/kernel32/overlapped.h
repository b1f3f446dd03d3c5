// Completion of overlapped operations: the status goes into OVERLAPPED.Internal, the byte count
// into InternalHigh, then the record's event is signalled, as the I/O manager does.
#pragma once

#include <cstdint>

#include "platform/win32.h"

namespace platform {

// Marks the record pending and resets its event; done when an operation starts.
void overlapped_begin(OVERLAPPED* overlapped);
void overlapped_complete(OVERLAPPED* overlapped, uint32_t nt_status, uint32_t information);

}  // namespace platform
