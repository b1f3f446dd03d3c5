#include "tests/platform/memory_disk.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <mutex>

#include "platform/testing/kernel_controls.h"
#include "platform/win32.h"

namespace {

constexpr char kService[] = "HaldenMemoryDisk";
constexpr ULONG kSectorSize = 512;

struct Disk {
    std::mutex lock;
    std::vector<uint8_t> bytes;
    std::vector<UCHAR> majors;
    std::vector<ULONG> codes;
    UCHAR partition_type = 0;
};

Disk& disk() {
    static Disk* instance = new Disk;
    return *instance;
}

NTSTATUS complete(PIRP irp, NTSTATUS status, ULONG_PTR information = 0) {
    irp->IoStatus.Status = status;
    irp->IoStatus.Information = information;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

NTSTATUS transfer(Disk& d, PIRP irp, PIO_STACK_LOCATION stack) {
    const ULONG length = stack->Parameters.Read.Length;
    const LONGLONG offset = stack->Parameters.Read.ByteOffset.QuadPart;
    if (length == 0) return complete(irp, STATUS_SUCCESS);
    if (offset < 0 || static_cast<uint64_t>(offset) + length > d.bytes.size())
        return complete(irp, STATUS_INVALID_PARAMETER);
    auto* buffer =
        static_cast<uint8_t*>(MmGetSystemAddressForMdlSafe(irp->MdlAddress, NormalPagePriority));
    if (!buffer) return complete(irp, STATUS_INSUFFICIENT_RESOURCES);
    if (stack->MajorFunction == IRP_MJ_READ)
        std::memcpy(buffer, d.bytes.data() + offset, length);
    else
        std::memcpy(d.bytes.data() + offset, buffer, length);
    return complete(irp, STATUS_SUCCESS, length);
}

NTSTATUS control(Disk& d, PIRP irp, PIO_STACK_LOCATION stack) {
    const auto& p = stack->Parameters.DeviceIoControl;
    void* buffer = irp->AssociatedIrp.SystemBuffer;
    const auto size = static_cast<LONGLONG>(d.bytes.size());
    switch (p.IoControlCode) {
        case IOCTL_DISK_GET_DRIVE_GEOMETRY: {
            if (p.OutputBufferLength < sizeof(DISK_GEOMETRY))
                return complete(irp, STATUS_BUFFER_TOO_SMALL);
            DISK_GEOMETRY geometry{};
            geometry.Cylinders.QuadPart = size / (2 * 32 * kSectorSize);
            geometry.MediaType = FixedMedia;
            geometry.TracksPerCylinder = 2;
            geometry.SectorsPerTrack = 32;
            geometry.BytesPerSector = kSectorSize;
            std::memcpy(buffer, &geometry, sizeof geometry);
            return complete(irp, STATUS_SUCCESS, sizeof geometry);
        }
        case IOCTL_DISK_GET_LENGTH_INFO: {
            if (p.OutputBufferLength < sizeof(GET_LENGTH_INFORMATION))
                return complete(irp, STATUS_BUFFER_TOO_SMALL);
            GET_LENGTH_INFORMATION length{};
            length.Length.QuadPart = size;
            std::memcpy(buffer, &length, sizeof length);
            return complete(irp, STATUS_SUCCESS, sizeof length);
        }
        case IOCTL_DISK_GET_PARTITION_INFO_EX: {
            if (p.OutputBufferLength < sizeof(PARTITION_INFORMATION_EX))
                return complete(irp, STATUS_BUFFER_TOO_SMALL);
            PARTITION_INFORMATION_EX partition{};
            partition.PartitionStyle = PARTITION_STYLE_MBR;
            partition.PartitionLength.QuadPart = size;
            partition.Mbr.PartitionType = d.partition_type;
            partition.Mbr.HiddenSectors = 1;
            std::memcpy(buffer, &partition, sizeof partition);
            return complete(irp, STATUS_SUCCESS, sizeof partition);
        }
        case IOCTL_DISK_SET_PARTITION_INFO:
            if (p.InputBufferLength < 1) return complete(irp, STATUS_BUFFER_TOO_SMALL);
            d.partition_type = *static_cast<UCHAR*>(buffer);
            return complete(irp, STATUS_SUCCESS);
        case IOCTL_DISK_IS_WRITABLE:
            return complete(irp, STATUS_SUCCESS);
        default:
            return complete(irp, STATUS_INVALID_DEVICE_REQUEST);
    }
}

NTSTATUS NTAPI dispatch(PDEVICE_OBJECT, PIRP irp) {
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    Disk& d = disk();
    std::lock_guard guard(d.lock);
    d.majors.push_back(stack->MajorFunction);
    switch (stack->MajorFunction) {
        case IRP_MJ_CREATE:
        case IRP_MJ_CLEANUP:
        case IRP_MJ_CLOSE:
            return complete(irp, STATUS_SUCCESS);
        case IRP_MJ_READ:
        case IRP_MJ_WRITE:
            return transfer(d, irp, stack);
        case IRP_MJ_DEVICE_CONTROL:
            d.codes.push_back(stack->Parameters.DeviceIoControl.IoControlCode);
            return control(d, irp, stack);
        case IRP_MJ_FILE_SYSTEM_CONTROL:
            d.codes.push_back(stack->Parameters.FileSystemControl.FsControlCode);
            return complete(irp, STATUS_INVALID_DEVICE_REQUEST);
        default:
            return complete(irp, STATUS_INVALID_DEVICE_REQUEST);
    }
}

VOID NTAPI unload(PDRIVER_OBJECT driver) {
    IoDeleteDevice(driver->DeviceObject);
}

NTSTATUS NTAPI entry(PDRIVER_OBJECT driver, PUNICODE_STRING) {
    std::u16string text(u"\\Device\\HaldenMemoryDisk");
    UNICODE_STRING name{static_cast<USHORT>(text.size() * 2), static_cast<USHORT>(text.size() * 2),
                        text.data()};
    PDEVICE_OBJECT device = nullptr;
    const NTSTATUS status = IoCreateDevice(driver, 0, &name, FILE_DEVICE_DISK, 0, FALSE, &device);
    if (!NT_SUCCESS(status)) return status;
    device->Flags |= DO_DIRECT_IO;
    for (PDRIVER_DISPATCH& routine : driver->MajorFunction) routine = dispatch;
    driver->DriverUnload = unload;
    return STATUS_SUCCESS;
}

}  // namespace

MemoryDisk::MemoryDisk(uint64_t size, uint8_t fill) {
    {
        Disk& d = disk();
        std::lock_guard guard(d.lock);
        d.bytes.assign(size, fill);
        d.majors.clear();
        d.codes.clear();
        d.partition_type = 0;
    }
    EXPECT_EQ(sim::kernel::load_driver(kService, entry), STATUS_SUCCESS);
}

MemoryDisk::~MemoryDisk() {
    EXPECT_EQ(sim::kernel::unload_driver(kService), STATUS_SUCCESS);
}

std::vector<uint8_t> MemoryDisk::bytes() const {
    Disk& d = disk();
    std::lock_guard guard(d.lock);
    return d.bytes;
}

std::vector<UCHAR> MemoryDisk::majors() const {
    Disk& d = disk();
    std::lock_guard guard(d.lock);
    return d.majors;
}

std::vector<ULONG> MemoryDisk::control_codes() const {
    Disk& d = disk();
    std::lock_guard guard(d.lock);
    return d.codes;
}

void MemoryDisk::clear_seen() {
    Disk& d = disk();
    std::lock_guard guard(d.lock);
    d.majors.clear();
    d.codes.clear();
}

UCHAR MemoryDisk::partition_type() const {
    Disk& d = disk();
    std::lock_guard guard(d.lock);
    return d.partition_type;
}
