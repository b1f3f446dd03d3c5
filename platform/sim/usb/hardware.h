// A simulated USB device as the function driver sees it: its descriptors, what its endpoints do,
// the faults a test injected, and the record of what the host sent.
#pragma once

#include <atomic>
#include <map>
#include <mutex>
#include <optional>
#include <vector>

#include "platform/sim/usb.h"

namespace sim::usb {

class Hardware {
  public:
    explicit Hardware(sim::usb::Description description);

    const sim::usb::Description& description() const { return description_; }

    // A control transfer on endpoint 0 (data: the host's bytes or the room for the answer).
    sim::usb::Reply control(const sim::usb::SetupPacket& setup, std::span<uint8_t> data);
    // A data transfer on a non-zero endpoint.
    sim::usb::Reply transfer(uint8_t endpoint, bool in, std::span<uint8_t> data);
    // bmAttributes of an endpoint of the current alternate setting of configuration 0.
    std::optional<uint8_t> endpoint_attributes(uint8_t endpoint) const;

    // The fault for the next transfer on endpoint (consumed when it is counted).
    sim::usb::EndpointFault take_fault(uint8_t endpoint);
    void set_fault(uint8_t endpoint, const sim::usb::EndpointFault& fault);
    void set_faults(const sim::usb::DeviceFaults& faults);
    sim::usb::DeviceFaults faults() const;
    void clear_faults();
    void set_behaviour(uint8_t endpoint, std::shared_ptr<sim::usb::EndpointBehaviour> behaviour);

    uint8_t alternate_setting() const;
    void set_alternate_setting(uint8_t alternate);
    uint32_t power_state() const;
    void set_power_state(uint32_t state);
    uint32_t transfer_size(uint8_t endpoint) const;
    void set_transfer_size(uint8_t endpoint, uint32_t size);

    bool recording() const { return recording_; }
    void set_recording(bool on) { recording_ = on; }
    void record_code(uint32_t code);
    void record_transfer(sim::usb::TransferRecord record);
    std::vector<sim::usb::TransferRecord> transfers() const;
    std::vector<uint32_t> control_codes() const;
    void clear_traffic();

  private:
    sim::usb::Reply get_descriptor(const sim::usb::SetupPacket& setup, std::span<uint8_t> data);
    std::shared_ptr<sim::usb::EndpointBehaviour> behaviour(uint8_t endpoint) const;

    const sim::usb::Description description_;
    mutable std::mutex lock_;
    std::mutex behaviour_lock_;  // one behaviour call at a time
    std::map<uint8_t, std::shared_ptr<sim::usb::EndpointBehaviour>> behaviours_;
    std::map<uint8_t, sim::usb::EndpointFault> endpoint_faults_;
    sim::usb::DeviceFaults faults_;
    uint8_t alternate_setting_;
    uint32_t power_state_;
    std::map<uint8_t, uint32_t> transfer_sizes_;
    std::vector<sim::usb::TransferRecord> transfers_;
    std::vector<uint32_t> codes_;
    std::atomic<bool> recording_{true};
};

}  // namespace sim::usb
