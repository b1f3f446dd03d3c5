// The CryptoAPI random provider over the kernel's CSPRNG.
#include <sys/random.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <deque>
#include <mutex>
#include <new>
#include <string>
#include <string_view>

#include "platform/advapi32/random_provider.h"
#include "platform/core/object.h"
#include "platform/core/trace.h"

namespace {

std::atomic<unsigned> failing_acquisitions{0};
std::atomic<bool> failing_generation{false};
std::atomic<unsigned> acquisition_calls{0};

std::mutex queue_lock;
std::deque<uint8_t> queued;  // chosen bytes for the next draws

class CryptProvider : public platform::Object {};

// Provider and container names for the trace (ASCII; anything else shows as '?').
std::string trace_text(LPCWSTR text) {
    if (!text) return "(null)";
    std::string out;
    for (; *text; ++text) out += *text < 0x80 ? static_cast<char>(*text) : '?';
    return out;
}

bool fill_random(BYTE* buffer, DWORD len) {
    {
        std::lock_guard guard(queue_lock);
        const DWORD chosen = static_cast<DWORD>(std::min<size_t>(len, queued.size()));
        std::copy_n(queued.begin(), chosen, buffer);
        queued.erase(queued.begin(), queued.begin() + chosen);
        buffer += chosen;
        len -= chosen;
    }
    while (len > 0) {
        ssize_t got = getrandom(buffer, len, 0);
        if (got < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        buffer += got;
        len -= static_cast<DWORD>(got);
    }
    return true;
}

}  // namespace

namespace platform {

void random_fail_acquisitions(unsigned count) {
    failing_acquisitions = count;
}

void random_fail_generation(bool fail) {
    failing_generation = fail;
}

unsigned random_acquisition_calls() {
    return acquisition_calls;
}

void random_queue_bytes(const std::vector<uint8_t>& bytes) {
    std::lock_guard guard(queue_lock);
    queued.insert(queued.end(), bytes.begin(), bytes.end());
}

size_t random_queued_bytes() {
    std::lock_guard guard(queue_lock);
    return queued.size();
}

void random_clear_queue() {
    std::lock_guard guard(queue_lock);
    queued.clear();
}

}  // namespace platform

// As on Windows, a failed allocation is an error result: nothing is thrown to the caller.
extern "C" BOOL WINAPI CryptAcquireContextW(HCRYPTPROV* provider, LPCWSTR container,
                                            LPCWSTR provider_name, DWORD provider_type,
                                            DWORD flags) try {
    TRACE("advapi32", "CryptAcquireContextW(%p, %s, %s, %u, %#x)", static_cast<void*>(provider),
          trace_text(container).c_str(), trace_text(provider_name).c_str(), provider_type, flags);
    ++acquisition_calls;
    if (!provider) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (provider_type != PROV_RSA_FULL ||
        (provider_name && std::u16string_view(provider_name) != MS_DEF_PROV_W)) {
        SetLastError(static_cast<DWORD>(NTE_BAD_PROV_TYPE));
        return FALSE;
    }
    for (unsigned left = failing_acquisitions; left > 0;) {
        if (failing_acquisitions.compare_exchange_weak(left, left - 1)) {
            SetLastError(static_cast<DWORD>(NTE_BAD_KEYSET));
            return FALSE;
        }
    }
    *provider =
        reinterpret_cast<HCRYPTPROV>(platform::handle_insert(std::make_shared<CryptProvider>()));
    return TRUE;
} catch (const std::bad_alloc&) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return FALSE;
}

extern "C" BOOL WINAPI CryptGenRandom(HCRYPTPROV provider, DWORD len, BYTE* buffer) {
    TRACE("advapi32", "CryptGenRandom(%#lx, %u, %p)", static_cast<unsigned long>(provider), len,
          static_cast<void*>(buffer));
    if (!platform::handle_get<CryptProvider>(reinterpret_cast<HANDLE>(provider))) return FALSE;
    if (len > 0 && !buffer) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (failing_generation || !fill_random(buffer, len)) {
        SetLastError(static_cast<DWORD>(NTE_FAIL));
        return FALSE;
    }
    return TRUE;
}

extern "C" BOOL WINAPI CryptReleaseContext(HCRYPTPROV provider, DWORD flags) {
    TRACE("advapi32", "CryptReleaseContext(%#lx, %#x)", static_cast<unsigned long>(provider),
          flags);
    return CloseHandle(reinterpret_cast<HANDLE>(provider));
}
