// KeSaveExtendedProcessorState and KeRestoreExtendedProcessorState as Windows documents them: a
// mask of enabled features only, at DISPATCH_LEVEL at most, each save restored by the thread that
// made it, innermost first, and none left open when the thread ends or returns to user mode; a
// misuse stops the process as the bug check would. The host keeps every thread's registers
// across its own switches, so a save is bookkeeping here: the chain of open saves (the callers'
// records, linked through Prev) and the counts that the test controls report.
#include <atomic>
#include <cstdint>

#if defined(__x86_64__)
#include <cpuid.h>
#endif

#include "platform/core/trace.h"
#include "platform/ntoskrnl/ke/extended_state.h"
#include "platform/ntoskrnl/ke/thread.h"
#include "platform/ntoskrnl/not_implemented.h"

namespace ntoskrnl {
namespace {

constexpr char kBugCheck[] = "INVALID_EXTENDED_PROCESSOR_STATE";

std::atomic<unsigned> failing_saves{0};

// The state components that the host system has enabled (XCR0).
ULONG64 enabled_features() {
#if defined(__x86_64__)
    unsigned a = 0, b = 0, c = 0, d = 0;
    if (!__get_cpuid(1, &a, &b, &c, &d) || !((c >> 27) & 1)) return 0;  // no OSXSAVE
    uint32_t lo = 0, hi = 0;
    __asm__ volatile("xgetbv" : "=a"(lo), "=d"(hi) : "c"(0));
    return (ULONG64{hi} << 32) | lo;
#else
    return 0;
#endif
}

bool take_failure() {
    unsigned left = failing_saves.load();
    while (left > 0)
        if (failing_saves.compare_exchange_weak(left, left - 1)) return true;
    return false;
}

}  // namespace

void require_no_saved_extended_state(const _KTHREAD* thread, const char* when) {
    if (thread->xstate_top) bug_check(kBugCheck, when);
}

ExtendedStateUse extended_state_use() {
    const _KTHREAD* self = current_thread();
    return {self->xstate_saves, self->xstate_restores, self->xstate_last_mask};
}

void fail_extended_state_saves(unsigned count) {
    failing_saves = count;
}

}  // namespace ntoskrnl

using namespace ntoskrnl;

extern "C" NTSTATUS NTAPI KeSaveExtendedProcessorState(ULONG64 Mask, PXSTATE_SAVE XStateSave) {
    TRACE("ntoskrnl", "KeSaveExtendedProcessorState(%#llx, %p)",
          static_cast<unsigned long long>(Mask), static_cast<void*>(XStateSave));
    _KTHREAD* self = current_thread();
    if (self->irql > DISPATCH_LEVEL)
        bug_check(kBugCheck, "KeSaveExtendedProcessorState above DISPATCH_LEVEL");
    static const ULONG64 enabled = enabled_features();
    if (Mask & ~enabled)
        bug_check(kBugCheck, "KeSaveExtendedProcessorState of features that are not enabled");
    if (take_failure()) return STATUS_INSUFFICIENT_RESOURCES;
    XStateSave->Prev = self->xstate_top;
    XStateSave->Thread = self;
    XStateSave->XStateContext = XSTATE_CONTEXT{Mask, 0, 0, nullptr, nullptr};
    self->xstate_top = XStateSave;
    self->xstate_last_mask = Mask;
    ++self->xstate_saves;
    return STATUS_SUCCESS;
}

extern "C" VOID NTAPI KeRestoreExtendedProcessorState(PXSTATE_SAVE XStateSave) {
    TRACE("ntoskrnl", "KeRestoreExtendedProcessorState(%p)", static_cast<void*>(XStateSave));
    _KTHREAD* self = current_thread();
    if (self->irql > DISPATCH_LEVEL)
        bug_check(kBugCheck, "KeRestoreExtendedProcessorState above DISPATCH_LEVEL");
    // The record is read only once it is known to be one of this thread's open saves.
    if (XStateSave != self->xstate_top) {
        for (const XSTATE_SAVE* open = self->xstate_top; open; open = open->Prev)
            if (open == XStateSave)
                bug_check(kBugCheck, "KeRestoreExtendedProcessorState out of order");
        bug_check(kBugCheck,
                  "KeRestoreExtendedProcessorState of a save that this thread does not hold");
    }
    self->xstate_top = XStateSave->Prev;
    XStateSave->Thread = nullptr;
    ++self->xstate_restores;
}
