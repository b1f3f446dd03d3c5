// The card's firmware: checks a frame's form, acts on it and builds the answer. Knows nothing of
// USB, faults or records (plugged_card.cc).
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "sim/card/card_controls.h"
#include "sim/card/commands.h"

namespace sim::card {

struct FrameCheck {
    bool fpga = false;
    uint32_t code = 0;  // the command code or the FPGA opcode
    FrameError error = FrameError::kNone;
    const Command* command = nullptr;  // a command frame's command, when the card serves it
    Lengths lengths{};                 // a command frame's request and response lengths
};

// Reads a frame's header and checks its form; reads nothing past the frame.
FrameCheck check_frame(std::span<const uint8_t> frame);

// Answers a checked frame into answer (resized to the answer's length): a refused frame gets the
// bad-frame status; otherwise the card acts on it, unless forced_status is given, which the card
// answers instead without acting. Returns the status word, or an FPGA frame's status byte.
uint32_t answer_frame(CardState& card, std::span<const uint8_t> frame, const FrameCheck& check,
                      std::optional<uint32_t> forced_status, std::vector<uint8_t>& answer);

// FPGA data frames (fpga_engine.cc): the reply to a frame of whole 64-byte units whose length
// field matches, written into reply (the frame's length; the header and, on failure, the data
// zeroed here). With forced_status the card does nothing but answer it.
uint8_t answer_fpga_frame(CardState& card, std::span<const uint8_t> frame,
                          std::optional<uint8_t> forced_status, std::span<uint8_t> reply);

}  // namespace sim::card
