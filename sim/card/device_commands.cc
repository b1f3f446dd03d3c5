// Random bytes and activation: neither needs a login.
#include <algorithm>

#include "base/byte_access.h"
#include "crypto/random.h"
#include "sim/card/commands.h"
#include "sim/card/frame_format.h"

namespace sim::card {

uint32_t random_bytes(CardState&, std::span<const uint8_t> request, std::span<uint8_t> response) {
    const uint32_t count = bytes::load_be32(request.data() + wire::random_bytes::kCount);
    if (!random_count_ok(count)) return kInvalidArgument;
    uint8_t* out = response.data() + wire::random_bytes::kBytes;
    if (get_random(out, count) != 0) {
        std::fill(out, out + count, 0);
        return kFailed;
    }
    return kOk;
}

uint32_t activate(CardState& card, std::span<const uint8_t>, std::span<uint8_t>) {
    card.activated = true;
    return kOk;
}

}  // namespace sim::card
