#include "platform/kernel32/event.h"

#include "platform/core/trace.h"

namespace platform {

Event::Event(bool manual_reset, bool initial_state)
    : manual_reset_(manual_reset), signalled_(initial_state) {}

void Event::set() {
    {
        std::lock_guard guard(lock_);
        signalled_ = true;
    }
    if (manual_reset_)
        changed_.notify_all();
    else
        changed_.notify_one();
}

void Event::reset() {
    std::lock_guard guard(lock_);
    signalled_ = false;
}

bool Event::wait(DWORD timeout_ms) {
    std::unique_lock guard(lock_);
    auto ready = [this] { return signalled_; };
    if (timeout_ms == INFINITE) {
        changed_.wait(guard, ready);
    } else if (!changed_.wait_for(guard, std::chrono::milliseconds(timeout_ms), ready)) {
        return false;
    }
    if (!manual_reset_) signalled_ = false;
    return true;
}

bool signal_event(HANDLE handle) {
    auto event = std::dynamic_pointer_cast<Event>(handle_lookup(handle));
    if (!event) return false;
    event->set();
    return true;
}

}  // namespace platform

using namespace platform;

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
