#include "tests/support/sim_devices.h"

namespace usbtest {

Card plug_card(bool superspeed) {
    Card card;
    card.device = sim::usb::plug(sim::usb::card_description(superspeed));
    card.queue = std::make_shared<sim::usb::ReplyQueue>();
    card.device->set_behaviour(0x02, card.queue);
    card.device->set_behaviour(0x86, card.queue);
    return card;
}

sim::usb::Description describe(std::vector<std::vector<uint8_t>> configurations,
                               uint16_t usb_version, uint8_t max_packet0) {
    sim::usb::Description d = sim::usb::card_description(false);
    sim::usb::DeviceFields f;
    f.usb_version = usb_version;
    f.max_packet_size0 = max_packet0;
    f.configuration_count = static_cast<uint8_t>(configurations.size());
    d.device = sim::usb::device_descriptor(f);
    d.configurations = std::move(configurations);
    return d;
}

sim::usb::Interface bulk_interface(uint8_t alternate, bool companions) {
    sim::usb::Interface i;
    i.alternate = alternate;
    std::optional<sim::usb::Companion> companion;
    if (companions) companion = sim::usb::Companion{};
    uint16_t packet = companions ? 1024 : 512;
    i.endpoints = {{0x02, 2, packet, 0, companion}, {0x86, 2, packet, 0, companion}};
    return i;
}

}  // namespace usbtest
