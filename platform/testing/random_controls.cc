#include "platform/testing/random_controls.h"

#include "platform/advapi32/random_provider.h"

namespace sim {

void random_fail_acquisitions(unsigned count) {
    platform::random_fail_acquisitions(count);
}

void random_fail_generation(bool fail) {
    platform::random_fail_generation(fail);
}

unsigned random_acquisition_calls() {
    return platform::random_acquisition_calls();
}

void random_queue_bytes(const std::vector<uint8_t>& bytes) {
    platform::random_queue_bytes(bytes);
}

size_t random_queued_bytes() {
    return platform::random_queued_bytes();
}

void random_clear_queue() {
    platform::random_clear_queue();
}

}  // namespace sim
