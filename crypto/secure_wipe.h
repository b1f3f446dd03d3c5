// Clearing of secrets (keys, nonces, shared points) that the optimiser may not remove.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace crypto_internal {

// A plain memset, which the barrier keeps: the asm takes the buffer's address and may read any
// memory, so the stores cannot be dropped as dead. Whole frames are wiped at memset speed.
inline void secure_wipe(void* data, size_t len) {
    if (len == 0) return;
#if defined(__GNUC__)
    std::memset(data, 0, len);
    __asm__ __volatile__("" : : "r"(data) : "memory");
#else
    volatile uint8_t* p = static_cast<volatile uint8_t*>(data);
    while (len--) *p++ = 0;
#endif
}

// Wipes an object with secure_wipe when the scope ends, on every path.
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

}  // namespace crypto_internal
