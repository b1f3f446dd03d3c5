// The field backend of every public operation: the fastest that the CPU supports, chosen on first
// use, or the one that a test forced (force_field_backend).
#pragma once

#include "crypto/sm2_fast.h"
#include "crypto/sm2_fast_field.h"

namespace crypto_internal::sm2_fast {

// fn(Ops<F>{}) for the backend F that b names: one branch per whole operation, which then runs
// wholly on F.
template <template <class> class Ops, class Fn>
SM2_INLINE decltype(auto) with_backend(FieldBackend b, Fn&& fn) {
#if defined(SM2_HAVE_ADX)
    if (b == FieldBackend::kAdx) return fn(Ops<AdxField>{});
#endif
    (void)b;
    return fn(Ops<PortableField>{});
}

// The same on the active backend.
template <template <class> class Ops, class Fn>
SM2_INLINE decltype(auto) with_field(Fn&& fn) {
    return with_backend<Ops>(field_backend(), static_cast<Fn&&>(fn));
}

}  // namespace crypto_internal::sm2_fast
