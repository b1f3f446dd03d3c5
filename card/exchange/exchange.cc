#include "card/exchange/exchange.h"

#include <mutex>

#include "base/byte_access.h"
#include "card/exchange/card_lock.h"
#include "card/exchange/command_frame.h"
#include "card/exchange/link_steps.h"
#include "card/exchange/result.h"
#include "usb/card_link.h"

namespace {

constexpr uint32_t kTriesOffset = frame::kPayloadOffset;

void write_header(uint8_t* request, uint32_t code, uint32_t sent_length) {
    bytes::store_le32(request + frame::kCodeOffset, code);
    bytes::store_be32(request + frame::kTagOffset, frame::CMD_TAG);
    bytes::store_le32(request + frame::kPayloadLengthOffset, sent_length - frame::kHeaderSize);
}

// Steps from the request allocation to the status test, with the card lock held. The link, once
// open, is left to the caller to close.
uint32_t exchange_locked(LogSite site, const CardCommand& command,
                         exchange_detail::WritePayload write, void* write_context,
                         exchange_detail::ReadOutputs read, void* read_context, uint32_t* tries,
                         FramePair& frames, CCyUSBDriverDevice*& link) {
    frames.request = allocate_frame(site, frames.request_length);
    if (!frames.request) return CARD_NO_MEMORY;
    uint32_t result = open_card_link(site, &link);
    if (result != CARD_OK) return result;
    write_header(frames.request, command.code, frames.request_length);
    write(write_context, frames.request);
    result = send_frame(site, link, frames.request, frames.request_length);
    if (result != CARD_OK) return result;

    frames.response = allocate_frame(site, frames.response_length);
    if (!frames.response) return CARD_NO_MEMORY;
    result = receive_frame(site, link, frames.response, frames.response_length);
    if (result != CARD_OK) return result;

    // Only the status of the response header is read: its code, tag and length are not checked.
    const uint32_t status = bytes::load_be32(frames.response + frame::kStatusOffset);
    if (status != 0) {
        if (tries && status == CARD_WRONG_PIN)
            *tries = bytes::load_be32(frames.response + kTriesOffset);
        LOG_FAILURE(site, "proc err:%08x", status);
        return status;
    }
    read(read_context, frames.response);
    return CARD_OK;
}

}  // namespace

uint32_t exchange_detail::run(LogSite site, const CardCommand& command, WritePayload write,
                              void* write_context, ReadOutputs read, void* read_context,
                              uint32_t* tries) {
    FramePair frames(frame::rounded_length(command.request_length),
                     frame::rounded_length(command.response_length));
    std::lock_guard lock(card_lock());
    CCyUSBDriverDevice* link = nullptr;
    const LinkCloser closer(link);  // before the lock is released
    return exchange_locked(site, command, write, write_context, read, read_context, tries, frames,
                           link);
}
