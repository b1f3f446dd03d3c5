// The command exchange that every card command runs after its argument check: take the card
// lock, allocate a zeroed request, open the card link, write the header and the command's
// payload, send the request, read the response, test its status, take the outputs, close the
// link, release the lock. Failures are logged at level 2 at the command's site; frames are dumped
// at level 0.
#pragma once

#include <cstdint>
#include <type_traits>

#include "card/log/log_site.h"

struct CardCommand {
    uint32_t code;
    uint32_t request_length;   // header included, before rounding
    uint32_t response_length;  // what the command reads, header included, before rounding
};

namespace exchange_detail {

using WritePayload = void (*)(void* context, uint8_t* request);
using ReadOutputs = void (*)(void* context, const uint8_t* response);

uint32_t run(LogSite site, const CardCommand& command, WritePayload write, void* write_context,
             ReadOutputs read, void* read_context, uint32_t* tries);

}  // namespace exchange_detail

// Runs one exchange. write(request) fills the payload fields of the zeroed request at their frame
// offsets (under the lock, after the link is open); read(response) takes the outputs when the
// status is 0, and only then. When tries is not null and the card answers 20 (wrong PIN), the
// big-endian word at response offset 16 goes to *tries. Returns 0, 16 (no memory), 17 (link
// failed) or the card's nonzero status.
template <class Write, class Read>
uint32_t card_exchange(LogSite site, const CardCommand& command, Write&& write, Read&& read,
                       uint32_t* tries = nullptr) {
    using W = std::remove_reference_t<Write>;
    using R = std::remove_reference_t<Read>;
    return exchange_detail::run(
        site, command, [](void* c, uint8_t* request) { (*static_cast<W*>(c))(request); },
        const_cast<void*>(static_cast<const void*>(&write)),
        [](void* c, const uint8_t* response) { (*static_cast<R*>(c))(response); },
        const_cast<void*>(static_cast<const void*>(&read)), tries);
}

inline constexpr auto kNoPayload = [](uint8_t*) {};
inline constexpr auto kNoOutputs = [](const uint8_t*) {};
