// The system threads that are running, for the test API and the loader's unload check.
#pragma once

#include <vector>

#include "platform/wdm.h"

namespace ntoskrnl {

struct SystemThread {
    PVOID start_routine;
    KPRIORITY priority;
};

std::vector<SystemThread> system_threads();

}  // namespace ntoskrnl
