// A simulated USB device as the function driver sees it: its descriptors, what its endpoints do,
// the faults a test injected, and the record of what the host sent.
#pragma once

#include <atomic>
#include <map>
#include <mutex>
#include <optional>
#include <vector>

#include "platform/usb_bus/usb_controls.h"

namespace sim::usb {

class Hardware {
  public:
    explicit Hardware(Description description);

    const Description& description() const { return description_; }

    // A control transfer on endpoint 0 (data: the host's bytes or the room for the answer).
    Reply control(const SetupPacket& setup, std::span<uint8_t> data);
    // A data transfer on a non-zero endpoint.
    Reply transfer(uint8_t endpoint, bool in, std::span<uint8_t> data);
    // bmAttributes of an endpoint of the current alternate setting of configuration 0.
    std::optional<uint8_t> endpoint_attributes(uint8_t endpoint) const;

    // The fault for the next transfer on endpoint (consumed when it is counted).
    EndpointFault take_fault(uint8_t endpoint);
    void set_fault(uint8_t endpoint, const EndpointFault& fault);
    void set_faults(const DeviceFaults& faults);
    DeviceFaults faults() const;
    void clear_faults();
    void set_behaviour(uint8_t endpoint, std::shared_ptr<EndpointBehaviour> behaviour);

    uint8_t alternate_setting() const;
    void set_alternate_setting(uint8_t alternate);
    uint32_t power_state() const;
    void set_power_state(uint32_t state);
    uint32_t transfer_size(uint8_t endpoint) const;
    void set_transfer_size(uint8_t endpoint, uint32_t size);

    bool recording() const { return recording_; }
    void set_recording(bool on) { recording_ = on; }
    void record_code(uint32_t code);
    void record_transfer(TransferRecord record);
    std::vector<TransferRecord> transfers() const;
    std::vector<uint32_t> control_codes() const;
    void clear_traffic();

  private:
    Reply get_descriptor(const SetupPacket& setup, std::span<uint8_t> data);
    std::shared_ptr<EndpointBehaviour> behaviour(uint8_t endpoint) const;

    const Description description_;
    mutable std::mutex lock_;
    std::mutex behaviour_lock_;  // one behaviour call at a time
    std::map<uint8_t, std::shared_ptr<EndpointBehaviour>> behaviours_;
    std::map<uint8_t, EndpointFault> endpoint_faults_;
    DeviceFaults faults_;
    uint8_t alternate_setting_;
    uint32_t power_state_;
    std::map<uint8_t, uint32_t> transfer_sizes_;
    std::vector<TransferRecord> transfers_;
    std::vector<uint32_t> codes_;
    std::atomic<bool> recording_{true};
};

}  // namespace sim::usb
