// The simulated USB bus: plugged devices, their interface paths in the SetupAPI list, and the
// bridge's function driver as a driver object of the kernel ("\Driver\UsbBridge"). Each plugged
// device is a device object "\Device\UsbBridge<n>" with the link "\GLOBAL??\usb#...#{guid}" that
// its interface path ("\\?\usb#...") names, so user mode (CreateFileA) and kernel mode
// (ZwCreateFile on "\GLOBAL??\usb#...") reach it the same way.
#include <algorithm>
#include <cstdio>
#include <mutex>
#include <new>
#include <string>
#include <vector>

#include "platform/core/trace.h"
#include "platform/ntoskrnl/io/device_interfaces.h"
#include "platform/ntoskrnl/io/io.h"
#include "platform/ntoskrnl/rtl/text.h"
#include "platform/usb_bus/bytes.h"
#include "platform/usb_bus/hardware.h"
#include "platform/usb_bus/request.h"
#include "platform/usb_bus/usb_controls.h"
#include "platform/usb_bus/vendor_driver.h"

namespace sim::usb {
namespace {

std::string guid_text(const GUID& g) {
    char text[40];
    std::snprintf(text, sizeof text, "{%08x-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x}", g.Data1,
                  g.Data2, g.Data3, g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4],
                  g.Data4[5], g.Data4[6], g.Data4[7]);
    return text;
}

class SimulatedDevice;

// What a device object of the bridge's driver holds: the device while it is plugged (cleared at
// its removal, under the bus's lock). An open file keeps its own reference in FsContext.
struct BridgeExtension {
    std::shared_ptr<SimulatedDevice> device;
};

class SimulatedDevice : public Device, public std::enable_shared_from_this<SimulatedDevice> {
  public:
    SimulatedDevice(Description description, unsigned instance)
        : hardware_(std::make_shared<Hardware>(std::move(description))),
          driver_(std::make_shared<VendorDriver>(hardware_)),
          instance_(instance) {
        const auto& d = hardware_->description();
        std::span<const uint8_t> device = d.device;
        char head[64];
        std::snprintf(head, sizeof head, "\\\\?\\usb#vid_%04x&pid_%04x#", get16(device, 8),
                      get16(device, 10));
        path_ = head + (d.instance_id.empty() ? std::to_string(instance) : d.instance_id) + "#" +
                guid_text(d.interface_guid);
    }

    // Enters the device in the namespace (with the bus locked).
    bool attach(PDRIVER_OBJECT driver);
    void publish() {
        ntoskrnl::io::add_device_interface(
            {hardware_->description().interface_guid, path_, hardware_->faults().enum_error});
    }

    const std::string& path() const override { return path_; }
    void set_behaviour(uint8_t endpoint, std::shared_ptr<EndpointBehaviour> behaviour) override {
        hardware_->set_behaviour(endpoint, std::move(behaviour));
    }
    void set_fault(uint8_t endpoint, const EndpointFault& fault) override {
        hardware_->set_fault(endpoint, fault);
    }
    void set_faults(const DeviceFaults& faults) override {
        hardware_->set_faults(faults);
        apply_device_faults();
    }
    void clear_faults() override {
        hardware_->clear_faults();
        apply_device_faults();
    }
    std::vector<TransferRecord> transfers() const override { return hardware_->transfers(); }
    std::vector<uint32_t> control_codes() const override { return hardware_->control_codes(); }
    void clear_traffic() override { hardware_->clear_traffic(); }
    void set_recording(bool on) override { hardware_->set_recording(on); }
    size_t open_handles() const override { return open_files_; }
    size_t pending_transfers() const override { return driver_->pending(); }
    uint8_t alternate_setting() const override { return hardware_->alternate_setting(); }
    uint32_t power_state() const override { return hardware_->power_state(); }
    void unplug() override;
    bool plugged() const override { return plugged_; }

    Hardware& hardware() { return *hardware_; }
    VendorDriver& driver() { return *driver_; }
    std::atomic<size_t> open_files_{0};

  private:
    void apply_device_faults() {
        if (!plugged_) return;
        publish();
        ntoskrnl::io::set_close_refused(object_, hardware_->faults().close_refused);
    }
    std::u16string link_name() const {
        return u"\\GLOBAL??\\" + ntoskrnl::utf8_to_utf16(path_.substr(4));
    }

    std::shared_ptr<Hardware> hardware_;
    std::shared_ptr<VendorDriver> driver_;
    unsigned instance_;
    std::string path_;
    PDEVICE_OBJECT object_ = nullptr;
    std::atomic<bool> plugged_{true};
};

struct Bus {
    std::mutex lock;
    PDRIVER_OBJECT driver = nullptr;
    std::vector<std::shared_ptr<SimulatedDevice>> devices;
    // Unplugged devices: an open file or a transfer completing late may still reach them.
    std::vector<std::shared_ptr<SimulatedDevice>> retired;
    unsigned next_instance = 1;
};

Bus& bus() {
    static Bus* instance = new Bus;  // never destroyed: handles may outlive static destruction
    return *instance;
}

// The device behind a request's file (FsContext holds a reference from the file's create).
SimulatedDevice& device_of(PIRP irp) {
    auto* reference = static_cast<std::shared_ptr<SimulatedDevice>*>(
        IoGetCurrentIrpStackLocation(irp)->FileObject->FsContext);
    return **reference;
}

using ntoskrnl::counted;
using ntoskrnl::io::complete_request;

NTSTATUS NTAPI dispatch_create(PDEVICE_OBJECT object, PIRP irp) {
    std::shared_ptr<SimulatedDevice> device;
    {
        std::lock_guard guard(bus().lock);
        device = static_cast<BridgeExtension*>(object->DeviceExtension)->device;
    }
    if (!device) return complete_request(irp, STATUS_NO_SUCH_DEVICE);
    // A refused open reports its Win32 error in the status that carries one.
    if (DWORD error = device->hardware().faults().open_error)
        return complete_request(irp, static_cast<NTSTATUS>(0xC0070000u | (error & 0xFFFF)));
    ++device->open_files_;
    IoGetCurrentIrpStackLocation(irp)->FileObject->FsContext =
        new std::shared_ptr<SimulatedDevice>(std::move(device));
    return complete_request(irp, STATUS_SUCCESS);
}

// The file's last handle went: what it left pending ends, so that nothing completes into its
// caller's buffers afterwards.
NTSTATUS NTAPI dispatch_cleanup(PDEVICE_OBJECT, PIRP irp) {
    device_of(irp).driver().cancel_owner(IoGetCurrentIrpStackLocation(irp)->FileObject);
    return complete_request(irp, STATUS_SUCCESS);
}

NTSTATUS NTAPI dispatch_close(PDEVICE_OBJECT, PIRP irp) {
    PFILE_OBJECT file = IoGetCurrentIrpStackLocation(irp)->FileObject;
    auto* reference = static_cast<std::shared_ptr<SimulatedDevice>*>(file->FsContext);
    --(*reference)->open_files_;
    delete reference;
    file->FsContext = nullptr;
    return complete_request(irp, STATUS_SUCCESS);
}

NTSTATUS NTAPI dispatch_control(PDEVICE_OBJECT, PIRP irp) {
    const ULONG code = IoGetCurrentIrpStackLocation(irp)->Parameters.DeviceIoControl.IoControlCode;
    const ULONG method = METHOD_FROM_CTL_CODE(code);
    if (method != METHOD_BUFFERED && method != METHOD_NEITHER)
        return complete_request(irp, STATUS_INVALID_DEVICE_REQUEST);
    auto request = std::make_shared<Request>(irp);
    device_of(irp).driver().dispatch(request);
    return request->pending() ? STATUS_PENDING : static_cast<NTSTATUS>(request->status());
}

// The bridge's driver object, made with the first device (with the bus locked).
PDRIVER_OBJECT bridge_driver() {
    auto& b = bus();
    if (!b.driver && NT_SUCCESS(ntoskrnl::io::create_driver(u"UsbBridge", &b.driver))) {
        b.driver->MajorFunction[IRP_MJ_CREATE] = dispatch_create;
        b.driver->MajorFunction[IRP_MJ_CLEANUP] = dispatch_cleanup;
        b.driver->MajorFunction[IRP_MJ_CLOSE] = dispatch_close;
        b.driver->MajorFunction[IRP_MJ_DEVICE_CONTROL] = dispatch_control;
    }
    return b.driver;
}

bool SimulatedDevice::attach(PDRIVER_OBJECT driver) {
    std::u16string name =
        u"\\Device\\UsbBridge" + ntoskrnl::utf8_to_utf16(std::to_string(instance_));
    std::u16string link = link_name();
    UNICODE_STRING device_name = counted(name), link_string = counted(link);
    PDEVICE_OBJECT object;
    if (!NT_SUCCESS(IoCreateDevice(driver, sizeof(BridgeExtension), &device_name,
                                   FILE_DEVICE_UNKNOWN, 0, FALSE, &object)))
        return false;
    new (object->DeviceExtension) BridgeExtension{shared_from_this()};
    object->Flags &= ~DO_DEVICE_INITIALIZING;
    if (!NT_SUCCESS(IoCreateSymbolicLink(&link_string, &device_name))) {
        static_cast<BridgeExtension*>(object->DeviceExtension)->device.reset();
        IoDeleteDevice(object);
        return false;
    }
    object_ = object;
    return true;
}

void SimulatedDevice::unplug() {
    if (!plugged_.exchange(false)) return;
    TRACE("usbsim", "unplug %s", path_.c_str());
    ntoskrnl::io::remove_device_interface(path_);
    std::u16string link = link_name();
    UNICODE_STRING link_string = counted(link);
    IoDeleteSymbolicLink(&link_string);
    {
        auto& b = bus();
        std::lock_guard guard(b.lock);
        static_cast<BridgeExtension*>(object_->DeviceExtension)->device.reset();
        auto self = std::find(b.devices.begin(), b.devices.end(), shared_from_this());
        if (self != b.devices.end()) {
            b.retired.push_back(*self);
            b.devices.erase(self);
        }
    }
    IoDeleteDevice(object_);
    driver_->remove();
}

}  // namespace

std::shared_ptr<Device> plug(Description description) {
    auto& b = bus();
    std::shared_ptr<SimulatedDevice> device;
    {
        std::lock_guard guard(b.lock);
        PDRIVER_OBJECT driver = bridge_driver();
        device = std::make_shared<SimulatedDevice>(std::move(description), b.next_instance++);
        if (!driver || !device->attach(driver)) return nullptr;
        b.devices.push_back(device);
    }
    TRACE("usbsim", "plug %s", device->path().c_str());
    device->publish();
    return device;
}

void unplug_all() {
    std::vector<std::shared_ptr<SimulatedDevice>> devices;
    {
        auto& b = bus();
        std::lock_guard guard(b.lock);
        devices = b.devices;
    }
    for (auto& d : devices) d->unplug();
}

}  // namespace sim::usb
