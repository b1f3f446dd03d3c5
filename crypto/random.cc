#include "crypto/random.h"

#include <atomic>
#include <mutex>

#include "platform/win32.h"

namespace {

// The process's provider handle: zero until the first successful acquisition, then kept for the
// life of the process. Concurrent first calls are serialised so that only one is ever acquired.
std::atomic<HCRYPTPROV> held_provider{0};
std::mutex acquire_lock;

HCRYPTPROV acquire_provider() {
    HCRYPTPROV provider = held_provider.load(std::memory_order_acquire);
    if (provider) return provider;
    std::lock_guard guard(acquire_lock);
    provider = held_provider.load(std::memory_order_relaxed);
    if (provider) return provider;
    if (!CryptAcquireContextW(&provider, nullptr, MS_DEF_PROV_W, PROV_RSA_FULL,
                              CRYPT_VERIFYCONTEXT | CRYPT_MACHINE_KEYSET) &&
        !CryptAcquireContextW(&provider, nullptr, MS_DEF_PROV_W, PROV_RSA_FULL,
                              CRYPT_VERIFYCONTEXT | CRYPT_MACHINE_KEYSET | CRYPT_NEWKEYSET)) {
        return 0;
    }
    held_provider.store(provider, std::memory_order_release);
    return provider;
}

}  // namespace

extern "C" int32_t get_random(uint8_t* buffer, uint32_t len) {
    HCRYPTPROV provider = acquire_provider();
    if (!provider) return -1;
    return CryptGenRandom(provider, len, buffer) == TRUE ? 0 : -1;
}
