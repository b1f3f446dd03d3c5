// The disk's worker thread: carries out the queued requests one at a time, in arrival order, and
// completes each. Reads and writes move whole sectors between the caller's buffer and the image
// file, decrypting or encrypting them in the driver (software mode) or through the
// hardware-crypto thread (hardware mode).
#include "driver/orvik.h"

namespace {

// Whole sectors inside the image; a transfer that goes through a work item also fits its data
// area.
BOOLEAN TransferFits(const OrvikDeviceExtension* extension, LONGLONG offset, ULONG length,
                     BOOLEAN usesWorkItem) {
    if (offset < 0 || offset % kSectorSize != 0 || length % kSectorSize != 0) return FALSE;
    if (usesWorkItem && length > kWorkItemDataSize) return FALSE;
    return offset <= extension->ImageSize - static_cast<LONGLONG>(length);
}

// Has the hardware-crypto thread process one item; FALSE when the card exchange failed.
BOOLEAN CryptThroughCard(OrvikWorkItem* item, UCHAR op, const UCHAR* source, ULONG length,
                         LONGLONG offset) {
    item->Op = op;
    item->Source = const_cast<PUCHAR>(source);
    item->Length = length;
    item->Offset = offset;
    return SubmitHwCryptItem(item);
}

// A read or write as the steps after its checks see it.
struct Transfer {
    LONGLONG Offset;
    ULONG Length;
    ULONG Mode;     // read once per request
    PUCHAR Buffer;  // the caller's buffer in system space
};

// The steps every read and write begins with: in hardware mode the card must be open, the range
// must fit, the caller's buffer must map. STATUS_SUCCESS, or the status that fails the request.
NTSTATUS BeginTransfer(const OrvikDeviceExtension* extension, PIRP irp, Transfer* transfer) {
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    // Read and Write have the same layout.
    transfer->Offset = stack->Parameters.Read.ByteOffset.QuadPart;
    transfer->Length = stack->Parameters.Read.Length;
    transfer->Mode = g_dwEnableCrypte;
    irp->IoStatus.Information = 0;
    if (transfer->Mode == HW_CRYPT && !IsCryptoDeviceOpen()) return STATUS_IO_DEVICE_ERROR;
    // Writes go through the write work item, reads through the read item in hardware mode.
    const BOOLEAN usesWorkItem = stack->MajorFunction == IRP_MJ_WRITE || transfer->Mode == HW_CRYPT;
    if (!TransferFits(extension, transfer->Offset, transfer->Length, usesWorkItem))
        return STATUS_INVALID_PARAMETER;
    transfer->Buffer =
        static_cast<PUCHAR>(MmGetSystemAddressForMdlSafe(irp->MdlAddress, NormalPagePriority));
    return transfer->Buffer ? STATUS_SUCCESS : STATUS_INVALID_DEVICE_REQUEST;
}

// IRP_MJ_READ: the image's sectors into a pool buffer, then decrypted into the caller's buffer.
// Only what the image read delivered is decrypted; the caller's buffer keeps its other bytes.
NTSTATUS ReadImage(OrvikDeviceExtension* extension, PIRP irp) {
    Transfer t;
    NTSTATUS status = BeginTransfer(extension, irp, &t);
    if (!NT_SUCCESS(status)) return status;
    auto* image = static_cast<PUCHAR>(AllocNonPaged(t.Length));
    if (!image) return STATUS_INSUFFICIENT_RESOURCES;

    LARGE_INTEGER byteOffset;
    byteOffset.QuadPart = t.Offset;
    status = ZwReadFile(extension->ImageHandle, nullptr, nullptr, nullptr, &irp->IoStatus, image,
                        t.Length, &byteOffset, nullptr);
    const ULONG read =
        NT_SUCCESS(status) ? static_cast<ULONG>(irp->IoStatus.Information) & ~(kSectorSize - 1) : 0;
    if (read != 0 && t.Mode == SW_CRYPT) {
        CryptSectors(extension, t.Offset, image, t.Buffer, read, FALSE);
    } else if (read != 0) {
        if (!CryptThroughCard(extension->ReadItem, 'B', image, read, t.Offset)) {
            FreeNonPaged(image);
            irp->IoStatus.Information = 0;
            return STATUS_IO_DEVICE_ERROR;
        }
        RtlCopyMemory(t.Buffer, WorkItemData(extension->ReadItem), read);
    }
    FreeNonPaged(image);
    return status;
}

// IRP_MJ_WRITE: the caller's sectors encrypted into the write work item's data area, then
// written to the image. A failed card exchange writes nothing.
NTSTATUS WriteImage(OrvikDeviceExtension* extension, PIRP irp) {
    Transfer t;
    NTSTATUS status = BeginTransfer(extension, irp, &t);
    if (!NT_SUCCESS(status)) return status;
    OrvikWorkItem* item = extension->WriteItem;
    if (t.Mode == SW_CRYPT) {
        CryptSectors(extension, t.Offset, t.Buffer, WorkItemData(item), t.Length, TRUE);
    } else if (!CryptThroughCard(item, 'A', t.Buffer, t.Length, t.Offset)) {
        return STATUS_IO_DEVICE_ERROR;
    }
    LARGE_INTEGER byteOffset;
    byteOffset.QuadPart = t.Offset;
    return ZwWriteFile(extension->ImageHandle, nullptr, nullptr, nullptr, &irp->IoStatus,
                       WorkItemData(item), t.Length, &byteOffset, nullptr);
}

NTSTATUS CarryOut(PDEVICE_OBJECT device, PIRP irp) {
    OrvikDeviceExtension* extension = DiskExtension(device);
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    switch (stack->MajorFunction) {
        case IRP_MJ_READ:
        case IRP_MJ_WRITE:
            // A CLOSE queued before it detached the image.
            if (!extension->MediaPresent) {
                irp->IoStatus.Information = 0;
                return STATUS_NO_MEDIA_IN_DEVICE;
            }
            return stack->MajorFunction == IRP_MJ_READ ? ReadImage(extension, irp)
                                                       : WriteImage(extension, irp);
        case IRP_MJ_DEVICE_CONTROL:
            switch (stack->Parameters.DeviceIoControl.IoControlCode) {
                case IOCTL_ORVIK_OPEN_IMAGE:
                    return OpenImageFile(device, irp);
                case IOCTL_ORVIK_CLOSE_IMAGE:
                    return CloseImageFile(device, irp);
            }
            break;
    }
    irp->IoStatus.Information = 0;
    return STATUS_INVALID_DEVICE_REQUEST;
}

VOID CompleteQueued(PIRP irp, NTSTATUS status) {
    irp->IoStatus.Status = status;
    IoCompleteRequest(irp, NT_SUCCESS(status) ? IO_DISK_INCREMENT : IO_NO_INCREMENT);
}

// The worker's end: the requests still queued fail, then the thread ends.
[[noreturn]] VOID EndWorker(OrvikDeviceExtension* extension) {
    while (PIRP irp = NextQueuedRequest(extension)) {
        irp->IoStatus.Information = 0;
        CompleteQueued(irp, STATUS_CANCELLED);
    }
    PsTerminateSystemThread(STATUS_SUCCESS);
    __builtin_unreachable();
}

}  // namespace

// Thread start routine of each disk (context: its device object), at priority 16. Waits for the
// request event, checks the terminate flag, takes the next request under the queue lock and
// completes it; the request queue is its only input.
VOID NTAPI DiskWorkerThread(PVOID context) {
    auto* device = static_cast<PDEVICE_OBJECT>(context);
    OrvikDeviceExtension* extension = DiskExtension(device);
    KeSetPriorityThread(KeGetCurrentThread(), kThreadPriority);
    for (;;) {
        KeWaitForSingleObject(&extension->RequestEvent, Executive, KernelMode, FALSE, nullptr);
        for (;;) {
            if (extension->Terminate) EndWorker(extension);
            PIRP irp = NextQueuedRequest(extension);
            if (!irp) break;
            CompleteQueued(irp, CarryOut(device, irp));
        }
    }
}
