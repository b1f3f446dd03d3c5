// Spin locks and the IRQL they raise to. A held lock's word is its owner's kernel thread, so
// taking a lock the thread already holds, or releasing one it does not, stops the process
// instead of deadlocking or corrupting. While a thread holds a spin lock it runs at
// DISPATCH_LEVEL, where waits and file calls stop the process (as they bug-check on Windows).
#include <atomic>
#include <thread>

#include "platform/ntoskrnl/ke/thread.h"
#include "platform/ntoskrnl/not_implemented.h"

namespace ntoskrnl {

void require_passive_level(const char* routine) {
    if (current_thread()->irql != PASSIVE_LEVEL) bug_check("IRQL_NOT_LESS_OR_EQUAL", routine);
}

}  // namespace ntoskrnl

using namespace ntoskrnl;

extern "C" KIRQL NTAPI KeGetCurrentIrql() {
    return current_thread()->irql;
}

extern "C" KIRQL NTAPI KeAcquireSpinLockRaiseToDpc(PKSPIN_LOCK SpinLock) {
    _KTHREAD* self = current_thread();
    if (self->irql > DISPATCH_LEVEL)
        bug_check("IRQL_NOT_LESS_OR_EQUAL", "KeAcquireSpinLock above DISPATCH_LEVEL");
    const KIRQL previous = self->irql;
    self->irql = DISPATCH_LEVEL;
    std::atomic_ref<KSPIN_LOCK> word(*SpinLock);
    const auto owner = reinterpret_cast<KSPIN_LOCK>(self);
    for (;;) {
        KSPIN_LOCK expected = 0;
        if (word.compare_exchange_weak(expected, owner, std::memory_order_acquire)) break;
        if (expected == owner)
            bug_check("SPIN_LOCK_ALREADY_OWNED", "KeAcquireSpinLock of a lock the thread holds");
        std::this_thread::yield();
    }
    return previous;
}

extern "C" VOID NTAPI KeReleaseSpinLock(PKSPIN_LOCK SpinLock, KIRQL NewIrql) {
    _KTHREAD* self = current_thread();
    std::atomic_ref<KSPIN_LOCK> word(*SpinLock);
    if (word.load(std::memory_order_relaxed) != reinterpret_cast<KSPIN_LOCK>(self))
        bug_check("SPIN_LOCK_NOT_OWNED", "KeReleaseSpinLock of a lock the thread does not hold");
    word.store(0, std::memory_order_release);
    if (NewIrql > self->irql) bug_check("IRQL_NOT_LESS_OR_EQUAL", "KeReleaseSpinLock raises");
    self->irql = NewIrql;
}
