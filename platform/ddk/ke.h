// The kernel's scheduling objects: dispatcher headers, events, waits, thread priority, spin locks
// and interrupt request levels.
#pragma once

#include "platform/ddk/ntdef.h"

// Every waitable object starts with this header. Waiting threads hang their wait blocks on
// WaitListHead; SignalState is nonzero while the object is signalled.
typedef struct _DISPATCHER_HEADER {
    union {
        struct {
            UCHAR Type;
            UCHAR Signalling;
            UCHAR Size;
            UCHAR Reserved1;
        };
        volatile LONG Lock;
    };
    LONG SignalState;
    LIST_ENTRY WaitListHead;
} DISPATCHER_HEADER, *PDISPATCHER_HEADER;

typedef struct _KEVENT {
    DISPATCHER_HEADER Header;
} KEVENT, *PKEVENT, *PRKEVENT;

typedef enum _EVENT_TYPE { NotificationEvent, SynchronizationEvent } EVENT_TYPE;

typedef enum _KWAIT_REASON {
    Executive,
    FreePage,
    PageIn,
    PoolAllocation,
    DelayExecution,
    Suspended,
    UserRequest,
} KWAIT_REASON;

typedef enum _MODE { KernelMode, UserMode, MaximumMode } MODE;

typedef struct _KTHREAD* PKTHREAD;
typedef struct _KTHREAD* PRKTHREAD;
typedef struct _ETHREAD* PETHREAD;
typedef struct _EPROCESS* PEPROCESS;

// An asynchronous procedure call as the kernel queues it to a thread.
typedef struct _KAPC {
    UCHAR Type;
    UCHAR SpareByte0;
    UCHAR Size;
    UCHAR SpareByte1;
    ULONG SpareLong0;
    struct _KTHREAD* Thread;
    LIST_ENTRY ApcListEntry;
    PVOID Reserved[3];
    PVOID NormalContext;
    PVOID SystemArgument1;
    PVOID SystemArgument2;
    CCHAR ApcStateIndex;
    KPROCESSOR_MODE ApcMode;
    BOOLEAN Inserted;
} KAPC, *PKAPC;

typedef struct _KDPC {
    UCHAR Type;
    UCHAR Importance;
    volatile USHORT Number;
    LIST_ENTRY DpcListEntry;
    PVOID DeferredRoutine;
    PVOID DeferredContext;
    PVOID SystemArgument1;
    PVOID SystemArgument2;
    volatile PVOID DpcData;
} KDPC, *PKDPC;

typedef struct _KDEVICE_QUEUE {
    CSHORT Type;
    CSHORT Size;
    LIST_ENTRY DeviceListHead;
    KSPIN_LOCK Lock;
    BOOLEAN Busy;
} KDEVICE_QUEUE, *PKDEVICE_QUEUE;

typedef struct _KDEVICE_QUEUE_ENTRY {
    LIST_ENTRY DeviceListEntry;
    ULONG SortKey;
    BOOLEAN Inserted;
} KDEVICE_QUEUE_ENTRY, *PKDEVICE_QUEUE_ENTRY;

#define PASSIVE_LEVEL 0
#define LOW_LEVEL 0
#define APC_LEVEL 1
#define DISPATCH_LEVEL 2

#define LOW_PRIORITY 0
#define LOW_REALTIME_PRIORITY 16
#define HIGH_PRIORITY 31
#define MAXIMUM_PRIORITY 32

// Extended processor state (the XSAVE components beyond x87 and SSE), by feature bit.
#define XSTATE_MASK_AVX (1ULL << 2)     // the upper halves of YMM0-15
#define XSTATE_MASK_AVX512 (7ULL << 5)  // opmask registers, upper halves of ZMM0-15, ZMM16-31

typedef struct _XSTATE_CONTEXT {
    ULONG64 Mask;
    ULONG Length;
    ULONG Reserved1;
    PVOID Area;
    PVOID Buffer;
} XSTATE_CONTEXT, *PXSTATE_CONTEXT;

// One save of a thread's extended processor state, in the caller's memory; the kernel links the
// thread's open saves through Prev, innermost first.
typedef struct _XSTATE_SAVE {
    struct _XSTATE_SAVE* Prev;
    struct _KTHREAD* Thread;
    UCHAR Level;
    XSTATE_CONTEXT XStateContext;
} XSTATE_SAVE, *PXSTATE_SAVE;

// Priority boosts given with a completion or a signal.
#define IO_NO_INCREMENT 0
#define IO_DISK_INCREMENT 1
#define EVENT_INCREMENT 1

extern "C" {

VOID NTAPI KeInitializeEvent(PRKEVENT Event, EVENT_TYPE Type, BOOLEAN State);
// Signals the event; the result is its previous state. A synchronization event releases one
// waiter and stays clear, or stays set until one wait takes it; a notification event releases
// every waiter and stays set.
LONG NTAPI KeSetEvent(PRKEVENT Event, KPRIORITY Increment, BOOLEAN Wait);
LONG NTAPI KeResetEvent(PRKEVENT Event);
VOID NTAPI KeClearEvent(PRKEVENT Event);
LONG NTAPI KeReadStateEvent(PRKEVENT Event);

// Waits for an event or a thread object. Timeout: null waits without a limit; a negative value
// is relative, a positive one absolute system time, both in 100 ns units. STATUS_SUCCESS when
// signalled, STATUS_TIMEOUT when the time ran out. Kernel APCs queued to the thread run inside
// the wait. At DISPATCH_LEVEL (a spin lock held) only a zero time-out is allowed.
NTSTATUS NTAPI KeWaitForSingleObject(PVOID Object, KWAIT_REASON WaitReason,
                                     KPROCESSOR_MODE WaitMode, BOOLEAN Alertable,
                                     PLARGE_INTEGER Timeout);

PKTHREAD NTAPI KeGetCurrentThread();
// Sets a thread's priority (0 to 31) and returns the one it had.
KPRIORITY NTAPI KeSetPriorityThread(PKTHREAD Thread, KPRIORITY Priority);

// Saves the components of Mask (enabled ones only) before kernel-mode code uses them, at
// DISPATCH_LEVEL at most; STATUS_SUCCESS, or a failure after which nothing is saved.
// KeRestoreExtendedProcessorState restores a successful save on the same thread, innermost save
// first; none may be open when the thread ends or returns to user mode.
NTSTATUS NTAPI KeSaveExtendedProcessorState(ULONG64 Mask, PXSTATE_SAVE XStateSave);
VOID NTAPI KeRestoreExtendedProcessorState(PXSTATE_SAVE XStateSave);

KIRQL NTAPI KeGetCurrentIrql();
KIRQL NTAPI KeAcquireSpinLockRaiseToDpc(PKSPIN_LOCK SpinLock);
VOID NTAPI KeReleaseSpinLock(PKSPIN_LOCK SpinLock, KIRQL NewIrql);

}  // extern "C"

inline VOID KeInitializeSpinLock(PKSPIN_LOCK SpinLock) {
    *SpinLock = 0;
}

#define KeAcquireSpinLock(SpinLock, OldIrql) *(OldIrql) = KeAcquireSpinLockRaiseToDpc(SpinLock)
