#include "card/containers/fpga_frame.h"

#include <cstring>
#include <mutex>

#include "base/byte_access.h"
#include "card/commands/key_slots.h"
#include "card/exchange/card_lock.h"
#include "card/exchange/failures.h"
#include "card/exchange/link_steps.h"
#include "card/exchange/result.h"

namespace {

namespace reply = wire::fpga_frame::reply;
using wire::fpga_frame::kHeaderSize;
using wire::fpga_frame::library::kBlockSize;
using wire::fpga_frame::library::kFrameSize;

constexpr uint8_t kHeldLinkFlag = 1;

// What the header says besides the opcode and the length: a slot and a tweak, or a raw key.
using FrameKey = wire::fpga_frame::library::Header;

bool block_arguments_ok(const uint8_t* in, uint32_t len, const uint8_t* out) {
    return in && out && len == kBlockSize;
}

void write_request(uint8_t* request, FrameKey header, const uint8_t* in, uint8_t encrypt) {
    header.opcode = encrypt ? FPGA_XTS_ENCRYPT : FPGA_XTS_DECRYPT;
    header.data_length = kBlockSize;
    header.encode(request);
    std::memcpy(request + kHeaderSize, in, kBlockSize);
}

// The reply's block goes to out. A nonzero status byte, or a total length that says the engine
// processed less than the whole block, is 29 and out stays as it was: a part of a block is no
// block. A total length above the frame's still gives the block, never more.
uint32_t take_reply(LogSite site, const uint8_t* frame, uint8_t* out) {
    const reply::Reply fields = reply::Reply::decode(frame);
    if (fields.status != 0 || fields.total_length < kFrameSize) {
        LOG_FAILURE(site, "proc err:%08x", CARD_FPGA_FAILED);
        return CARD_FPGA_FAILED;
    }
    std::memcpy(out, frame + reply::kData, kBlockSize);
    return CARD_OK;
}

// From the request's allocation to the reply's status test. With open_link the link is opened
// here, after the request is allocated, and left to the caller to close.
uint32_t exchange_frame(LogSite site, CCyUSBDriverDevice*& link, bool open_link,
                        const FrameKey& key, const uint8_t* in, uint8_t* out, uint8_t encrypt,
                        FramePair& frames) {
    frames.request = allocate_frame(site, frames.request_length);
    if (!frames.request) return CARD_NO_MEMORY;
    if (open_link) {
        const uint32_t opened = open_card_link(site, &link);
        if (opened != CARD_OK) return opened;
    }
    write_request(frames.request, key, in, encrypt);
    uint32_t result = send_frame(site, link, frames.request, frames.request_length);
    if (result != CARD_OK) return result;
    frames.response = allocate_frame(site, frames.response_length);
    if (!frames.response) return CARD_NO_MEMORY;
    result = receive_frame(site, link, frames.response, frames.response_length);
    if (result != CARD_OK) return result;
    return take_reply(site, frames.response, out);
}

// The card lock and a link of its own around one frame. The frames are freed after the lock is
// released.
uint32_t locked_frame(LogSite site, const FrameKey& key, const uint8_t* in, uint8_t* out,
                      uint8_t encrypt) {
    FramePair frames(kFrameSize, kFrameSize);
    std::lock_guard lock(card_lock());
    CCyUSBDriverDevice* link = nullptr;
    const LinkCloser closer(link);  // before the lock is released
    return exchange_frame(site, link, true, key, in, out, encrypt, frames);
}

}  // namespace

KELVANE_EXPORT uint32_t brel_xts_fpga(uint32_t slot, const uint8_t* tweak, const uint8_t* in,
                                      uint32_t len, uint8_t* out, uint8_t encrypt) try {
    if (!tweak || !block_arguments_ok(in, len, out) || slot > KEY_SLOT_MAX)
        return invalid_argument(LOG_SITE);
    return locked_frame(LOG_SITE, FrameKey{.slot = slot, .tweak = tweak}, in, out, encrypt);
} catch (...) {
    return out_of_memory(LOG_SITE);
}

int32_t brel_xts_fpga_dev(CCyUSBDriverDevice* link, uint32_t slot, const uint8_t* tweak,
                          const uint8_t* in, uint32_t len, uint8_t* out, uint8_t encrypt) {
    if (!tweak || !block_arguments_ok(in, len, out) || slot > KEY_SLOT_MAX)
        return static_cast<int32_t>(invalid_argument(LOG_SITE));
    FramePair frames(kFrameSize, kFrameSize);
    const FrameKey key{.flag = kHeldLinkFlag, .slot = slot, .tweak = tweak};
    return static_cast<int32_t>(
        exchange_frame(LOG_SITE, link, false, key, in, out, encrypt, frames));
}

uint32_t brel_xts_fpga_rawkey(const uint8_t* key, const uint8_t* in, uint32_t len, uint8_t* out,
                              uint8_t encrypt) {
    if (!key || !block_arguments_ok(in, len, out)) return invalid_argument(LOG_SITE);
    return locked_frame(LOG_SITE, FrameKey{.raw_key = key}, in, out, encrypt);
}
