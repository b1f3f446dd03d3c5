// The steps that every exchange with the card runs on the card link, command frames and FPGA data
// frames alike. Each logs its own failure at level 2 at the caller's site; frames are dumped at
// level 0.
#pragma once

#include <cstdint>

#include "card/log/log_site.h"
#include "usb/card_link.h"

// A zeroed frame buffer, or null after "no memory".
uint8_t* allocate_frame(LogSite site, uint32_t length);
// Frames carry PINs, keys and data: they are cleared before they are freed. Null is let through.
void free_frame(uint8_t* frame, uint32_t length);

// The request and the response of one exchange, allocated by its steps at the lengths given and
// freed with free_frame when the object goes. Made before the card lock is taken, so that the
// frames are freed after it is released.
struct FramePair {
    const uint32_t request_length;
    const uint32_t response_length;
    uint8_t* request = nullptr;
    uint8_t* response = nullptr;

    FramePair(uint32_t request_bytes, uint32_t response_bytes)
        : request_length(request_bytes), response_length(response_bytes) {}
    FramePair(const FramePair&) = delete;
    FramePair& operator=(const FramePair&) = delete;
    ~FramePair() {
        free_frame(request, request_length);
        free_frame(response, response_length);
    }
};

// Closes the link that the variable holds, when one was opened, as the scope ends: on every path,
// an exception's too.
class LinkCloser {
  public:
    explicit LinkCloser(CCyUSBDriverDevice*& link) : link_(link) {}
    ~LinkCloser() {
        if (link_) close_usb_dev(link_);
    }
    LinkCloser(const LinkCloser&) = delete;
    LinkCloser& operator=(const LinkCloser&) = delete;

  private:
    CCyUSBDriverDevice*& link_;
};

// 0, or 17 after "open_usb_dev error:%d"; *link stays null when the open fails.
uint32_t open_card_link(LogSite site, CCyUSBDriverDevice** link);
// Dumps the frame as "sendbuf " and writes it in one transfer: 0, or 17 after "write error:%d"
// and "sendbuf[%p]send_len[%d]".
uint32_t send_frame(LogSite site, CCyUSBDriverDevice* link, uint8_t* frame, uint32_t length);
// Reads exactly length bytes in one transfer and dumps them as "recvbuf ", read or not: 0, or 17
// after "read error:%d" and "recvbuf[%p]recv_len[%d]".
uint32_t receive_frame(LogSite site, CCyUSBDriverDevice* link, uint8_t* frame, uint32_t length);
