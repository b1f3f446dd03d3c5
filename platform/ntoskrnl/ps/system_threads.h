// Thread objects, and the system threads that are running (for the test controls and the
// loader's unload check).
#pragma once

#include <vector>

#include "platform/ntoskrnl/ke/extended_state.h"
#include "platform/ntoskrnl/ob/object.h"
#include "platform/wdm.h"

namespace ntoskrnl {

// The object type of thread objects.
extern _OBJECT_TYPE thread_type;

struct SystemThread {
    PVOID start_routine;
    KPRIORITY priority;
    ExtendedStateUse extended_state;
};

std::vector<SystemThread> system_threads();

}  // namespace ntoskrnl
