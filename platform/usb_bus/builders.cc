// Descriptor builders of the test controls: standard layouts, little-endian, field by field.
#include <set>

#include "platform/usb_bus/usb_controls.h"

namespace sim::usb {
namespace {

void add(std::vector<uint8_t>& out, std::initializer_list<uint8_t> bytes) {
    for (uint8_t b : bytes) out.push_back(b);
}

void append(std::vector<uint8_t>& out, const std::vector<uint8_t>& bytes) {
    for (uint8_t b : bytes) out.push_back(b);
}

void add16(std::vector<uint8_t>& out, uint16_t value) {
    out.push_back(static_cast<uint8_t>(value));
    out.push_back(static_cast<uint8_t>(value >> 8));
}

void add32(std::vector<uint8_t>& out, uint32_t value) {
    add16(out, static_cast<uint16_t>(value));
    add16(out, static_cast<uint16_t>(value >> 16));
}

void set16(std::vector<uint8_t>& out, size_t at, uint16_t value) {
    out[at] = static_cast<uint8_t>(value);
    out[at + 1] = static_cast<uint8_t>(value >> 8);
}

}  // namespace

std::vector<uint8_t> device_descriptor(const DeviceFields& f) {
    std::vector<uint8_t> d = {18, 1};
    add16(d, f.usb_version);
    add(d, {f.device_class, f.device_subclass, f.device_protocol, f.max_packet_size0});
    add16(d, f.vendor_id);
    add16(d, f.product_id);
    add16(d, f.device_release);
    add(d, {f.manufacturer, f.product, f.serial_number, f.configuration_count});
    return d;
}

std::vector<uint8_t> configuration_set(const Configuration& c) {
    std::set<uint8_t> numbers;
    for (const auto& i : c.interfaces) numbers.insert(i.number);
    std::vector<uint8_t> d = {9,
                              2,
                              0,
                              0,
                              c.interface_count.value_or(static_cast<uint8_t>(numbers.size())),
                              c.value,
                              c.string_index,
                              c.attributes,
                              c.max_power};
    for (const auto& i : c.interfaces) {
        add(d, {9, 4, i.number, i.alternate,
                i.endpoint_count.value_or(static_cast<uint8_t>(i.endpoints.size())),
                i.interface_class, i.interface_subclass, i.interface_protocol, i.string_index});
        for (const auto& extra : i.extra) append(d, extra);
        for (const auto& e : i.endpoints) {
            add(d, {7, 5, e.address, e.attributes});
            add16(d, e.max_packet_size);
            d.push_back(e.interval);
            if (e.companion) {
                add(d, {6, 0x30, e.companion->max_burst, e.companion->attributes});
                add16(d, e.companion->bytes_per_interval);
            }
        }
    }
    set16(d, 2, static_cast<uint16_t>(d.size()));
    return d;
}

std::vector<uint8_t> string_descriptor(std::u16string_view text) {
    std::vector<uint8_t> d = {static_cast<uint8_t>(2 + 2 * text.size()), 3};
    for (char16_t unit : text) add16(d, static_cast<uint16_t>(unit));
    return d;
}

std::vector<uint8_t> langid_descriptor(const std::vector<uint16_t>& langids) {
    std::vector<uint8_t> d = {static_cast<uint8_t>(2 + 2 * langids.size()), 3};
    for (uint16_t id : langids) add16(d, id);
    return d;
}

std::vector<uint8_t> capability(uint8_t type, const std::vector<uint8_t>& body) {
    std::vector<uint8_t> d = {static_cast<uint8_t>(3 + body.size()), 0x10, type};
    append(d, body);
    return d;
}

std::vector<uint8_t> usb20_extension_capability(uint32_t attributes) {
    std::vector<uint8_t> body;
    add32(body, attributes);
    return capability(2, body);
}

std::vector<uint8_t> superspeed_capability(uint8_t attributes, uint16_t speeds,
                                           uint8_t functionality, uint8_t u1_exit,
                                           uint16_t u2_exit) {
    std::vector<uint8_t> body = {attributes};
    add16(body, speeds);
    body.push_back(functionality);
    body.push_back(u1_exit);
    add16(body, u2_exit);
    return capability(3, body);
}

std::vector<uint8_t> container_id_capability(const uint8_t (&id)[16]) {
    std::vector<uint8_t> body = {0};  // bReserved
    for (uint8_t b : id) body.push_back(b);
    return capability(4, body);
}

std::vector<uint8_t> bos_set(const std::vector<std::vector<uint8_t>>& capabilities) {
    std::vector<uint8_t> d = {5, 15, 0, 0, static_cast<uint8_t>(capabilities.size())};
    for (const auto& c : capabilities) append(d, c);
    set16(d, 2, static_cast<uint16_t>(d.size()));
    return d;
}

Description card_description(bool superspeed) {
    Description d;
    DeviceFields f;
    f.usb_version = superspeed ? 0x0300 : 0x0200;
    f.max_packet_size0 = superspeed ? 9 : 64;
    d.device = device_descriptor(f);
    Interface bridge;
    std::optional<Companion> companion;
    if (superspeed) companion = Companion{};
    uint16_t packet = superspeed ? 1024 : 512;
    bridge.endpoints = {{0x02, 2, packet, 0, companion}, {0x86, 2, packet, 0, companion}};
    Configuration c;
    c.interfaces = {bridge};
    d.configurations = {configuration_set(c)};
    d.strings[0] = langid_descriptor({0x0409});
    d.strings[1] = string_descriptor(u"Halden");
    d.strings[2] = string_descriptor(u"Security card");
    d.strings[3] = string_descriptor(u"0001");
    if (superspeed) {
        const uint8_t id[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
        d.bos = bos_set({usb20_extension_capability(0x2),
                         superspeed_capability(0, 0x0E, 1, 10, 100), container_id_capability(id)});
        d.speed = 4;
    }
    return d;
}

}  // namespace sim::usb
