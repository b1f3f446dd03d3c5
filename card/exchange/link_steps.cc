#include "card/exchange/link_steps.h"

#include <new>

#include "card/exchange/result.h"
#include "crypto/secure_wipe.h"

uint8_t* allocate_frame(LogSite site, uint32_t length) {
    uint8_t* frame = new (std::nothrow) uint8_t[length]();
    if (!frame) LOG_FAILURE(site, "no memory");
    return frame;
}

void free_frame(uint8_t* frame, uint32_t length) {
    if (!frame) return;
    crypto_internal::secure_wipe(frame, length);
    delete[] frame;
}

uint32_t open_card_link(LogSite site, CCyUSBDriverDevice** link) {
    const int32_t r = open_usb_dev(link);
    if (r == 0) return CARD_OK;
    LOG_FAILURE(site, "open_usb_dev error:%d", r);
    return CARD_LINK_FAILED;
}

uint32_t send_frame(LogSite site, CCyUSBDriverDevice* link, uint8_t* frame, uint32_t length) {
    dump_buf("sendbuf ", frame, length);
    const int32_t r = write_usb_dev(link, frame, length);
    if (r == 0) return CARD_OK;
    LOG_FAILURE(site, "write error:%d", r);
    LOG_FAILURE(site, "sendbuf[%p]send_len[%d]", static_cast<void*>(frame),
                static_cast<int>(length));
    return CARD_LINK_FAILED;
}

uint32_t receive_frame(LogSite site, CCyUSBDriverDevice* link, uint8_t* frame, uint32_t length) {
    const int32_t r = read_usb_dev(link, frame, length);
    dump_buf("recvbuf ", frame, length);
    if (r == 0) return CARD_OK;
    LOG_FAILURE(site, "read error:%d", r);
    LOG_FAILURE(site, "recvbuf[%p]recv_len[%d]", static_cast<void*>(frame),
                static_cast<int>(length));
    return CARD_LINK_FAILED;
}
