// Start-up and unload: the disks named in the driver's directory, each with its worker thread and
// two work items, the dispatch table and the hardware-crypto thread.
#include "driver/orvik.h"

ULONG g_dwEnableCrypte = HW_CRYPT;

namespace {

constexpr ULONG kDefaultDeviceCount = 3;
constexpr USHORT kDeviceNameSize = 512;
static_assert(kDeviceNameSize >= wire::kOrvikDeviceNameUnits * sizeof(WCHAR));

HANDLE g_DirectoryHandle;

// Tells the disk's worker (context: the device) to end.
VOID StopDiskWorker(PVOID device) {
    OrvikDeviceExtension* extension = DiskExtension(static_cast<PDEVICE_OBJECT>(device));
    extension->Terminate = 1;
    KeSetEvent(&extension->RequestEvent, IO_NO_INCREMENT, FALSE);
}

// Ends the disk's worker and waits for it, detaches an image still attached, frees what the disk
// owns and deletes the device. Undoes any prefix of CreateDiskDevice.
VOID DeleteDiskDevice(PDEVICE_OBJECT device) {
    OrvikDeviceExtension* extension = DiskExtension(device);
    if (extension->WorkerThread) {
        StopDiskWorker(device);
        WaitForSystemThread(extension->WorkerThread);
        extension->WorkerThread = nullptr;
    }
    if (extension->MediaPresent) DetachImageFile(extension);
    ReportSectorCipher(extension);
    if (extension->DeviceName.Buffer) {
        FreeNonPaged(extension->DeviceName.Buffer);
        extension->DeviceName.Buffer = nullptr;
    }
    if (extension->ReadItem) {
        FreeNonPaged(extension->ReadItem);
        extension->ReadItem = nullptr;
    }
    if (extension->WriteItem) {
        FreeNonPaged(extension->WriteItem);
        extension->WriteItem = nullptr;
    }
    IoDeleteDevice(device);
}

// Newest first, as the driver object lists them.
VOID DeleteDiskDevices(PDRIVER_OBJECT driver) {
    while (driver->DeviceObject) DeleteDiskDevice(driver->DeviceObject);
}

OrvikWorkItem* AllocWorkItem() {
    auto* item = static_cast<OrvikWorkItem*>(AllocNonPaged(kWorkItemSize));
    if (!item) return nullptr;
    RtlZeroMemory(item, kWorkItemSize);
    KeInitializeEvent(&item->Done, SynchronizationEvent, FALSE);
    return item;
}

// "MaxDevices" under the service key; 3 when it cannot be read. A value of another type than
// REG_DWORD counts as unreadable.
ULONG ReadMaxDevices(PUNICODE_STRING registryPath) {
    typedef NTSTATUS NTAPI QueryRoutine(ULONG, PCWSTR, PRTL_QUERY_REGISTRY_TABLE, PVOID, PVOID);
    static WCHAR valueName[] = WTEXT("MaxDevices");
    ULONG defaultCount = kDefaultDeviceCount;
    ULONG count = 0;
    RTL_QUERY_REGISTRY_TABLE table[2] = {};
    table[0].Flags =
        RTL_QUERY_REGISTRY_REQUIRED | RTL_QUERY_REGISTRY_DIRECT | RTL_QUERY_REGISTRY_TYPECHECK;
    table[0].Name = valueName;
    table[0].EntryContext = &count;
    table[0].DefaultType = REG_DWORD | REG_DWORD << RTL_QUERY_REGISTRY_TYPECHECK_SHIFT;
    table[0].DefaultData = &defaultCount;
    table[0].DefaultLength = sizeof defaultCount;

    UNICODE_STRING routineName;
    RtlInitUnicodeString(&routineName, WTEXT("RtlQueryRegistryValuesEx"));
    auto* query = reinterpret_cast<QueryRoutine*>(MmGetSystemRoutineAddress(&routineName));
    if (!query) query = RtlQueryRegistryValues;
    NTSTATUS status = query(RTL_REGISTRY_ABSOLUTE, registryPath->Buffer, table, nullptr, nullptr);
    return NT_SUCCESS(status) ? count : kDefaultDeviceCount;
}

// Creates disk number (device<number> in the directory) with its work items and worker thread.
// On failure nothing of the disk is left.
NTSTATUS CreateDiskDevice(PDRIVER_OBJECT driver, ULONG number) {
    auto* nameBuffer = static_cast<PWCH>(AllocNonPaged(kDeviceNameSize));
    if (!nameBuffer) return STATUS_INSUFFICIENT_RESOURCES;
    const uint32_t nameLength = wire::WriteOrvikDeviceName(nameBuffer, number);
    UNICODE_STRING name;
    name.Buffer = nameBuffer;
    name.Length = static_cast<USHORT>(nameLength * sizeof(WCHAR));
    name.MaximumLength = kDeviceNameSize;

    UNICODE_STRING sddl;
    RtlInitUnicodeString(&sddl, WTEXT("D:P(A;;GA;;;SY)(A;;GA;;;BA)(A;;GA;;;BU)"));
    PDEVICE_OBJECT device;
    NTSTATUS status = IoCreateDeviceSecure(driver, sizeof(OrvikDeviceExtension), &name,
                                           FILE_DEVICE_DISK, 0, FALSE, &sddl, nullptr, &device);
    if (!NT_SUCCESS(status)) {
        FreeNonPaged(nameBuffer);
        return status;
    }
    device->Flags |= DO_DIRECT_IO;

    OrvikDeviceExtension* extension = DiskExtension(device);
    RtlZeroMemory(extension, sizeof *extension);
    extension->DeviceName = name;
    InitializeListHead(&extension->RequestQueue);
    KeInitializeSpinLock(&extension->QueueLock);
    KeInitializeEvent(&extension->RequestEvent, SynchronizationEvent, FALSE);
    extension->DeviceNumber = number;

    extension->ReadItem = AllocWorkItem();
    extension->WriteItem = AllocWorkItem();
    if (!extension->ReadItem || !extension->WriteItem) {
        DeleteDiskDevice(device);
        return STATUS_INSUFFICIENT_RESOURCES;
    }

    status = StartSystemThread(DiskWorkerThread, device, StopDiskWorker, &extension->WorkerThread);
    if (!NT_SUCCESS(status)) DeleteDiskDevice(device);
    return status;
}

// Unload routine: ends the hardware-crypto thread and every disk, newest first, then removes the
// directory. Images still attached are detached first.
VOID NTAPI DriverUnload(PDRIVER_OBJECT driver) {
    BOOLEAN hwCryptStarted = HwCryptThreadStarted();
    if (hwCryptStarted) SignalHwCryptStop();
    DeleteDiskDevices(driver);
    if (hwCryptStarted) StopHwCryptThread();
    FreeCryptoDevicePath();
    FreeBlockMap();
    ZwClose(g_DirectoryHandle);
    g_DirectoryHandle = nullptr;
}

}  // namespace

// Entry point, run once at load in a system thread. Every disk is created before the dispatch
// table is filled; a disk that cannot be created ends start-up with nothing left behind.
extern "C" NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registryPath) {
    // Driver-wide values start at their load values, also when the image stays mapped between
    // loads.
    g_dwEnableCrypte = HW_CRYPT;
    InitCardClient();
    SetChunkSize(kLoadChunkSize);
    // The choice of SM4 kernels is made once and, in kernel mode, without a guard: before any
    // thread of the driver runs.
    ChooseSectorCipher();

    ULONG count = ReadMaxDevices(registryPath);
    DbgPrint("GetCrypteEnableFromRegistry: g_dwEnableCrypte: %ld.\n", g_dwEnableCrypte);

    WCHAR directoryText[wire::kOrvikDirectoryUnits];
    wire::WriteOrvikDirectory(directoryText);
    UNICODE_STRING directoryName;
    RtlInitUnicodeString(&directoryName, directoryText);
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &directoryName, OBJ_PERMANENT, nullptr, nullptr);
    NTSTATUS status =
        ZwCreateDirectoryObject(&g_DirectoryHandle, DIRECTORY_ALL_ACCESS, &attributes);
    if (!NT_SUCCESS(status)) return status;
    ZwMakeTemporaryObject(g_DirectoryHandle);

    for (ULONG i = 0; i < count; ++i) {
        status = CreateDiskDevice(driver, i + 1);
        if (!NT_SUCCESS(status)) {
            DeleteDiskDevices(driver);
            ZwClose(g_DirectoryHandle);
            g_DirectoryHandle = nullptr;
            return status;
        }
    }

    driver->MajorFunction[IRP_MJ_CREATE] = DispatchCreateClose;
    driver->MajorFunction[IRP_MJ_CLOSE] = DispatchCreateClose;
    driver->MajorFunction[IRP_MJ_READ] = DispatchReadWrite;
    driver->MajorFunction[IRP_MJ_WRITE] = DispatchReadWrite;
    driver->MajorFunction[IRP_MJ_DEVICE_CONTROL] = DispatchDeviceControl;
    driver->DriverUnload = DriverUnload;

    if (g_dwEnableCrypte == HW_CRYPT) StartHwCryptThread();
    return STATUS_SUCCESS;
}
