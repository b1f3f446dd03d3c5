// Dispatch routines of the disks. They run in the caller's thread. Every path completes the
// request at once (no priority boost) or marks it pending and queues it to the disk's worker,
// which completes it; a queued request is not touched here again.
#include "driver/orvik.h"

namespace {

namespace fd = wire::file_descriptor;

NTSTATUS CompleteRequest(PIRP irp, NTSTATUS status, ULONG_PTR information) {
    irp->IoStatus.Status = status;
    irp->IoStatus.Information = information;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

// Hands the request to the disk's worker (worker.cc). Takes the queue's spin lock briefly.
NTSTATUS QueueToWorker(OrvikDeviceExtension* extension, PIRP irp) {
    IoMarkIrpPending(irp);
    QueueRequest(extension, irp);
    KeSetEvent(&extension->RequestEvent, IO_NO_INCREMENT, FALSE);
    return STATUS_PENDING;
}

// IOCTL_ORVIK_OPEN_IMAGE: checks the record, sets the driver-wide mode, chunk size, key pair and
// card path (they stay in force whatever the worker's open of the image gives), then queues.
NTSTATUS OpenImage(OrvikDeviceExtension* extension, PIRP irp, ULONG inputLength) {
    if (extension->MediaPresent) return CompleteRequest(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
    if (inputLength < fd::kSize) return CompleteRequest(irp, STATUS_INVALID_PARAMETER, 0);
    const fd::Fields record =
        fd::Decode(static_cast<const UCHAR*>(irp->AssociatedIrp.SystemBuffer));
    if (!record.GuardsHold() || record.wFileNameLength > fd::kFileNameSize)
        return CompleteRequest(irp, STATUS_INVALID_PARAMETER, 0);

    const BOOLEAN soft = record.bSoft != 0;
    if (soft) {
        if (g_dwEnableCrypte == HW_CRYPT) {
            DbgPrint("=== Open ===: set g_dwEnableCrypte = SW_CRYPT\n");
            g_dwEnableCrypte = SW_CRYPT;
        }
    } else {
        g_dwEnableCrypte = HW_CRYPT;
        if (!SetCryptoDevicePath(record.szDevicePath, fd::kDevicePathSize))
            return CompleteRequest(irp, STATUS_NO_SUCH_DEVICE, 0);
    }
    SetChunkSize(record.dwChunkSize);
    RtlCopyMemory(extension->Key1, record.key1, fd::kKeySize);
    RtlCopyMemory(extension->Key2, record.key2, fd::kKeySize);
    SetGlobalKeyPair(!soft, extension->Key1, extension->Key2);
    return QueueToWorker(extension, irp);
}

// IOCTL_MOUNTDEV_QUERY_DEVICE_NAME: MOUNTDEV_NAME with the name's byte length, then the name
// (UTF-16, no terminator) when the output holds it.
NTSTATUS QueryDeviceName(OrvikDeviceExtension* extension, PIRP irp, ULONG outputLength) {
    if (outputLength < sizeof(MOUNTDEV_NAME))
        return CompleteRequest(irp, STATUS_BUFFER_TOO_SMALL, sizeof(MOUNTDEV_NAME));
    auto* name = static_cast<PMOUNTDEV_NAME>(irp->AssociatedIrp.SystemBuffer);
    RtlZeroMemory(name, sizeof(MOUNTDEV_NAME));
    name->NameLength = extension->DeviceName.Length;
    const ULONG needed = sizeof(name->NameLength) + name->NameLength;
    if (outputLength < needed)
        return CompleteRequest(irp, STATUS_BUFFER_OVERFLOW, sizeof(MOUNTDEV_NAME));
    RtlCopyMemory(name->Name, extension->DeviceName.Buffer, name->NameLength);
    return CompleteRequest(irp, STATUS_SUCCESS, needed);
}

}  // namespace

// IRP_MJ_CREATE and IRP_MJ_CLOSE: nothing is kept per open.
NTSTATUS NTAPI DispatchCreateClose(PDEVICE_OBJECT, PIRP irp) {
    return CompleteRequest(irp, STATUS_SUCCESS, FILE_OPENED);
}

// IRP_MJ_READ and IRP_MJ_WRITE: refused without media or, in hardware mode, without the card;
// otherwise queued.
NTSTATUS NTAPI DispatchReadWrite(PDEVICE_OBJECT device, PIRP irp) {
    OrvikDeviceExtension* extension = DiskExtension(device);
    if (!extension->MediaPresent) return CompleteRequest(irp, STATUS_NO_MEDIA_IN_DEVICE, 0);
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    // Read and Write have the same layout.
    if (stack->Parameters.Read.Length == 0) return CompleteRequest(irp, STATUS_SUCCESS, 0);
    if (g_dwEnableCrypte == HW_CRYPT && !IsCryptoDeviceOpen())
        return CompleteRequest(irp, STATUS_NO_SUCH_DEVICE, 0);
    return QueueToWorker(extension, irp);
}

// IRP_MJ_DEVICE_CONTROL: the disk, storage and mount-manager queries answered at once; the
// driver's OPEN and CLOSE queued to the worker.
NTSTATUS NTAPI DispatchDeviceControl(PDEVICE_OBJECT device, PIRP irp) {
    OrvikDeviceExtension* extension = DiskExtension(device);
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    const ULONG code = stack->Parameters.DeviceIoControl.IoControlCode;
    const ULONG inputLength = stack->Parameters.DeviceIoControl.InputBufferLength;
    const ULONG outputLength = stack->Parameters.DeviceIoControl.OutputBufferLength;
    PVOID buffer = irp->AssociatedIrp.SystemBuffer;

    if (!extension->MediaPresent && code != IOCTL_ORVIK_OPEN_IMAGE)
        return CompleteRequest(irp, STATUS_NO_MEDIA_IN_DEVICE, 0);

    switch (code) {
        case IOCTL_DISK_GET_DRIVE_GEOMETRY: {
            if (outputLength < sizeof(DISK_GEOMETRY))
                return CompleteRequest(irp, STATUS_BUFFER_TOO_SMALL, 0);
            auto* geometry = static_cast<PDISK_GEOMETRY>(buffer);
            geometry->Cylinders.QuadPart = extension->ImageSize / (2 * 32 * kSectorSize);
            geometry->MediaType = FixedMedia;
            geometry->TracksPerCylinder = 2;
            geometry->SectorsPerTrack = 32;
            geometry->BytesPerSector = kSectorSize;
            return CompleteRequest(irp, STATUS_SUCCESS, sizeof(DISK_GEOMETRY));
        }
        case IOCTL_DISK_GET_PARTITION_INFO_EX: {
            if (outputLength < sizeof(PARTITION_INFORMATION_EX))
                return CompleteRequest(irp, STATUS_BUFFER_TOO_SMALL, 0);
            auto* partition = static_cast<PPARTITION_INFORMATION_EX>(buffer);
            RtlZeroMemory(partition, sizeof *partition);
            partition->PartitionStyle = PARTITION_STYLE_MBR;
            partition->PartitionLength.QuadPart = extension->ImageSize;
            partition->Mbr.HiddenSectors = 1;
            return CompleteRequest(irp, STATUS_SUCCESS, sizeof(PARTITION_INFORMATION_EX));
        }
        case IOCTL_DISK_GET_LENGTH_INFO: {
            if (outputLength < sizeof(GET_LENGTH_INFORMATION))
                return CompleteRequest(irp, STATUS_BUFFER_TOO_SMALL, 0);
            static_cast<PGET_LENGTH_INFORMATION>(buffer)->Length.QuadPart = extension->ImageSize;
            return CompleteRequest(irp, STATUS_SUCCESS, sizeof(GET_LENGTH_INFORMATION));
        }
        case IOCTL_DISK_SET_PARTITION_INFO:
            if (inputLength < 1) return CompleteRequest(irp, STATUS_BUFFER_TOO_SMALL, 0);
            extension->PartitionType = *static_cast<const UCHAR*>(buffer);
            return CompleteRequest(irp, STATUS_SUCCESS, 0);
        case IOCTL_STORAGE_GET_HOTPLUG_INFO: {
            if (outputLength < sizeof(STORAGE_HOTPLUG_INFO))
                return CompleteRequest(irp, STATUS_BUFFER_TOO_SMALL, 0);
            auto* hotplug = static_cast<PSTORAGE_HOTPLUG_INFO>(buffer);
            RtlZeroMemory(hotplug, sizeof *hotplug);
            hotplug->Size = sizeof *hotplug;
            return CompleteRequest(irp, STATUS_SUCCESS, sizeof(STORAGE_HOTPLUG_INFO));
        }
        case IOCTL_MOUNTDEV_QUERY_DEVICE_NAME:
            return QueryDeviceName(extension, irp, outputLength);
        case IOCTL_DISK_IS_WRITABLE:
        case IOCTL_DISK_CHECK_VERIFY:
        case IOCTL_DISK_MEDIA_REMOVAL:
        case IOCTL_STORAGE_CHECK_VERIFY:
        case IOCTL_STORAGE_MEDIA_REMOVAL:
            return CompleteRequest(irp, STATUS_SUCCESS, 0);
        case IOCTL_ORVIK_OPEN_IMAGE:
            return OpenImage(extension, irp, inputLength);
        case IOCTL_ORVIK_CLOSE_IMAGE:
            return QueueToWorker(extension, irp);
        default:  // IOCTL_STORAGE_GET_DEVICE_NUMBER and IOCTL_STORAGE_QUERY_PROPERTY among them
            return CompleteRequest(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
    }
}
