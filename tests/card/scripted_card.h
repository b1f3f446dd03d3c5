// A card whose answers the test scripts: a reply queue behind the bridge's bulk endpoints. Frames
// are read back byte by byte here, independently of the library's encoders.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <vector>

#include "base/byte_access.h"
#include "platform/testing/network_controls.h"
#include "platform/usb_bus/usb_controls.h"
#include "tests/support/log_capture.h"
#include "tests/support/sim_devices.h"
#include "tests/support/temp_machine_root.h"

using Frame = std::vector<uint8_t>;

inline const std::array<uint8_t, 6> kHostMac = {0x00, 0x1b, 0x21, 0x3c, 0x4d, 0x5e};

inline uint32_t le32_at(const Frame& f, size_t offset) {
    return bytes::load_le32(f.data() + offset);
}
inline uint32_t be32_at(const Frame& f, size_t offset) {
    return bytes::load_be32(f.data() + offset);
}
inline void put_le32(Frame& f, size_t offset, uint32_t v) {
    bytes::store_le32(f.data() + offset, v);
}
inline void put_be32(Frame& f, size_t offset, uint32_t v) {
    bytes::store_be32(f.data() + offset, v);
}
template <class Bytes>
void put(Frame& f, size_t offset, const Bytes& bytes) {
    std::copy(std::begin(bytes), std::end(bytes), f.begin() + static_cast<ptrdiff_t>(offset));
}
inline Frame slice(const Frame& f, size_t offset, size_t length) {
    return Frame(f.begin() + static_cast<ptrdiff_t>(offset),
                 f.begin() + static_cast<ptrdiff_t>(offset + length));
}

// n bytes counting up from from, wrapping at 256.
inline Frame counting(size_t n, uint8_t from = 0) {
    Frame f(n);
    for (size_t i = 0; i < n; ++i) f[i] = static_cast<uint8_t>(from + i);
    return f;
}

// A response header as the card writes it: code, tag, payload length, status.
inline Frame response(uint32_t code, size_t length, uint32_t status = 0) {
    Frame f(length, 0);
    put_le32(f, 0, code);
    put_be32(f, 4, 0x535);
    put_le32(f, 8, static_cast<uint32_t>(length - 16));
    put_be32(f, 12, status);
    return f;
}

// The length of every read from the card, in order.
inline std::vector<size_t> reads_of(const sim::usb::Device& device) {
    std::vector<size_t> lengths;
    for (const auto& t : device.transfers())
        if (t.endpoint == 0x86) lengths.push_back(t.in_data.size());
    return lengths;
}

// A machine for the device build: an empty bus, one network adapter (kHostMac), the folder of the
// log file, the log captured.
class CardMachine : public ::testing::Test {
  protected:
    void SetUp() override {
        root.make_folder("C:/Halden");
        sim::usb::unplug_all();
        sim::network_set_adapters({{"eth0", true, true, kHostMac}});
    }
    void TearDown() override {
        sim::usb::unplug_all();
        sim::network_use_real_adapters();
    }

    TempMachineRoot root;
    LogCapture log;
};

class ScriptedCard : public CardMachine {
  protected:
    void SetUp() override {
        CardMachine::SetUp();
        card = usbtest::plug_card();
    }

    void answer(const Frame& frame) { card.queue->push(frame); }
    // The frames the card took, in order.
    std::vector<Frame> sent() const { return card.queue->received(); }
    std::vector<size_t> read_lengths() const { return reads_of(*card.device); }

    usbtest::Card card;
};
