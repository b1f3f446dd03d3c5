// The network adapters as Windows shows them: one NetworkCards subkey per adapter, with its
// "ServiceName", and the adapter's device "\\.\<service>" (a device object of the namespace)
// answering the NDIS permanent-address query. The adapters are the machine's interfaces unless a
// test replaced the list.
#include "platform/net/network_cards.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <map>
#include <mutex>
#include <optional>
#include <set>

#include "platform/core/trace.h"
#include "platform/ntoskrnl/cm/registry.h"
#include "platform/ntoskrnl/io/io.h"
#include "platform/ntoskrnl/rtl/text.h"
#include "platform/unix/net_interfaces.h"

namespace platform {
namespace {

using ntoskrnl::counted;
using ntoskrnl::cm::register_registry_view;
using ntoskrnl::cm::registry_string;
using ntoskrnl::cm::RegistryKeyData;
using ntoskrnl::io::complete_request;

constexpr char kNetworkCardsKey[] = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\NetworkCards";
constexpr DWORD kAddressSize = 6;

struct Replacement {
    std::mutex lock;
    std::optional<std::vector<Adapter>> adapters;
};

Replacement& replacement() {
    static Replacement* instance = new Replacement;
    return *instance;
}

std::optional<std::vector<Adapter>> replaced_adapters() {
    auto& r = replacement();
    std::lock_guard guard(r.lock);
    return r.adapters;
}

// The adapters now: the test's list, or one per machine interface.
std::vector<Adapter> current_adapters() {
    if (auto adapters = replaced_adapters()) return *adapters;
    std::vector<Adapter> adapters;
    for (auto& interface : net::list_interfaces())
        adapters.push_back({interface.name, true, true, interface.current});
    return adapters;
}

// The permanent address of the adapter behind service, as its driver reports it.
std::optional<net::HardwareAddress> adapter_permanent_address(const std::string& service) {
    if (auto adapters = replaced_adapters()) {
        for (auto& adapter : *adapters)
            if (adapter.service == service && adapter.answers) return adapter.permanent;
        return std::nullopt;
    }
    net::HardwareAddress address;
    if (net::permanent_address(service, &address)) return address;
    // Drivers without a factory address: the address in use stands in for it.
    for (auto& interface : net::list_interfaces())
        if (interface.name == service) return interface.current;
    return std::nullopt;
}

// The adapters' devices, as NDIS has them: "\Device\<service>" for each adapter with a device,
// reached from user mode as "\\.\<service>" through "\GLOBAL??\<service>".
struct AdapterExtension {
    char service[256];
};

NTSTATUS NTAPI adapter_create_close(PDEVICE_OBJECT, PIRP irp) {
    return complete_request(irp, STATUS_SUCCESS);
}

// IOCTL_NDIS_QUERY_GLOBAL_STATS (METHOD_OUT_DIRECT) with the permanent-address OID only.
NTSTATUS NTAPI adapter_control(PDEVICE_OBJECT device, PIRP irp) {
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    const auto& parameters = stack->Parameters.DeviceIoControl;
    if (parameters.IoControlCode != IOCTL_NDIS_QUERY_GLOBAL_STATS)
        return complete_request(irp, STATUS_INVALID_DEVICE_REQUEST);
    uint32_t oid = 0;
    if (parameters.InputBufferLength < sizeof oid || !irp->AssociatedIrp.SystemBuffer)
        return complete_request(irp, STATUS_INVALID_PARAMETER);
    std::memcpy(&oid, irp->AssociatedIrp.SystemBuffer, sizeof oid);
    if (oid != OID_802_3_PERMANENT_ADDRESS) return complete_request(irp, STATUS_NOT_SUPPORTED);
    if (parameters.OutputBufferLength < kAddressSize || !irp->MdlAddress)
        return complete_request(irp, STATUS_BUFFER_TOO_SMALL);
    auto* extension = static_cast<AdapterExtension*>(device->DeviceExtension);
    auto address = adapter_permanent_address(extension->service);
    if (!address) return complete_request(irp, STATUS_NOT_SUPPORTED);
    void* out = MmGetSystemAddressForMdlSafe(irp->MdlAddress, NormalPagePriority);
    if (!out) return complete_request(irp, STATUS_INSUFFICIENT_RESOURCES);
    std::memcpy(out, address->data(), kAddressSize);
    return complete_request(irp, STATUS_SUCCESS, kAddressSize);
}

struct AdapterDevices {
    std::mutex lock;
    PDRIVER_OBJECT driver = nullptr;
    std::map<std::string, PDEVICE_OBJECT> devices;  // by service
};

AdapterDevices& adapter_devices() {
    static AdapterDevices* instance = new AdapterDevices;
    return *instance;
}

// Makes the namespace hold a device for each adapter that has one, and no other.
void sync_adapter_devices(const std::vector<Adapter>& adapters) {
    auto& a = adapter_devices();
    std::lock_guard guard(a.lock);
    if (!a.driver) {
        if (!NT_SUCCESS(ntoskrnl::io::create_driver(u"Ndis", &a.driver))) return;
        a.driver->MajorFunction[IRP_MJ_CREATE] = adapter_create_close;
        a.driver->MajorFunction[IRP_MJ_CLOSE] = adapter_create_close;
        a.driver->MajorFunction[IRP_MJ_DEVICE_CONTROL] = adapter_control;
    }
    std::set<std::string> wanted;
    for (const auto& adapter : adapters)
        if (adapter.has_device && adapter.service.size() < sizeof AdapterExtension::service)
            wanted.insert(adapter.service);
    for (auto it = a.devices.begin(); it != a.devices.end();) {
        if (wanted.count(it->first)) {
            ++it;
            continue;
        }
        std::u16string link = u"\\GLOBAL??\\" + ntoskrnl::utf8_to_utf16(it->first);
        UNICODE_STRING link_name = counted(link);
        IoDeleteSymbolicLink(&link_name);
        IoDeleteDevice(it->second);
        it = a.devices.erase(it);
    }
    for (const auto& service : wanted) {
        if (a.devices.count(service)) continue;
        std::u16string name = u"\\Device\\" + ntoskrnl::utf8_to_utf16(service);
        std::u16string link = u"\\GLOBAL??\\" + ntoskrnl::utf8_to_utf16(service);
        UNICODE_STRING device_name = counted(name), link_name = counted(link);
        PDEVICE_OBJECT device;
        if (!NT_SUCCESS(IoCreateDevice(a.driver, sizeof(AdapterExtension), &device_name,
                                       FILE_DEVICE_PHYSICAL_NETCARD, 0, FALSE, &device)))
            continue;
        auto* extension = static_cast<AdapterExtension*>(device->DeviceExtension);
        std::memcpy(extension->service, service.c_str(), service.size() + 1);
        device->Flags |= DO_DIRECT_IO;
        device->Flags &= ~DO_DEVICE_INITIALIZING;
        if (!NT_SUCCESS(IoCreateSymbolicLink(&link_name, &device_name))) {
            IoDeleteDevice(device);
            continue;
        }
        a.devices[service] = device;
    }
}

std::optional<RegistryKeyData> network_cards(const std::vector<std::string>& below) {
    auto adapters = current_adapters();
    sync_adapter_devices(adapters);
    if (below.empty()) {
        RegistryKeyData data;
        for (size_t i = 0; i < adapters.size(); ++i) data.subkeys.push_back(std::to_string(i + 1));
        return data;
    }
    if (below.size() != 1) return std::nullopt;
    for (size_t i = 0; i < adapters.size(); ++i) {
        if (below[0] == std::to_string(i + 1))
            return RegistryKeyData{{}, {registry_string("ServiceName", adapters[i].service)}};
    }
    return std::nullopt;
}

const bool registered = [] {
    register_registry_view(kNetworkCardsKey, network_cards);
    sync_adapter_devices(current_adapters());
    return true;
}();

}  // namespace

void network_set_adapters(const std::vector<Adapter>& adapters) {
    {
        auto& r = replacement();
        std::lock_guard guard(r.lock);
        r.adapters = adapters;
    }
    sync_adapter_devices(adapters);
}

void network_use_real_adapters() {
    {
        auto& r = replacement();
        std::lock_guard guard(r.lock);
        r.adapters.reset();
    }
    sync_adapter_devices(current_adapters());
}

}  // namespace platform
