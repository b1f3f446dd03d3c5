// kernel32: events and waits.
#pragma once

#include "platform/api/windef.h"

#define INFINITE 0xFFFFFFFFu
#define WAIT_OBJECT_0 0x00000000u
#define WAIT_ABANDONED 0x00000080u
#define WAIT_TIMEOUT 0x00000102u
#define WAIT_FAILED 0xFFFFFFFFu

extern "C" {

// An event object: manual_reset FALSE gives an auto-reset event, which a satisfied wait resets.
HANDLE WINAPI CreateEventA(LPSECURITY_ATTRIBUTES security, BOOL manual_reset, BOOL initial_state,
                           LPCSTR name);
BOOL WINAPI SetEvent(HANDLE event);
BOOL WINAPI ResetEvent(HANDLE event);

// WAIT_OBJECT_0 when the object is signalled within milliseconds (INFINITE: no limit),
// WAIT_TIMEOUT otherwise; WAIT_FAILED with the last error set for a handle that cannot be waited
// on.
DWORD WINAPI WaitForSingleObject(HANDLE handle, DWORD milliseconds);

// Suspends the calling thread for at least milliseconds.
void WINAPI Sleep(DWORD milliseconds);

}  // extern "C"
