#include "tests/volume/record_driver.h"

#include <mutex>
#include <string>

#include "platform/testing/kernel_controls.h"
#include "platform/wdm.h"
#include "wire/orvik_interface.h"

namespace record_driver {
namespace {

constexpr char kService[] = "OrvikRecorder";

struct State {
    std::mutex lock;
    std::vector<Request> requests;
    NTSTATUS open_status = STATUS_SUCCESS;
    char letter_to_remove = 0;
    unsigned count = 0;
    HANDLE directory = nullptr;
};

struct DiskExtension {
    unsigned number;
};

State& state() {
    static State* instance = new State;
    return *instance;
}

NTSTATUS complete(PIRP irp, NTSTATUS status) {
    irp->IoStatus.Status = status;
    irp->IoStatus.Information = 0;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

NTSTATUS NTAPI dispatch_create_close(PDEVICE_OBJECT, PIRP irp) {
    return complete(irp, STATUS_SUCCESS);
}

NTSTATUS NTAPI dispatch_control(PDEVICE_OBJECT device, PIRP irp) {
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    const ULONG code = stack->Parameters.DeviceIoControl.IoControlCode;
    const auto* input = static_cast<const uint8_t*>(irp->AssociatedIrp.SystemBuffer);
    const ULONG length = stack->Parameters.DeviceIoControl.InputBufferLength;
    NTSTATUS status = STATUS_INVALID_DEVICE_REQUEST;
    char letter_to_remove = 0;
    {
        State& s = state();
        std::lock_guard guard(s.lock);
        s.requests.push_back({static_cast<DiskExtension*>(device->DeviceExtension)->number, code,
                              std::vector<uint8_t>(input, input + (input ? length : 0))});
        if (code == IOCTL_ORVIK_OPEN_IMAGE) status = s.open_status;
        if (code == IOCTL_ORVIK_CLOSE_IMAGE) {
            status = STATUS_SUCCESS;
            letter_to_remove = s.letter_to_remove;
        }
    }
    if (letter_to_remove != 0) {
        std::u16string name = u"\\??\\X:";
        name[4] = static_cast<char16_t>(letter_to_remove);
        UNICODE_STRING link{static_cast<USHORT>(name.size() * 2),
                            static_cast<USHORT>(name.size() * 2), name.data()};
        IoDeleteSymbolicLink(&link);
    }
    return complete(irp, status);
}

VOID NTAPI driver_unload(PDRIVER_OBJECT driver) {
    while (driver->DeviceObject) IoDeleteDevice(driver->DeviceObject);
    State& s = state();
    ZwClose(s.directory);
    s.directory = nullptr;
}

NTSTATUS NTAPI driver_entry(PDRIVER_OBJECT driver, PUNICODE_STRING) {
    State& s = state();
    UNICODE_STRING directory_name;
    RtlInitUnicodeString(&directory_name, u"\\Device\\orvik");
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &directory_name, OBJ_PERMANENT, nullptr, nullptr);
    NTSTATUS status = ZwCreateDirectoryObject(&s.directory, DIRECTORY_ALL_ACCESS, &attributes);
    if (!NT_SUCCESS(status)) return status;
    ZwMakeTemporaryObject(s.directory);
    for (unsigned n = 1; n <= s.count; ++n) {
        const std::string text = "\\Device\\orvik\\device" + std::to_string(n);
        std::u16string name(text.begin(), text.end());
        UNICODE_STRING device_name{static_cast<USHORT>(name.size() * 2),
                                   static_cast<USHORT>(name.size() * 2), name.data()};
        PDEVICE_OBJECT device = nullptr;
        status = IoCreateDevice(driver, sizeof(DiskExtension), &device_name, FILE_DEVICE_DISK, 0,
                                FALSE, &device);
        if (!NT_SUCCESS(status)) {
            driver_unload(driver);
            return status;
        }
        static_cast<DiskExtension*>(device->DeviceExtension)->number = n;
        device->Flags |= DO_DIRECT_IO;
        device->Flags &= ~DO_DEVICE_INITIALIZING;
    }
    driver->MajorFunction[IRP_MJ_CREATE] = dispatch_create_close;
    driver->MajorFunction[IRP_MJ_CLOSE] = dispatch_create_close;
    driver->MajorFunction[IRP_MJ_DEVICE_CONTROL] = dispatch_control;
    driver->DriverUnload = driver_unload;
    return STATUS_SUCCESS;
}

}  // namespace

bool load(unsigned count) {
    {
        State& s = state();
        std::lock_guard guard(s.lock);
        s.count = count;
        s.requests.clear();
        s.open_status = STATUS_SUCCESS;
        s.letter_to_remove = 0;
    }
    return sim::kernel::load_driver(kService, driver_entry) == STATUS_SUCCESS;
}

void unload() {
    sim::kernel::unload_driver(kService);
}

std::vector<Request> requests() {
    State& s = state();
    std::lock_guard guard(s.lock);
    return s.requests;
}

std::vector<uint8_t> last_open() {
    const std::vector<Request> all = requests();
    for (auto it = all.rbegin(); it != all.rend(); ++it)
        if (it->code == IOCTL_ORVIK_OPEN_IMAGE) return it->input;
    return {};
}

void clear() {
    State& s = state();
    std::lock_guard guard(s.lock);
    s.requests.clear();
}

void answer_open_with(uint32_t status) {
    State& s = state();
    std::lock_guard guard(s.lock);
    s.open_status = static_cast<NTSTATUS>(status);
}

void remove_letter_on_close(char letter) {
    State& s = state();
    std::lock_guard guard(s.lock);
    s.letter_to_remove = letter;
}

}  // namespace record_driver
