#include "card/exchange.h"

#include <new>

#include "card/card_lock.h"
#include "card/command_frame.h"
#include "card/log.h"
#include "card/result.h"
#include "crypto/byte_access.h"
#include "crypto/secure_wipe.h"
#include "usb/card_link.h"

namespace {

constexpr uint32_t kTriesOffset = frame::kPayloadOffset;

// A zeroed frame buffer of the given length, or null.
uint8_t* allocate_frame(uint32_t length) {
    return new (std::nothrow) uint8_t[length]();
}

// Frames carry PINs, keys and backup blocks: they are cleared before they are freed.
void free_frame(uint8_t* buffer, uint32_t length) {
    if (!buffer) return;
    crypto_internal::secure_wipe(buffer, length);
    delete[] buffer;
}

void write_header(uint8_t* request, uint32_t code, uint32_t sent_length) {
    bytes::store_le32(request + frame::kCodeOffset, code);
    bytes::store_be32(request + frame::kTagOffset, frame::CMD_TAG);
    bytes::store_le32(request + frame::kPayloadLengthOffset, sent_length - frame::kHeaderSize);
}

// The frames of one exchange; the caller frees them after the lock is released.
struct Frames {
    uint8_t* request = nullptr;
    uint32_t request_length = 0;
    uint8_t* response = nullptr;
    uint32_t response_length = 0;
};

// Steps from the request allocation to the status test, with the card lock held. The link, once
// open, is left to the caller to close.
uint32_t exchange_locked(LogSite site, const CardCommand& command,
                         exchange_detail::WritePayload write, void* write_context,
                         exchange_detail::ReadOutputs read, void* read_context, uint32_t* tries,
                         Frames& frames, CCyUSBDriverDevice*& link) {
    frames.request_length = frame::rounded_length(command.request_length);
    frames.request = allocate_frame(frames.request_length);
    if (!frames.request) {
        LOG_FAILURE(site, "no memory");
        return CARD_NO_MEMORY;
    }
    int32_t r = open_usb_dev(&link);
    if (r != 0) {
        LOG_FAILURE(site, "open_usb_dev error:%d", r);
        return CARD_LINK_FAILED;
    }
    write_header(frames.request, command.code, frames.request_length);
    write(write_context, frames.request);

    dump_buf("sendbuf ", frames.request, frames.request_length);
    r = write_usb_dev(link, frames.request, frames.request_length);
    if (r != 0) {
        LOG_FAILURE(site, "write error:%d", r);
        LOG_FAILURE(site, "sendbuf[%p]send_len[%d]", static_cast<void*>(frames.request),
                    static_cast<int>(frames.request_length));
        return CARD_LINK_FAILED;
    }

    frames.response_length = frame::rounded_length(command.response_length);
    frames.response = allocate_frame(frames.response_length);
    if (!frames.response) {
        LOG_FAILURE(site, "no memory");
        return CARD_NO_MEMORY;
    }
    r = read_usb_dev(link, frames.response, frames.response_length);
    dump_buf("recvbuf ", frames.response, frames.response_length);
    if (r != 0) {
        LOG_FAILURE(site, "read error:%d", r);
        LOG_FAILURE(site, "recvbuf[%p]recv_len[%d]", static_cast<void*>(frames.response),
                    static_cast<int>(frames.response_length));
        return CARD_LINK_FAILED;
    }

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

uint32_t invalid_argument(LogSite site) {
    LOG_FAILURE(site, "invalid arg");
    return CARD_INVALID_ARG;
}

uint32_t exchange_detail::run(LogSite site, const CardCommand& command, WritePayload write,
                              void* write_context, ReadOutputs read, void* read_context,
                              uint32_t* tries) {
    std::mutex& lock = card_lock();
    lock.lock();
    Frames frames;
    CCyUSBDriverDevice* link = nullptr;
    const uint32_t result = exchange_locked(site, command, write, write_context, read, read_context,
                                            tries, frames, link);
    // The link refuses a close when it was never opened; that refusal does not matter here.
    close_usb_dev(link);
    lock.unlock();
    free_frame(frames.request, frames.request_length);
    free_frame(frames.response, frames.response_length);
    return result;
}
