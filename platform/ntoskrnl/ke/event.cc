#include "platform/ntoskrnl/ke/event.h"

namespace ntoskrnl {

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
    auto event = std::dynamic_pointer_cast<Event>(platform::handle_lookup(handle));
    if (!event) return false;
    event->set();
    return true;
}

}  // namespace ntoskrnl
