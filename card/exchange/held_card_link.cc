#include "card/exchange/held_card_link.h"

#include <mutex>

#include "card/exchange/card_lock.h"
#include "card/exchange/link_steps.h"
#include "card/exchange/result.h"

uint32_t HeldCardLink::open(LogSite site) {
    std::unique_lock lock(card_lock());
    const uint32_t result = open_card_link(site, &link_);
    if (result == CARD_OK) lock.release();  // held until close()
    return result;
}

void HeldCardLink::close() {
    if (!link_) return;
    close_usb_dev(link_);
    link_ = nullptr;
    card_lock().unlock();
}
