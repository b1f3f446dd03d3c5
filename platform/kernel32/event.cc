#include "platform/ntoskrnl/ke/event.h"

#include "platform/core/trace.h"

using namespace platform;
using ntoskrnl::Event;
using ntoskrnl::Waitable;

extern "C" HANDLE WINAPI CreateEventA(LPSECURITY_ATTRIBUTES security, BOOL manual_reset,
                                      BOOL initial_state, LPCSTR name) {
    (void)security;
    TRACE("kernel32", "CreateEventA(%d, %d, \"%s\")", manual_reset, initial_state,
          name ? name : "(null)");
    if (name) {
        // Named events are shared between processes; nothing here needs them.
        SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
        return nullptr;
    }
    return handle_insert(std::make_shared<Event>(manual_reset != FALSE, initial_state != FALSE));
}

extern "C" BOOL WINAPI SetEvent(HANDLE handle) {
    TRACE("kernel32", "SetEvent(%p)", handle);
    auto event = handle_get<Event>(handle);
    if (!event) return FALSE;
    event->set();
    return TRUE;
}

extern "C" BOOL WINAPI ResetEvent(HANDLE handle) {
    TRACE("kernel32", "ResetEvent(%p)", handle);
    auto event = handle_get<Event>(handle);
    if (!event) return FALSE;
    event->reset();
    return TRUE;
}

extern "C" DWORD WINAPI WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
    TRACE("kernel32", "WaitForSingleObject(%p, %u)", handle, milliseconds);
    auto object = handle_get<Waitable>(handle);
    if (!object) return WAIT_FAILED;
    return object->wait(milliseconds) ? WAIT_OBJECT_0 : WAIT_TIMEOUT;
}
