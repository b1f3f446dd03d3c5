// Events, waits and kernel APCs. All dispatcher state is guarded by one lock, as on Windows. A
// waiting thread hangs a wait block on the object's wait list and sleeps on its own condition
// variable; a signal that satisfies it unlinks the block and wakes the thread.
#include <chrono>
#include <limits>
#include <optional>
#include <string>

#include "platform/core/trace.h"
#include "platform/ntoskrnl/ke/thread.h"
#include "platform/ntoskrnl/not_implemented.h"

namespace ntoskrnl {
namespace {

using Clock = std::chrono::steady_clock;

thread_local _KTHREAD* current = nullptr;
ThreadAdopter adopter = nullptr;

struct WaitBlock {
    LIST_ENTRY link;  // on the object's WaitListHead
    _KTHREAD* thread;
};

// 100 ns units between 1601-01-01 and 1970-01-01.
constexpr int64_t kUnixEpoch = 116444736000000000LL;

// What the header's fixed fields say (an event never initialised has a size of 0).
bool is_dispatcher_object(const DISPATCHER_HEADER* header) {
    switch (header->Type) {
        case kNotificationEventObject:
        case kSynchronizationEventObject:
            return header->Size == sizeof(KEVENT) / sizeof(LONG);
        case kThreadObject:
            return true;
        default:
            return false;
    }
}

void check_object(const DISPATCHER_HEADER* header, const char* routine) {
    if (!header || !is_dispatcher_object(header)) bug_check("INVALID_DISPATCHER_OBJECT", routine);
}

// Satisfies the first (synchronization) or every (notification, thread) waiter of a signalled
// object. With the dispatcher lock held.
void satisfy_waiters(DISPATCHER_HEADER* header) {
    while (header->SignalState > 0 && !IsListEmpty(&header->WaitListHead)) {
        auto* block = CONTAINING_RECORD(RemoveHeadList(&header->WaitListHead), WaitBlock, link);
        block->link.Flink = block->link.Blink = nullptr;
        block->thread->wait_satisfied = true;
        block->thread->wake.notify_one();
        if (header->Type == kSynchronizationEventObject) header->SignalState = 0;
    }
}

// The point in time a wait ends at; nothing for a wait without a limit (or one so long that it
// does not end in the life of the process).
std::optional<Clock::time_point> deadline(const LARGE_INTEGER* timeout) {
    if (!timeout) return std::nullopt;
    int64_t units = timeout->QuadPart;  // relative when negative
    if (units > 0) {
        // Absolute system time: 100 ns units since 1601.
        const int64_t now = std::chrono::duration_cast<std::chrono::nanoseconds>(
                                std::chrono::system_clock::now().time_since_epoch())
                                    .count() /
                                100 +
                            kUnixEpoch;
        units = units > now ? now - units : 0;
    }
    constexpr int64_t kLongest = std::numeric_limits<int64_t>::max() / 200;
    if (units < -kLongest) return std::nullopt;
    return Clock::now() + std::chrono::nanoseconds(-units * 100);
}

// Runs the thread's queued APCs, with the lock released while they run.
void run_apcs(_KTHREAD* self, std::unique_lock<std::mutex>& lock) {
    while (!self->apcs.empty()) {
        auto apc = std::move(self->apcs.front());
        self->apcs.pop_front();
        lock.unlock();
        apc();
        lock.lock();
    }
}

}  // namespace

_KTHREAD* current_thread() {
    if (!current) {
        if (!adopter)
            bug_check("PHASE0_INITIALIZATION_FAILED",
                      "a thread entered the kernel before it was loaded");
        current = adopter();
    }
    return current;
}

void set_current_thread(_KTHREAD* thread) {
    current = thread;
}

void set_thread_adopter(ThreadAdopter make) {
    adopter = make;
}

std::mutex& dispatcher_lock() {
    static std::mutex* instance = new std::mutex;
    return *instance;
}

void initialize_thread(_KTHREAD* thread) {
    thread->Header.Type = kThreadObject;
    thread->Header.Size = 0;
    thread->Header.SignalState = 0;
    InitializeListHead(&thread->Header.WaitListHead);
}

void signal_thread_end(_KTHREAD* thread) {
    std::lock_guard guard(dispatcher_lock());
    thread->apcs.clear();
    thread->Header.SignalState = 1;
    satisfy_waiters(&thread->Header);
}

void queue_kernel_apc(_KTHREAD* thread, std::function<void()> routine) {
    std::lock_guard guard(dispatcher_lock());
    if (thread->Header.SignalState) return;  // the thread has ended
    thread->apcs.push_back(std::move(routine));
    if (thread->waiting) thread->wake.notify_one();
}

}  // namespace ntoskrnl

using namespace ntoskrnl;

extern "C" VOID NTAPI KeInitializeEvent(PRKEVENT Event, EVENT_TYPE Type, BOOLEAN State) {
    Event->Header.Type =
        Type == NotificationEvent ? kNotificationEventObject : kSynchronizationEventObject;
    Event->Header.Signalling = 0;
    Event->Header.Size = sizeof(KEVENT) / sizeof(LONG);
    Event->Header.Reserved1 = 0;
    Event->Header.SignalState = State ? 1 : 0;
    InitializeListHead(&Event->Header.WaitListHead);
}

extern "C" LONG NTAPI KeSetEvent(PRKEVENT Event, KPRIORITY Increment, BOOLEAN Wait) {
    (void)Increment, (void)Wait;
    check_object(&Event->Header, "KeSetEvent");
    std::lock_guard guard(dispatcher_lock());
    const LONG previous = Event->Header.SignalState;
    Event->Header.SignalState = 1;
    satisfy_waiters(&Event->Header);
    return previous;
}

extern "C" LONG NTAPI KeResetEvent(PRKEVENT Event) {
    check_object(&Event->Header, "KeResetEvent");
    std::lock_guard guard(dispatcher_lock());
    const LONG previous = Event->Header.SignalState;
    Event->Header.SignalState = 0;
    return previous;
}

extern "C" VOID NTAPI KeClearEvent(PRKEVENT Event) {
    KeResetEvent(Event);
}

extern "C" LONG NTAPI KeReadStateEvent(PRKEVENT Event) {
    check_object(&Event->Header, "KeReadStateEvent");
    std::lock_guard guard(dispatcher_lock());
    return Event->Header.SignalState;
}

extern "C" NTSTATUS NTAPI KeWaitForSingleObject(PVOID Object, KWAIT_REASON WaitReason,
                                                KPROCESSOR_MODE WaitMode, BOOLEAN Alertable,
                                                PLARGE_INTEGER Timeout) {
    (void)WaitReason, (void)WaitMode, (void)Alertable;
    TRACE("ntoskrnl", "KeWaitForSingleObject(%p, %s)", Object,
          Timeout ? std::to_string(Timeout->QuadPart).c_str() : "no time-out");
    auto* header = static_cast<DISPATCHER_HEADER*>(Object);
    check_object(header, "KeWaitForSingleObject");
    _KTHREAD* self = current_thread();
    const bool poll = Timeout && Timeout->QuadPart == 0;
    if (self->irql > APC_LEVEL && !poll)
        bug_check("IRQL_NOT_LESS_OR_EQUAL", "KeWaitForSingleObject at DISPATCH_LEVEL");
    const auto until = deadline(Timeout);
    std::unique_lock lock(dispatcher_lock());
    for (;;) {
        if (self->irql == PASSIVE_LEVEL) run_apcs(self, lock);
        if (header->SignalState > 0) {
            if (header->Type == kSynchronizationEventObject) header->SignalState = 0;
            return STATUS_SUCCESS;
        }
        if (poll || (until && Clock::now() >= *until)) return STATUS_TIMEOUT;
        WaitBlock block{{}, self};
        InsertTailList(&header->WaitListHead, &block.link);
        self->wait_satisfied = false;
        self->waiting = true;
        auto woken = [&] {
            return self->wait_satisfied || (self->irql == PASSIVE_LEVEL && !self->apcs.empty());
        };
        if (until)
            self->wake.wait_until(lock, *until, woken);
        else
            self->wake.wait(lock, woken);
        self->waiting = false;
        if (self->wait_satisfied) return STATUS_SUCCESS;
        RemoveEntryList(&block.link);  // a time-out or an APC: the wait starts again
    }
}
