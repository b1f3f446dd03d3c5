// Test API of the simulated random provider (CryptAcquireContextW / CryptGenRandom).
#pragma once

namespace sim {

// The next `count` calls of CryptAcquireContextW fail (NTE_BAD_KEYSET).
void random_fail_acquisitions(unsigned count);
// While set, CryptGenRandom fails (NTE_FAIL) and writes nothing.
void random_fail_generation(bool fail);
// CryptAcquireContextW calls made by the process so far, successful or not.
unsigned random_acquisition_calls();

}  // namespace sim
