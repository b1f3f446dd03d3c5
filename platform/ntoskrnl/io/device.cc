// Driver and device objects, and the symbolic links to devices.
#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <new>

#include "platform/core/trace.h"
#include "platform/ntoskrnl/io/io.h"
#include "platform/ntoskrnl/ke/thread.h"
#include "platform/ntoskrnl/not_implemented.h"
#include "platform/ntoskrnl/ob/namespace.h"
#include "platform/ntoskrnl/rtl/text.h"

namespace ntoskrnl::io {
namespace {

struct DriverBody {
    DRIVER_OBJECT driver;
    DRIVER_EXTENSION extension;
    std::u16string name;     // DriverName's text
    std::u16string service;  // ServiceKeyName's text
    bool unloading = false;
};

constexpr size_t round16(size_t n) {
    return (n + 15) & ~size_t{15};
}

// Guards every driver's device list and the devices' reference counts.
std::mutex& device_lock() {
    static std::mutex* instance = new std::mutex;
    return *instance;
}

std::condition_variable& devices_closed() {
    static std::condition_variable* instance = new std::condition_variable;
    return *instance;
}

DriverBody* body_of(PDRIVER_OBJECT driver) {
    return reinterpret_cast<DriverBody*>(driver);
}

void destroy_driver(void* body) {
    static_cast<DriverBody*>(body)->~DriverBody();
}

void destroy_device(void* body) {
    auto* device = static_cast<PDEVICE_OBJECT>(body);
    PDRIVER_OBJECT driver = device->DriverObject;
    device->DeviceObjectExtension->~_DEVOBJ_EXTENSION();
    ob::dereference(driver);
}

// What every major function does until the driver says otherwise.
NTSTATUS NTAPI invalid_device_request(PDEVICE_OBJECT, PIRP irp) {
    return complete_request(irp, STATUS_INVALID_DEVICE_REQUEST);
}

USHORT sector_size(DEVICE_TYPE type) {
    switch (type) {
        case FILE_DEVICE_DISK:
        case FILE_DEVICE_DISK_FILE_SYSTEM:
            return 512;
        default:
            return 0;
    }
}

NTSTATUS create_device(PDRIVER_OBJECT driver, ULONG extension_size, PUNICODE_STRING name,
                       DEVICE_TYPE type, ULONG characteristics, BOOLEAN exclusive,
                       PDEVICE_OBJECT* out) {
    require_passive_level("IoCreateDevice");
    const size_t extension_offset = round16(sizeof(DEVICE_OBJECT));
    const size_t record_offset = extension_offset + round16(extension_size);
    void* body = ob::create_object(&device_type, record_offset + sizeof(_DEVOBJ_EXTENSION));
    auto* device = static_cast<PDEVICE_OBJECT>(body);
    auto* record = new (static_cast<char*>(body) + record_offset) _DEVOBJ_EXTENSION;
    record->Type = 13;  // IO_TYPE_DEVICE_OBJECT_EXTENSION
    record->Size = sizeof(_DEVOBJ_EXTENSION);
    record->DeviceObject = device;
    record->extension_size = extension_size;
    device->Type = kIoTypeDevice;
    device->Size = static_cast<USHORT>(sizeof(DEVICE_OBJECT) + extension_size);
    device->DriverObject = driver;
    device->Flags =
        DO_DEVICE_INITIALIZING | (exclusive ? DO_EXCLUSIVE : 0) | (name ? DO_DEVICE_HAS_NAME : 0);
    device->Characteristics = characteristics;
    device->DeviceExtension =
        extension_size ? static_cast<char*>(body) + extension_offset : nullptr;
    device->DeviceType = type;
    device->StackSize = 1;
    device->SectorSize = sector_size(type);
    device->DeviceObjectExtension = record;
    KeInitializeEvent(&device->DeviceLock, SynchronizationEvent, TRUE);
    ob::reference(driver);
    if (name) {
        const NTSTATUS status = ob::insert_object(body, view_of(name), nullptr, OBJ_PERMANENT);
        if (!NT_SUCCESS(status)) {
            ob::dereference(body);
            return status;
        }
    }
    {
        std::lock_guard guard(device_lock());
        device->NextDevice = driver->DeviceObject;
        driver->DeviceObject = device;
    }
    *out = device;
    return STATUS_SUCCESS;
}

}  // namespace

_OBJECT_TYPE driver_type{"Driver", destroy_driver, nullptr};
_OBJECT_TYPE device_type{"Device", destroy_device, nullptr};

NTSTATUS create_driver(std::u16string_view service, PDRIVER_OBJECT* out,
                       std::u16string_view directory) {
    void* body = ob::create_object(&driver_type, sizeof(DriverBody));
    auto* record = new (body) DriverBody;
    record->name = std::u16string(directory) + u"\\" + std::u16string(service);
    record->service = service;
    PDRIVER_OBJECT driver = &record->driver;
    driver->Type = kIoTypeDriver;
    driver->Size = sizeof(DRIVER_OBJECT);
    driver->DriverExtension = &record->extension;
    record->extension.DriverObject = driver;
    for (PDRIVER_DISPATCH& dispatch : driver->MajorFunction) dispatch = invalid_device_request;
    const auto set = [](UNICODE_STRING* string, std::u16string& text) {
        string->Buffer = text.data();
        string->Length = static_cast<USHORT>(text.size() * sizeof(WCHAR));
        string->MaximumLength = string->Length;
    };
    set(&driver->DriverName, record->name);
    set(&record->extension.ServiceKeyName, record->service);
    const NTSTATUS status = ob::insert_object(body, record->name, nullptr, OBJ_PERMANENT);
    if (!NT_SUCCESS(status)) {
        ob::dereference(body);
        return status;
    }
    *out = driver;
    return STATUS_SUCCESS;
}

void set_driver_unloading(PDRIVER_OBJECT driver) {
    std::lock_guard guard(device_lock());
    body_of(driver)->unloading = true;
}

void wait_until_devices_closed(PDRIVER_OBJECT driver) {
    std::unique_lock guard(device_lock());
    devices_closed().wait(guard, [driver] {
        for (PDEVICE_OBJECT d = driver->DeviceObject; d; d = d->NextDevice)
            if (d->ReferenceCount > 0) return false;
        return true;
    });
}

void ready_devices(PDRIVER_OBJECT driver) {
    std::lock_guard guard(device_lock());
    for (PDEVICE_OBJECT d = driver->DeviceObject; d; d = d->NextDevice)
        d->Flags &= ~DO_DEVICE_INITIALIZING;
}

NTSTATUS device_open(PDEVICE_OBJECT device) {
    std::lock_guard guard(device_lock());
    if (device->DeviceObjectExtension->delete_pending || (device->Flags & DO_DEVICE_INITIALIZING) ||
        body_of(device->DriverObject)->unloading)
        return STATUS_NO_SUCH_DEVICE;
    if ((device->Flags & DO_EXCLUSIVE) && device->ReferenceCount > 0) return STATUS_ACCESS_DENIED;
    ++device->ReferenceCount;
    return STATUS_SUCCESS;
}

void device_closed(PDEVICE_OBJECT device) {
    {
        std::lock_guard guard(device_lock());
        --device->ReferenceCount;
    }
    devices_closed().notify_all();
}

void set_close_refused(PDEVICE_OBJECT device, bool refused) {
    device->DeviceObjectExtension->close_refused = refused;
}

std::vector<DeviceSnapshot> driver_devices(PDRIVER_OBJECT driver) {
    std::vector<DeviceSnapshot> devices;
    std::lock_guard guard(device_lock());
    for (PDEVICE_OBJECT d = driver->DeviceObject; d; d = d->NextDevice)
        devices.push_back({d, d->DeviceObjectExtension->extension_size});
    return devices;
}

}  // namespace ntoskrnl::io

using namespace ntoskrnl;

extern "C" NTSTATUS NTAPI IoCreateDevice(PDRIVER_OBJECT DriverObject, ULONG DeviceExtensionSize,
                                         PUNICODE_STRING DeviceName, DEVICE_TYPE DeviceType,
                                         ULONG DeviceCharacteristics, BOOLEAN Exclusive,
                                         PDEVICE_OBJECT* DeviceObject) {
    TRACE("ntoskrnl", "IoCreateDevice(%p, %u, \"%s\", %#x, %#x, %d)",
          static_cast<void*>(DriverObject), DeviceExtensionSize,
          utf16_to_utf8(view_of(DeviceName)).c_str(), DeviceType, DeviceCharacteristics, Exclusive);
    return io::create_device(DriverObject, DeviceExtensionSize, DeviceName, DeviceType,
                             DeviceCharacteristics, Exclusive, DeviceObject);
}

extern "C" VOID NTAPI IoDeleteDevice(PDEVICE_OBJECT DeviceObject) {
    TRACE("ntoskrnl", "IoDeleteDevice(%p)", static_cast<void*>(DeviceObject));
    require_passive_level("IoDeleteDevice");
    {
        std::lock_guard guard(io::device_lock());
        DeviceObject->DeviceObjectExtension->delete_pending = true;
        PDEVICE_OBJECT* link = &DeviceObject->DriverObject->DeviceObject;
        while (*link && *link != DeviceObject) link = &(*link)->NextDevice;
        if (!*link) bug_check("IO_MANAGER", "IoDeleteDevice of a device deleted already");
        *link = DeviceObject->NextDevice;
    }
    ob::make_temporary(DeviceObject);
    ob::dereference(DeviceObject);
}

extern "C" NTSTATUS NTAPI IoCreateSymbolicLink(PUNICODE_STRING SymbolicLinkName,
                                               PUNICODE_STRING DeviceName) {
    TRACE("ntoskrnl", "IoCreateSymbolicLink(\"%s\", \"%s\")",
          utf16_to_utf8(view_of(SymbolicLinkName)).c_str(),
          utf16_to_utf8(view_of(DeviceName)).c_str());
    require_passive_level("IoCreateSymbolicLink");
    return ob::create_symbolic_link(view_of(SymbolicLinkName), view_of(DeviceName));
}

extern "C" NTSTATUS NTAPI IoDeleteSymbolicLink(PUNICODE_STRING SymbolicLinkName) {
    TRACE("ntoskrnl", "IoDeleteSymbolicLink(\"%s\")",
          utf16_to_utf8(view_of(SymbolicLinkName)).c_str());
    require_passive_level("IoDeleteSymbolicLink");
    return ob::delete_symbolic_link(view_of(SymbolicLinkName));
}
