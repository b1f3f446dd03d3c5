// Clearing of secrets (keys, nonces, shared points) that the optimiser may not remove.
#pragma once

#include <cstddef>
#include <cstdint>

namespace crypto_internal {

inline void secure_wipe(void* data, size_t len) {
    volatile uint8_t* p = static_cast<volatile uint8_t*>(data);
    while (len--) *p++ = 0;
}

}  // namespace crypto_internal
