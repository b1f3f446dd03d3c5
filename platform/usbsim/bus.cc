// The simulated USB bus: plugged devices, their interface paths in the SetupAPI list, and the
// CreateFileA provider that opens them.
#include "platform/usbsim/bus.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdio>
#include <mutex>
#include <vector>

#include "platform/core/object.h"
#include "platform/core/trace.h"
#include "platform/setupapi/interfaces.h"
#include "platform/sim/usb.h"
#include "platform/usbsim/bytes.h"
#include "platform/usbsim/hardware.h"
#include "platform/usbsim/user_io.h"
#include "platform/usbsim/vendor_driver.h"

namespace usbsim {
namespace {

std::string guid_text(const GUID& g) {
    char text[40];
    std::snprintf(text, sizeof text, "{%08x-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x}", g.Data1,
                  g.Data2, g.Data3, g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4],
                  g.Data4[5], g.Data4[6], g.Data4[7]);
    return text;
}

bool same_path(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

class SimulatedDevice : public sim::usb::Device {
  public:
    SimulatedDevice(sim::usb::Description description, unsigned instance)
        : hardware_(std::make_shared<Hardware>(std::move(description))),
          driver_(std::make_shared<VendorDriver>(hardware_)),
          open_count_(std::make_shared<std::atomic<size_t>>(0)) {
        const auto& d = hardware_->description();
        std::span<const uint8_t> device = d.device;
        char head[64];
        std::snprintf(head, sizeof head, "\\\\?\\usb#vid_%04x&pid_%04x#%u#", get16(device, 8),
                      get16(device, 10), instance);
        path_ = head + guid_text(d.interface_guid);
    }

    void publish() {
        platform::add_device_interface(
            {hardware_->description().interface_guid, path_, hardware_->faults().enum_error});
    }

    std::shared_ptr<platform::IoTarget> open(const platform::OpenRequest&, bool* claimed) {
        if (!plugged_) return nullptr;
        *claimed = true;
        if (DWORD error = hardware_->faults().open_error) {
            SetLastError(error);
            return nullptr;
        }
        return std::make_shared<DriverHandle>(driver_, hardware_, open_count_);
    }

    const std::string& path() const override { return path_; }
    void set_behaviour(uint8_t endpoint,
                       std::shared_ptr<sim::usb::EndpointBehaviour> behaviour) override {
        hardware_->set_behaviour(endpoint, std::move(behaviour));
    }
    void set_fault(uint8_t endpoint, const sim::usb::EndpointFault& fault) override {
        hardware_->set_fault(endpoint, fault);
    }
    void set_faults(const sim::usb::DeviceFaults& faults) override {
        hardware_->set_faults(faults);
        if (plugged_) publish();
    }
    void clear_faults() override {
        hardware_->clear_faults();
        if (plugged_) publish();
    }
    std::vector<sim::usb::TransferRecord> transfers() const override {
        return hardware_->transfers();
    }
    std::vector<uint32_t> control_codes() const override { return hardware_->control_codes(); }
    void clear_traffic() override { hardware_->clear_traffic(); }
    void set_recording(bool on) override { hardware_->set_recording(on); }
    size_t open_handles() const override { return *open_count_; }
    size_t pending_transfers() const override { return driver_->pending(); }
    uint8_t alternate_setting() const override { return hardware_->alternate_setting(); }
    uint32_t power_state() const override { return hardware_->power_state(); }
    void unplug() override;
    bool plugged() const override { return plugged_; }
    std::shared_ptr<VendorDriver> driver() const { return driver_; }

    std::atomic<bool> plugged_{true};

  private:
    std::shared_ptr<Hardware> hardware_;
    std::shared_ptr<VendorDriver> driver_;
    std::shared_ptr<std::atomic<size_t>> open_count_;
    std::string path_;
};

struct Bus {
    std::mutex lock;
    std::vector<std::shared_ptr<SimulatedDevice>> devices;
    unsigned next_instance = 1;
    bool provider_registered = false;
};

Bus& bus() {
    static Bus* instance = new Bus;  // never destroyed: handles may outlive static destruction
    return *instance;
}

std::shared_ptr<SimulatedDevice> find_device(const std::string& path) {
    auto& b = bus();
    std::lock_guard guard(b.lock);
    for (auto& d : b.devices)
        if (same_path(d->path(), path)) return d;
    return nullptr;
}

std::shared_ptr<platform::IoTarget> open_device(const platform::OpenRequest& request,
                                                bool* claimed) {
    auto found = find_device(request.name);
    return found ? found->open(request, claimed) : nullptr;
}

void SimulatedDevice::unplug() {
    if (!plugged_.exchange(false)) return;
    TRACE("usbsim", "unplug %s", path_.c_str());
    platform::remove_device_interface(path_);
    {
        auto& b = bus();
        std::lock_guard guard(b.lock);
        std::erase_if(b.devices, [this](const auto& d) { return d.get() == this; });
    }
    driver_->remove();
}

}  // namespace

std::shared_ptr<VendorDriver> driver_for_path(const std::string& path) {
    auto found = find_device(path);
    return found ? found->driver() : nullptr;
}

}  // namespace usbsim

namespace sim::usb {

std::shared_ptr<Device> plug(Description description) {
    auto& b = usbsim::bus();
    std::shared_ptr<usbsim::SimulatedDevice> device;
    {
        std::lock_guard guard(b.lock);
        if (!b.provider_registered) {
            platform::register_device_provider("usbsim", usbsim::open_device);
            b.provider_registered = true;
        }
        device =
            std::make_shared<usbsim::SimulatedDevice>(std::move(description), b.next_instance++);
        b.devices.push_back(device);
    }
    TRACE("usbsim", "plug %s", device->path().c_str());
    device->publish();
    return device;
}

void unplug_all() {
    std::vector<std::shared_ptr<usbsim::SimulatedDevice>> devices;
    {
        auto& b = usbsim::bus();
        std::lock_guard guard(b.lock);
        devices = b.devices;
    }
    for (auto& d : devices) d->unplug();
}

}  // namespace sim::usb
