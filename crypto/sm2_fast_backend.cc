#include "crypto/sm2_fast_backend.h"

#include <atomic>
#if defined(HALDEN_CT_VALGRIND)
#include <cstdlib>
#include <cstring>
#endif

#include "crypto/cpu_features.h"

namespace crypto_internal::sm2_fast {
namespace {

// The chosen backend: -1 until the first use, then a FieldBackend value.
std::atomic<int> g_backend{-1};

FieldBackend choose_backend() {
#if defined(HALDEN_CT_VALGRIND) && defined(SM2_HAVE_ADX)
    // The memcheck build takes the backend from HALDEN_SM2_FIELD: valgrind runs ADCX/ADOX but
    // hides ADX from CPUID.
    if (const char* name = std::getenv("HALDEN_SM2_FIELD")) {
        if (std::strcmp(name, "portable") == 0) return FieldBackend::kPortable;
        if (std::strcmp(name, "adx") == 0 && cpu_features().bmi2) return FieldBackend::kAdx;
        std::abort();
    }
#endif
    return field_backend_supported(FieldBackend::kAdx) ? FieldBackend::kAdx
                                                       : FieldBackend::kPortable;
}

}  // namespace

FieldBackend field_backend() {
    int b = g_backend.load(std::memory_order_relaxed);
    if (b < 0) {
        b = static_cast<int>(choose_backend());
        g_backend.store(b, std::memory_order_relaxed);
    }
    return static_cast<FieldBackend>(b);
}

bool field_backend_supported(FieldBackend b) {
    switch (b) {
        case FieldBackend::kPortable:
            return true;
        case FieldBackend::kAdx: {
#if defined(SM2_HAVE_ADX)
            const CpuFeatures f = cpu_features();
            return f.bmi2 && f.adx;
#else
            return false;
#endif
        }
    }
    return false;
}

bool force_field_backend(FieldBackend b) {
    if (!field_backend_supported(b)) return false;
    g_backend.store(static_cast<int>(b), std::memory_order_relaxed);
    return true;
}

}  // namespace crypto_internal::sm2_fast
