// System threads.
#pragma once

#include "platform/ddk/ke.h"

typedef VOID NTAPI KSTART_ROUTINE(PVOID StartContext);
typedef KSTART_ROUTINE* PKSTART_ROUTINE;

extern "C" {

// Starts a thread of the system process (ProcessHandle null) at StartRoutine; its handle, a
// kernel handle to a waitable thread object, goes to ThreadHandle. The thread starts at
// priority 8 and ends when the routine returns or calls PsTerminateSystemThread.
NTSTATUS NTAPI PsCreateSystemThread(PHANDLE ThreadHandle, ULONG DesiredAccess,
                                    POBJECT_ATTRIBUTES ObjectAttributes, HANDLE ProcessHandle,
                                    PCLIENT_ID ClientId, PKSTART_ROUTINE StartRoutine,
                                    PVOID StartContext);
// Ends the calling system thread; it does not return to a system thread. Called by any other
// thread it returns STATUS_INVALID_PARAMETER.
NTSTATUS NTAPI PsTerminateSystemThread(NTSTATUS ExitStatus);

}  // extern "C"

#define PsGetCurrentThread() (reinterpret_cast<PETHREAD>(KeGetCurrentThread()))
