// Wipes an object with the crypto library's secure_wipe when the scope ends.
#pragma once

#include "crypto/secure_wipe.h"

template <class T>
class WipeOnExit {
  public:
    explicit WipeOnExit(T& object) : object_(object) {}
    ~WipeOnExit() { crypto_internal::secure_wipe(&object_, sizeof object_); }
    WipeOnExit(const WipeOnExit&) = delete;
    WipeOnExit& operator=(const WipeOnExit&) = delete;

  private:
    T& object_;
};
