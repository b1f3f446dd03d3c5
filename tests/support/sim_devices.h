// Simulated devices and a fixture for the USB tests.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "platform/usb_bus/usb_controls.h"

namespace usbtest {

// Every test starts and ends with an empty bus.
class Bus : public ::testing::Test {
  protected:
    void SetUp() override { sim::usb::unplug_all(); }
    void TearDown() override { sim::usb::unplug_all(); }
};

// A card with a reply queue behind 0x02 and 0x86.
struct Card {
    std::shared_ptr<sim::usb::Device> device;
    std::shared_ptr<sim::usb::ReplyQueue> queue;
};
Card plug_card(bool superspeed = false);

// A device description with the given configuration sets and USB version.
sim::usb::Description describe(std::vector<std::vector<uint8_t>> configurations,
                               uint16_t usb_version = 0x0200, uint8_t max_packet0 = 64);

// The one interface descriptor of a bridge with bulk 0x02 and 0x86.
sim::usb::Interface bulk_interface(uint8_t alternate = 0, bool companions = false);

}  // namespace usbtest
