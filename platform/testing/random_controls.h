// Test controls of the random provider (CryptAcquireContextW / CryptGenRandom).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace sim {

// The next `count` calls of CryptAcquireContextW fail (NTE_BAD_KEYSET).
void random_fail_acquisitions(unsigned count);
// While set, CryptGenRandom fails (NTE_FAIL) and writes nothing.
void random_fail_generation(bool fail);
// CryptAcquireContextW calls made by the process so far, successful or not.
unsigned random_acquisition_calls();

// Chosen bytes for the next draws: CryptGenRandom hands out these bytes, in order and across
// calls, before it takes the kernel's bytes again. Appends to what is still queued.
void random_queue_bytes(const std::vector<uint8_t>& bytes);
// Queued bytes not drawn yet.
size_t random_queued_bytes();
// Drops the bytes still queued.
void random_clear_queue();

}  // namespace sim
