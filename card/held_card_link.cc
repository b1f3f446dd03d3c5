#include "card/held_card_link.h"

#include "card/card_lock.h"
#include "card/link_steps.h"
#include "card/result.h"

uint32_t HeldCardLink::open() {
    card_lock().lock();
    const uint32_t result = open_card_link(LOG_SITE, &link_);
    if (result != CARD_OK) card_lock().unlock();
    return result;
}

void HeldCardLink::close() {
    if (!link_) return;
    close_usb_dev(link_);
    link_ = nullptr;
    card_lock().unlock();
}
