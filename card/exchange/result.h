// Result codes of the device build's exports. Any other value is the card's status word, passed
// through unchanged.
#pragma once

#include <cstdint>

enum CardResult : uint32_t {
    CARD_OK = 0,
    CARD_FILE_FAILED = 1,
    CARD_INVALID_ARG = 3,
    CARD_MAC_UNREADABLE = 11,
    CARD_NO_MEMORY = 16,
    CARD_LINK_FAILED = 17,   // the card link could not be opened, written or read
    CARD_WRONG_PIN = 20,     // the card's status for a wrong PIN; the tries come with it
    CARD_SM2_FAILED = 21,    // SM2 encryption of a PIN-derived key failed
    CARD_FPGA_FAILED = 29,   // an FPGA data frame's reply reported an error
    CARD_PIN_MISMATCH = 30,  // the PIN does not match a container's check value
};
