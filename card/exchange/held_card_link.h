// The card lock and one open card link held together across many frames (the V2 container's
// block loop). Nothing that holds them calls a card function: the lock is not recursive.
#pragma once

#include <cstdint>

#include "card/log/log_site.h"
#include "usb/card_link.h"

class HeldCardLink {
  public:
    HeldCardLink() = default;
    ~HeldCardLink() { close(); }
    HeldCardLink(const HeldCardLink&) = delete;
    HeldCardLink& operator=(const HeldCardLink&) = delete;

    // Takes the card lock and opens the link: 0; or 17 after "open_usb_dev error:%d" at the site,
    // with the lock released again (as after an exception).
    uint32_t open(LogSite site);
    // Closes the link and releases the lock, when held.
    void close();
    CCyUSBDriverDevice* get() const { return link_; }

  private:
    CCyUSBDriverDevice* link_ = nullptr;
};
