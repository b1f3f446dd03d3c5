// Memory descriptor lists over a caller's buffer, as the I/O manager builds them for direct I/O.
#pragma once

#include "platform/wdm.h"

namespace ntoskrnl::mm {

PMDL create_mdl(PVOID buffer, ULONG length);
void free_mdl(PMDL mdl);
// The next count mappings of a request's buffer into system space (MmGetSystemAddressForMdlSafe)
// return null.
void fail_mdl_mappings(unsigned count);

}  // namespace ntoskrnl::mm
