#include "sim/card/firmware.h"

#include <algorithm>

#include "base/byte_access.h"
#include "sim/card/frame_format.h"

namespace sim::card {
namespace {

bool whole_units(size_t size) {
    return size >= kFrameUnit && size % kFrameUnit == 0;
}

bool is_fpga_opcode(uint32_t code) {
    return code == kFpgaEncrypt || code == kFpgaDecrypt;
}

FrameCheck check_fpga_frame(std::span<const uint8_t> frame, uint32_t opcode) {
    FrameCheck check{.fpga = true, .code = opcode};
    if (!whole_units(frame.size())) {
        check.error = FrameError::kLength;
    } else if ((bytes::load_le32(frame.data() + fpga::kLength) & fpga::kLengthMask) !=
               frame.size() - fpga::kHeaderSize) {
        check.error = FrameError::kFpgaLength;
    }
    return check;
}

FrameCheck check_command_frame(std::span<const uint8_t> frame, uint32_t code) {
    FrameCheck check{.code = code, .command = find_command(code)};
    check.lengths = check.command ? check.command->lengths : Lengths{kNoPayload, kNoPayload};
    if (!whole_units(frame.size())) {
        check.error = FrameError::kLength;
    } else if (bytes::load_be32(frame.data() + header::kTag) != header::kTagValue) {
        check.error = FrameError::kTag;
    } else if (bytes::load_le32(frame.data() + header::kPayloadLength) !=
               frame.size() - header::kSize) {
        check.error = FrameError::kPayloadLength;
    } else {
        if (check.command && check.command->lengths_for)
            check.lengths = check.command->lengths_for(frame);
        if (frame.size() < check.lengths.request) check.error = FrameError::kTooShort;
    }
    return check;
}

uint32_t answer_command(CardState& card, std::span<const uint8_t> frame, const FrameCheck& check,
                        std::optional<uint32_t> forced_status, std::vector<uint8_t>& answer) {
    const uint32_t length = round_to_unit(check.lengths.response);
    answer.assign(length, 0);
    uint32_t status;
    if (check.error != FrameError::kNone)
        status = kBadFrame;
    else if (forced_status)
        status = *forced_status;
    else if (!check.command)
        status = kUnsupportedCommand;
    else
        status = check.command->handler(card, frame, answer);
    bytes::store_le32(answer.data() + header::kCode, check.code);
    bytes::store_be32(answer.data() + header::kTag, header::kTagValue);
    bytes::store_le32(answer.data() + header::kPayloadLength, length - header::kSize);
    bytes::store_be32(answer.data() + header::kStatus, status);
    return status;
}

}  // namespace

FrameCheck check_frame(std::span<const uint8_t> frame) {
    const uint32_t code = frame.size() >= 4 ? bytes::load_le32(frame.data()) : 0;
    return is_fpga_opcode(code) ? check_fpga_frame(frame, code) : check_command_frame(frame, code);
}

uint32_t answer_frame(CardState& card, std::span<const uint8_t> frame, const FrameCheck& check,
                      std::optional<uint32_t> forced_status, std::vector<uint8_t>& answer) {
    if (!check.fpga) return answer_command(card, frame, check, forced_status, answer);
    if (check.error != FrameError::kNone) {
        // A reply as long as the frame would have been, carrying nothing.
        const size_t units = (frame.size() + kFrameUnit - 1) / kFrameUnit;
        answer.assign(std::max<size_t>(units * kFrameUnit, fpga::kHeaderSize), 0);
        bytes::store_le32(answer.data() + fpga::kOpcode, check.code);
        answer[fpga::kStatus] = kFpgaBadLength;
        bytes::store_le32(answer.data() + fpga::kTotalLength, fpga::kHeaderSize);
        return kFpgaBadLength;
    }
    answer.resize(frame.size());
    std::optional<uint8_t> forced;
    if (forced_status) forced = static_cast<uint8_t>(*forced_status);
    return answer_fpga_frame(card, frame, forced, answer);
}

}  // namespace sim::card
