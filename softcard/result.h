// Result codes of the software card's exports.
#pragma once

#include <cstdint>

enum SoftcardResult : uint32_t {
    SC_OK = 0,
    SC_FAIL = 1,  // also an export's result when a call below it raised (a failed allocation)
    SC_STORE = 2,
    SC_ARG = 3,
    SC_IMAGE_MISSING = 5,
    SC_NOT_LOGGED_IN = 6,
    SC_NO_VOLUME_KEY = 7,
    SC_LOCKED = 8,
    SC_NOT_BOUND = 9,
    SC_ALREADY_BOUND = 10,
    SC_MAC_UNREADABLE = 11,
    SC_NO_FREE_SLOT = 12,
    SC_MAC_NOT_LISTED = 13,
    SC_ALREADY_LOGGED_IN = 14,
    SC_PIN_OK_NOT_BOUND = 15,
    SC_DEC_READ = 17,
    // 18, a block the cipher refuses, cannot occur: the envelope's run cipher has no failure.
    SC_DEC_FINAL_WRITE = 19,
    SC_DEC_BLOCK_WRITE = 20,
};
