// The Win32 error of each NT status (platform/ddk/ntstatus.h): the one table of the layer, behind
// RtlNtStatusToDosError and every last-error value that user mode sets from a status.
#pragma once

#include <cstdint>

#include "platform/ddk/ntstatus.h"

namespace ntoskrnl {

// The Win32 error that GetLastError reports for a status (RtlNtStatusToDosError).
uint32_t nt_status_to_error(NTSTATUS status);

}  // namespace ntoskrnl
