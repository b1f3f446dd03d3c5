// What threads did with KeSaveExtendedProcessorState and KeRestoreExtendedProcessorState, and the
// fault the test controls inject into it.
#pragma once

#include <cstdint>

#include "platform/wdm.h"

namespace ntoskrnl {

struct ExtendedStateUse {
    uint64_t saves = 0;  // successful saves
    uint64_t restores = 0;
    ULONG64 last_mask = 0;  // the mask of the last successful save
};

// The calling thread's use of its extended processor state.
ExtendedStateUse extended_state_use();

// The next count calls of KeSaveExtendedProcessorState fail (STATUS_INSUFFICIENT_RESOURCES).
void fail_extended_state_saves(unsigned count);

}  // namespace ntoskrnl
