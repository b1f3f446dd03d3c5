// The system threads that are running, for the test API and the loader's unload check.
#pragma once

#include <vector>

#include "platform/sim/kernel.h"
#include "platform/wdm.h"

namespace ntoskrnl {

struct SystemThread {
    PVOID start_routine;
    KPRIORITY priority;
    sim::kernel::ExtendedStateUse extended_state;
};

std::vector<SystemThread> system_threads();

}  // namespace ntoskrnl
