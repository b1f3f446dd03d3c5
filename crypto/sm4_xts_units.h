// Runs of XTS data units that share one tweak input, with one key set-up for the whole run.
// Internal to the crypto library and its callers in this system; no deliverable exports it.
#pragma once

#include <cstddef>
#include <cstdint>

namespace crypto_internal {

// nunits consecutive XTS data units of unit_size bytes (a nonzero multiple of 16), each taking
// the same 16-byte tweak input, under a 32-byte XTS key: the output of one sm4_xts call per unit.
// in and out are the same buffer or disjoint. Uses the active kernels.
void sm4_xts_units(const uint8_t* key, const uint8_t* tweak_input, const uint8_t* in, uint8_t* out,
                   size_t nunits, uint32_t unit_size, bool encrypt);

}  // namespace crypto_internal
