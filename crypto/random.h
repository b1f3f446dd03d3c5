// Random bytes from the operating system's cryptographic provider.
#pragma once

#include <cstdint>

#include "crypto/export.h"

extern "C" {

// Writes len random bytes to buffer and returns 0, or returns -1 when no provider could be
// acquired (buffer untouched) or the provider failed to deliver (buffer contents undefined).
// The provider is acquired on the first successful call and kept for the life of the process.
CRYPTO_EXPORT int32_t get_random(uint8_t* buffer, uint32_t len);

}  // extern "C"
