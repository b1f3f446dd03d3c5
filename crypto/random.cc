#include "crypto/random.h"

#include <atomic>

#include "platform/win32.h"

namespace {

// The process's provider handle: zero until the first successful acquisition, then kept for the
// life of the process. Concurrent first calls are serialised by the flag, so that only one is ever
// acquired. Both are constant-initialised and trivially destructible, so a library holding them
// runs none of its code when it is loaded or unloaded (a mutex is constructed at load and
// destroyed at exit on some runtimes).
std::atomic<HCRYPTPROV> held_provider{0};
std::atomic_flag acquiring;

// Waits for the flag with the CPU's pause hint. It is contended only while a first acquisition is
// under way, and a spin needs no threads runtime, whose own set-up would run at load.
void lock_acquiring() {
    while (acquiring.test_and_set(std::memory_order_acquire)) {
        while (acquiring.test(std::memory_order_relaxed)) {
#if defined(__x86_64__) || defined(__i386__)
            __builtin_ia32_pause();
#endif
        }
    }
}

HCRYPTPROV acquire_provider() {
    HCRYPTPROV provider = held_provider.load(std::memory_order_acquire);
    if (provider) return provider;
    lock_acquiring();
    provider = held_provider.load(std::memory_order_relaxed);
    if (!provider) {
        if (CryptAcquireContextW(&provider, nullptr, MS_DEF_PROV_W, PROV_RSA_FULL,
                                 CRYPT_VERIFYCONTEXT | CRYPT_MACHINE_KEYSET) ||
            CryptAcquireContextW(&provider, nullptr, MS_DEF_PROV_W, PROV_RSA_FULL,
                                 CRYPT_VERIFYCONTEXT | CRYPT_MACHINE_KEYSET | CRYPT_NEWKEYSET)) {
            held_provider.store(provider, std::memory_order_release);
        } else {
            provider = 0;
        }
    }
    acquiring.clear(std::memory_order_release);
    return provider;
}

}  // namespace

extern "C" int32_t get_random(uint8_t* buffer, uint32_t len) {
    HCRYPTPROV provider = acquire_provider();
    if (!provider) return -1;
    return CryptGenRandom(provider, len, buffer) == TRUE ? 0 : -1;
}
