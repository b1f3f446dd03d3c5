// The kernel's event objects, which CreateEventA's handles name and the I/O manager signals when
// a request with an event completes; and what user mode can wait on.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

#include "platform/core/object.h"

namespace ntoskrnl {

// Anything WaitForSingleObject can wait on.
class Waitable : public virtual platform::Object {
  public:
    // True when the object became signalled within timeout_ms (INFINITE: no limit); a satisfied
    // wait on an auto-reset object consumes the signal.
    virtual bool wait(DWORD timeout_ms) = 0;
};

class Event : public Waitable {
  public:
    Event(bool manual_reset, bool initial_state);
    void set();
    void reset();
    bool wait(DWORD timeout_ms) override;

  private:
    std::mutex lock_;
    std::condition_variable changed_;
    const bool manual_reset_;
    bool signalled_;
};

// Signals the event behind handle; false when handle names no event.
bool signal_event(HANDLE handle);

}  // namespace ntoskrnl
