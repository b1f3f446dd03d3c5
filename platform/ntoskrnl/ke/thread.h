// The kernel's view of a thread: every thread that enters the kernel (system threads and the
// threads of user mode alike) has one, with its IRQL, its kernel APC queue and its wait state.
// Its dispatcher header makes it waitable: it is signalled when the thread has ended.
#pragma once

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>

#include "platform/wdm.h"

struct _KTHREAD {
    DISPATCHER_HEADER Header;  // first: the thread is a dispatcher object

    // Guarded by the dispatcher lock.
    std::condition_variable wake;
    bool wait_satisfied = false;
    bool waiting = false;
    std::deque<std::function<void()>> apcs;  // kernel APCs, run inside the thread's waits

    // The thread's own.
    KIRQL irql = PASSIVE_LEVEL;
    KPRIORITY priority = 8;
    bool system_thread = false;
    PVOID start_routine = nullptr;  // a system thread's, for the unload check

    // Extended processor state: the innermost open save (the thread's own), and what the test
    // API reports (read by other threads).
    PXSTATE_SAVE xstate_top = nullptr;
    std::atomic<uint64_t> xstate_saves{0};
    std::atomic<uint64_t> xstate_restores{0};
    std::atomic<ULONG64> xstate_last_mask{0};
};

namespace ntoskrnl {

// DISPATCHER_HEADER.Type values.
constexpr UCHAR kNotificationEventObject = 0;
constexpr UCHAR kSynchronizationEventObject = 1;
constexpr UCHAR kThreadObject = 6;

// The lock of every dispatcher object's state and every thread's wait state.
std::mutex& dispatcher_lock();

// The calling thread's kernel thread. A thread that is not a system thread gets one on first use
// from the adopter (kept until the thread ends).
_KTHREAD* current_thread();
// Makes thread the calling thread's kernel thread (a new system thread does this first).
void set_current_thread(_KTHREAD* thread);
// What makes the kernel thread of a thread that enters the kernel on its own: a thread object of
// the process manager (platform/ntoskrnl/ps/), which sets it once, as the library loads.
using ThreadAdopter = _KTHREAD* (*)();
void set_thread_adopter(ThreadAdopter adopter);

// Initialises a thread object's dispatcher header and wait state (not signalled).
void initialize_thread(_KTHREAD* thread);
// Marks the thread ended: its object is signalled and its queued APCs are dropped.
void signal_thread_end(_KTHREAD* thread);

// Queues a kernel APC: routine runs on thread at PASSIVE_LEVEL inside its next wait (at once when
// it is waiting). Dropped when the thread has ended.
void queue_kernel_apc(_KTHREAD* thread, std::function<void()> routine);

// Stops the process unless the calling thread runs at PASSIVE_LEVEL: what may only be done there
// (a file call, a wait that blocks) names itself.
void require_passive_level(const char* routine);

// Stops the process when thread has extended processor state saved and not restored; when names
// what the thread is about to do (end, return to user mode).
void require_no_saved_extended_state(const _KTHREAD* thread, const char* when);

}  // namespace ntoskrnl
