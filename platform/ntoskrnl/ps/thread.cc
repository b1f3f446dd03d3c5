// Thread objects and system threads. A system thread is a host thread running the start routine
// with its kernel thread set; it ends when the routine returns or calls PsTerminateSystemThread,
// and its thread object is signalled then. Any other thread gets a kernel thread the first time
// it enters the kernel, dropped when the thread ends.
#include "platform/ntoskrnl/ke/thread.h"

#include <mutex>
#include <new>
#include <set>
#include <thread>

#include "platform/core/trace.h"
#include "platform/ntoskrnl/not_implemented.h"
#include "platform/ntoskrnl/ob/handles.h"
#include "platform/ntoskrnl/ps/system_threads.h"

namespace ntoskrnl {
namespace {

void destroy_thread(void* body) {
    static_cast<_KTHREAD*>(body)->~_KTHREAD();
}

_KTHREAD* create_thread_object() {
    void* body = ob::create_object(&thread_type, sizeof(_KTHREAD));
    auto* thread = new (body) _KTHREAD;
    initialize_thread(thread);
    return thread;
}

// Unwinds a system thread from PsTerminateSystemThread to its start.
struct ThreadExit {};

// The kernel thread made for a host thread that entered the kernel on its own, dropped when the
// host thread ends.
struct AdoptedThread {
    _KTHREAD* thread = nullptr;
    ~AdoptedThread() {
        if (thread) {
            require_no_saved_extended_state(thread, "a thread ended with extended state saved");
            signal_thread_end(thread);
            ob::dereference(thread);
        }
    }
};

thread_local AdoptedThread adopted;

_KTHREAD* adopt_thread() {
    adopted.thread = create_thread_object();
    return adopted.thread;
}

const bool adopter_set = (set_thread_adopter(adopt_thread), true);

struct LiveThreads {
    std::mutex lock;
    std::set<_KTHREAD*> threads;
};

LiveThreads& live() {
    static LiveThreads* instance = new LiveThreads;
    return *instance;
}

void run_system_thread(_KTHREAD* self, PKSTART_ROUTINE routine, PVOID context) {
    set_current_thread(self);
    try {
        routine(context);
    } catch (const ThreadExit&) {
    }
    if (self->irql != PASSIVE_LEVEL)
        bug_check("IRQL_NOT_LESS_OR_EQUAL", "a system thread ended holding a spin lock");
    require_no_saved_extended_state(self, "a system thread ended with extended state saved");
    {
        auto& l = live();
        std::lock_guard guard(l.lock);
        l.threads.erase(self);
    }
    signal_thread_end(self);
    set_current_thread(nullptr);
    ob::dereference(self);
}

}  // namespace

_OBJECT_TYPE thread_type{"Thread", destroy_thread, nullptr};

std::vector<SystemThread> system_threads() {
    std::vector<SystemThread> threads;
    auto& l = live();
    std::lock_guard guard(l.lock);
    for (_KTHREAD* thread : l.threads)
        threads.push_back(
            {thread->start_routine,
             thread->priority,
             {thread->xstate_saves, thread->xstate_restores, thread->xstate_last_mask}});
    return threads;
}

}  // namespace ntoskrnl

using namespace ntoskrnl;

extern "C" NTSTATUS NTAPI PsCreateSystemThread(PHANDLE ThreadHandle, ULONG DesiredAccess,
                                               POBJECT_ATTRIBUTES ObjectAttributes,
                                               HANDLE ProcessHandle, PCLIENT_ID ClientId,
                                               PKSTART_ROUTINE StartRoutine, PVOID StartContext) {
    (void)ObjectAttributes;
    TRACE("ntoskrnl", "PsCreateSystemThread(%p, %#x, %p, %p)", static_cast<void*>(ThreadHandle),
          DesiredAccess, reinterpret_cast<void*>(StartRoutine), StartContext);
    require_passive_level("PsCreateSystemThread");
    if (ProcessHandle) not_implemented("PsCreateSystemThread in a process other than the system");
    if (!ThreadHandle || !StartRoutine) return STATUS_INVALID_PARAMETER;
    _KTHREAD* thread = create_thread_object();
    thread->system_thread = true;
    thread->start_routine = reinterpret_cast<PVOID>(StartRoutine);
    {
        auto& l = live();
        std::lock_guard guard(l.lock);
        l.threads.insert(thread);
    }
    *ThreadHandle = ob::insert_handle(thread, DesiredAccess);
    if (ClientId) {
        ClientId->UniqueProcess = reinterpret_cast<HANDLE>(4);  // the system process
        ClientId->UniqueThread = thread;
    }
    // The thread's own reference (from its creation) goes when it ends.
    std::thread(run_system_thread, thread, StartRoutine, StartContext).detach();
    return STATUS_SUCCESS;
}

extern "C" NTSTATUS NTAPI PsTerminateSystemThread(NTSTATUS ExitStatus) {
    TRACE("ntoskrnl", "PsTerminateSystemThread(%#x)", static_cast<unsigned>(ExitStatus));
    if (!current_thread()->system_thread) return STATUS_INVALID_PARAMETER;
    throw ThreadExit{};
}

extern "C" PKTHREAD NTAPI KeGetCurrentThread() {
    return current_thread();
}

extern "C" KPRIORITY NTAPI KeSetPriorityThread(PKTHREAD Thread, KPRIORITY Priority) {
    if (Priority < LOW_PRIORITY || Priority > HIGH_PRIORITY)
        bug_check("INVALID_PRIORITY", "KeSetPriorityThread outside 0 to 31");
    const KPRIORITY previous = Thread->priority;
    Thread->priority = Priority;
    return previous;
}
