// A small driver for the simulated kernel's tests, built like any kernel driver (a .sys in the
// Windows build, a shared library here). DriverEntry reads "Devices" (default 1) from its service
// key and creates \Device\HaldenEcho1 .. n, each with a worker system thread fed through a
// spin-locked queue and an event. Reads, writes (direct I/O into a 4 KiB pool store) and
// kIoctlReverse go pending to the worker; kIoctlFail fails at once.
#include "tests/kernel/echo_driver.h"

#include "platform/wdm.h"

namespace {

struct EchoExtension {
    LIST_ENTRY queue;
    KSPIN_LOCK queue_lock;
    KEVENT work;
    PVOID worker;  // referenced thread object
    BOOLEAN stop;
    PUCHAR store;  // kStoreSize bytes of pool
};

DRIVER_DISPATCH DispatchCreateClose;
DRIVER_DISPATCH DispatchQueued;
DRIVER_DISPATCH DispatchDeviceControl;
DRIVER_UNLOAD EchoUnload;
KSTART_ROUTINE EchoWorker;

NTSTATUS Complete(PIRP irp, NTSTATUS status, ULONG_PTR information) {
    irp->IoStatus.Status = status;
    irp->IoStatus.Information = information;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

NTSTATUS NTAPI DispatchCreateClose(PDEVICE_OBJECT, PIRP irp) {
    return Complete(irp, STATUS_SUCCESS, FILE_OPENED);
}

// Marks the request pending and hands it to the device's worker.
NTSTATUS NTAPI DispatchQueued(PDEVICE_OBJECT device, PIRP irp) {
    auto* extension = static_cast<EchoExtension*>(device->DeviceExtension);
    IoMarkIrpPending(irp);
    ExInterlockedInsertTailList(&extension->queue, &irp->Tail.Overlay.ListEntry,
                                &extension->queue_lock);
    KeSetEvent(&extension->work, IO_NO_INCREMENT, FALSE);
    return STATUS_PENDING;
}

NTSTATUS NTAPI DispatchDeviceControl(PDEVICE_OBJECT device, PIRP irp) {
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    switch (stack->Parameters.DeviceIoControl.IoControlCode) {
        case echo::kIoctlReverse:
            return DispatchQueued(device, irp);
        case echo::kIoctlFail: {
            ULONG out_length = stack->Parameters.DeviceIoControl.OutputBufferLength;
            RtlFillMemory(irp->AssociatedIrp.SystemBuffer, out_length, 0xEE);
            return Complete(irp, STATUS_INVALID_PARAMETER, out_length);
        }
        default:
            return Complete(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
    }
}

NTSTATUS Reverse(PIRP irp) {
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    ULONG in_length = stack->Parameters.DeviceIoControl.InputBufferLength;
    ULONG out_length = stack->Parameters.DeviceIoControl.OutputBufferLength;
    auto* buffer = static_cast<PUCHAR>(irp->AssociatedIrp.SystemBuffer);
    for (ULONG i = 0; i < in_length / 2; ++i) {
        UCHAR byte = buffer[i];
        buffer[i] = buffer[in_length - 1 - i];
        buffer[in_length - 1 - i] = byte;
    }
    if (out_length < in_length) {
        irp->IoStatus.Information = out_length;
        return STATUS_BUFFER_OVERFLOW;
    }
    irp->IoStatus.Information = in_length;
    return STATUS_SUCCESS;
}

NTSTATUS Transfer(EchoExtension* extension, PIRP irp, bool write) {
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    ULONG length = write ? stack->Parameters.Write.Length : stack->Parameters.Read.Length;
    LONGLONG offset = write ? stack->Parameters.Write.ByteOffset.QuadPart
                            : stack->Parameters.Read.ByteOffset.QuadPart;
    irp->IoStatus.Information = 0;
    if (offset < 0 || offset > echo::kStoreSize || length > echo::kStoreSize - offset)
        return STATUS_INVALID_PARAMETER;
    PVOID buffer = MmGetSystemAddressForMdlSafe(irp->MdlAddress, NormalPagePriority);
    if (!buffer) return STATUS_INSUFFICIENT_RESOURCES;
    if (write)
        RtlCopyMemory(extension->store + offset, buffer, length);
    else
        RtlCopyMemory(buffer, extension->store + offset, length);
    irp->IoStatus.Information = length;
    return STATUS_SUCCESS;
}

// Waits for work, takes requests one at a time under the queue lock, and completes them.
VOID NTAPI EchoWorker(PVOID context) {
    auto* extension =
        static_cast<EchoExtension*>(static_cast<PDEVICE_OBJECT>(context)->DeviceExtension);
    KeSetPriorityThread(KeGetCurrentThread(), LOW_REALTIME_PRIORITY);
    for (;;) {
        KeWaitForSingleObject(&extension->work, Executive, KernelMode, FALSE, nullptr);
        for (;;) {
            if (extension->stop) PsTerminateSystemThread(STATUS_SUCCESS);
            PLIST_ENTRY entry =
                ExInterlockedRemoveHeadList(&extension->queue, &extension->queue_lock);
            if (!entry) break;
            PIRP irp = CONTAINING_RECORD(entry, IRP, Tail.Overlay.ListEntry);
            NTSTATUS status;
            switch (IoGetCurrentIrpStackLocation(irp)->MajorFunction) {
                case IRP_MJ_READ:
                    status = Transfer(extension, irp, false);
                    break;
                case IRP_MJ_WRITE:
                    status = Transfer(extension, irp, true);
                    break;
                default:
                    status = Reverse(irp);
            }
            irp->IoStatus.Status = status;
            IoCompleteRequest(irp, NT_SUCCESS(status) ? IO_DISK_INCREMENT : IO_NO_INCREMENT);
        }
    }
}

void DeleteEchoDevice(PDEVICE_OBJECT device) {
    auto* extension = static_cast<EchoExtension*>(device->DeviceExtension);
    if (extension->worker) {
        extension->stop = TRUE;
        KeSetEvent(&extension->work, IO_NO_INCREMENT, FALSE);
        KeWaitForSingleObject(extension->worker, Executive, KernelMode, FALSE, nullptr);
        ObDereferenceObject(extension->worker);
    }
    if (extension->store) ExFreePoolWithTag(extension->store, echo::kPoolTag);
    IoDeleteDevice(device);
}

NTSTATUS CreateEchoDevice(PDRIVER_OBJECT driver, ULONG number) {
    WCHAR name_buffer[64];
    NTSTATUS status = RtlStringCbPrintfW(name_buffer, sizeof name_buffer,
                                         WTEXT("\\Device\\HaldenEcho%u"), number);
    if (!NT_SUCCESS(status)) return status;
    UNICODE_STRING name;
    RtlInitUnicodeString(&name, name_buffer);
    UNICODE_STRING sddl;
    RtlInitUnicodeString(&sddl, WTEXT("D:P(A;;GA;;;SY)(A;;GA;;;BA)(A;;GA;;;BU)"));
    PDEVICE_OBJECT device;
    status = IoCreateDeviceSecure(driver, sizeof(EchoExtension), &name, FILE_DEVICE_UNKNOWN, 0,
                                  FALSE, &sddl, nullptr, &device);
    if (!NT_SUCCESS(status)) return status;
    device->Flags |= DO_DIRECT_IO;
    auto* extension = static_cast<EchoExtension*>(device->DeviceExtension);
    InitializeListHead(&extension->queue);
    KeInitializeSpinLock(&extension->queue_lock);
    KeInitializeEvent(&extension->work, SynchronizationEvent, FALSE);
    extension->store =
        static_cast<PUCHAR>(ExAllocatePoolWithTag(NonPagedPool, echo::kStoreSize, echo::kPoolTag));
    if (!extension->store) {
        DeleteEchoDevice(device);
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    RtlZeroMemory(extension->store, echo::kStoreSize);
    HANDLE thread;
    status = PsCreateSystemThread(&thread, THREAD_ALL_ACCESS, nullptr, nullptr, nullptr, EchoWorker,
                                  device);
    if (NT_SUCCESS(status)) {
        status = ObReferenceObjectByHandle(thread, THREAD_ALL_ACCESS, nullptr, KernelMode,
                                           &extension->worker, nullptr);
        ZwClose(thread);
    }
    if (!NT_SUCCESS(status)) DeleteEchoDevice(device);
    return status;
}

VOID NTAPI EchoUnload(PDRIVER_OBJECT driver) {
    while (driver->DeviceObject) DeleteEchoDevice(driver->DeviceObject);
}

}  // namespace

extern "C" NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registry_path) {
    DbgPrint("echo: loading from %wZ\n", registry_path);
    ULONG devices = 0;
    ULONG default_devices = 1;
    RTL_QUERY_REGISTRY_TABLE table[2] = {};
    WCHAR value_name[] = WTEXT("Devices");
    table[0].Flags = RTL_QUERY_REGISTRY_DIRECT;
    table[0].Name = value_name;
    table[0].EntryContext = &devices;
    table[0].DefaultType = REG_DWORD;
    table[0].DefaultData = &default_devices;
    table[0].DefaultLength = sizeof default_devices;
    NTSTATUS status = RtlQueryRegistryValues(RTL_REGISTRY_ABSOLUTE, registry_path->Buffer, table,
                                             nullptr, nullptr);
    if (!NT_SUCCESS(status)) return status;
    for (ULONG i = 1; i <= devices; ++i) {
        status = CreateEchoDevice(driver, i);
        if (!NT_SUCCESS(status)) {
            EchoUnload(driver);
            return status;
        }
    }
    driver->MajorFunction[IRP_MJ_CREATE] = DispatchCreateClose;
    driver->MajorFunction[IRP_MJ_CLOSE] = DispatchCreateClose;
    driver->MajorFunction[IRP_MJ_READ] = DispatchQueued;
    driver->MajorFunction[IRP_MJ_WRITE] = DispatchQueued;
    driver->MajorFunction[IRP_MJ_DEVICE_CONTROL] = DispatchDeviceControl;
    driver->DriverUnload = EchoUnload;
    DbgPrint("echo: %lu devices\n", devices);
    return STATUS_SUCCESS;
}
