#include "card/exchange/failures.h"

#include "card/exchange/result.h"

uint32_t invalid_argument(LogSite site) {
    LOG_FAILURE(site, "invalid arg");
    return CARD_INVALID_ARG;
}

uint32_t out_of_memory(LogSite site) noexcept {
    try {
        LOG_FAILURE(site, "no memory");
    } catch (...) {
    }
    return CARD_NO_MEMORY;
}
