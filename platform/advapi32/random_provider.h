// The random provider's faults and chosen bytes (CryptAcquireContextW, CryptGenRandom), as the
// test controls set them: platform/testing/random_controls.h tells what each does.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace platform {

void random_fail_acquisitions(unsigned count);
void random_fail_generation(bool fail);
unsigned random_acquisition_calls();
void random_queue_bytes(const std::vector<uint8_t>& bytes);
size_t random_queued_bytes();
void random_clear_queue();

}  // namespace platform
