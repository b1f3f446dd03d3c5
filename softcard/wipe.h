// Clearing secrets in a way the optimiser keeps.
#pragma once

#include <cstddef>

void secure_wipe(void* data, size_t size);

// Wipes an object when the scope ends.
template <class T>
class WipeOnExit {
  public:
    explicit WipeOnExit(T& object) : object_(object) {}
    ~WipeOnExit() { secure_wipe(&object_, sizeof object_); }
    WipeOnExit(const WipeOnExit&) = delete;
    WipeOnExit& operator=(const WipeOnExit&) = delete;

  private:
    T& object_;
};
