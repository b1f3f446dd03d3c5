// What ends a card function early besides the card's answer: a failed argument check, and an
// exception, which never crosses an export.
#pragma once

#include <cstdint>

#include "card/log/log_site.h"

// Logs "invalid arg" and returns 3: a failed argument check, before the lock.
uint32_t invalid_argument(LogSite site);

// An exception that reached an export or its steps. Every one that the calls below an export can
// raise is a failed allocation, or the runtime's own lack of a resource: "no memory" (when it can
// be logged) and 16, as for a frame that cannot be allocated.
uint32_t out_of_memory(LogSite site) noexcept;

// Runs steps(), whose exception ends them as out_of_memory(site) does, so that the caller's ending
// (files, link, slot) runs as after any failure.
template <class Steps>
uint32_t guarded_steps(LogSite site, Steps&& steps) noexcept {
    try {
        return steps();
    } catch (...) {
        return out_of_memory(site);
    }
}
