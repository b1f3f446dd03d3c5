// Orvik: virtual disks backed by image files whose 512-byte sectors are stored SM4-XTS
// encrypted, by the driver (software mode) or by the card (hardware mode). The state that the
// driver's files share, and the routines they call across.
//
// Every routine runs at PASSIVE_LEVEL. Spin locks guard only the two request lists (a disk's
// queue, the hardware-crypto queue); nothing waits or calls a file service while holding one.
#pragma once

#include "platform/wdm.h"
#include "wire/orvik_interface.h"

// Pool tag "Orvk": every allocation of the driver is non-paged pool with it.
constexpr ULONG kOrvikPoolTag = 'O' | 'r' << 8 | 'v' << 16 | 'k' << 24;

inline PVOID AllocNonPaged(SIZE_T bytes) {
    return ExAllocatePoolWithTag(NonPagedPool, bytes, kOrvikPoolTag);
}
inline VOID FreeNonPaged(PVOID block) {
    ExFreePoolWithTag(block, kOrvikPoolTag);
}

// Encryption mode of every disk (g_dwEnableCrypte).
constexpr ULONG HW_CRYPT = 1;  // sectors through the card
constexpr ULONG SW_CRYPT = 2;  // SM4-XTS in the driver

constexpr ULONG kSectorSize = 512;
constexpr KPRIORITY kThreadPriority = 16;

// Mode word of all disks: HW_CRYPT at load; only IOCTL_ORVIK_OPEN_IMAGE changes it. Read without
// a lock, afresh for every request.
extern ULONG g_dwEnableCrypte;

// What one card frame exchange came to, each kind of failure in its own field: the card client's
// own result (0, or one of its negative codes) and the status of a request that the USB function
// driver failed (STATUS_SUCCESS when none did).
struct CardFrameResult {
    LONG ClientResult;
    NTSTATUS UsbStatus;
};

inline BOOLEAN FrameSucceeded(const CardFrameResult& result) {
    return result.ClientResult == 0 && result.UsbStatus == STATUS_SUCCESS;
}

// A 3 MiB transfer buffer of a disk: the header fields, then the data area to the block's end.
// The hardware-crypto thread reads Length bytes at Source and writes the result to the data area.
struct OrvikWorkItem {
    LIST_ENTRY Link;        // in the hardware-crypto queue
    KEVENT Done;            // synchronization event, set when the item is finished
    CardFrameResult Frame;  // the first frame exchange that failed; both 0 when none did
    UCHAR Op;               // 'A' encrypt, 'B' decrypt: byte 0 of the frame opcode
    BOOLEAN Cancelled;      // finished without its exchanges: the hardware-crypto thread stopped
    PUCHAR Source;
    ULONG Length;
    LONGLONG Offset;  // of the first byte in the image
};

constexpr ULONG kWorkItemSize = 0x300000;
constexpr ULONG kWorkItemDataSize = kWorkItemSize - sizeof(OrvikWorkItem);
static_assert(sizeof(OrvikWorkItem) == 80);

inline PUCHAR WorkItemData(OrvikWorkItem* item) {
    return reinterpret_cast<PUCHAR>(item + 1);
}

// One per disk. The worker alone touches the image fields and the work items; dispatch reads the
// media flag and size and queues requests under the queue lock.
struct OrvikDeviceExtension {
    ANSI_STRING ImageName;  // pool copy of the OPEN request's file name (an NT path)
    LONGLONG ImageSize;     // end of file when the image was attached
    HANDLE ImageHandle;     // null without media
    UCHAR MediaPresent;
    KEVENT RequestEvent;  // synchronization; set for each queued request and by unload
    PVOID WorkerThread;   // referenced thread object of DiskWorkerThread
    UCHAR Terminate;      // set by unload to end the worker
    UCHAR PartitionType;  // last byte stored by IOCTL_DISK_SET_PARTITION_INFO
    LIST_ENTRY RequestQueue;
    KSPIN_LOCK QueueLock;
    UNICODE_STRING DeviceName;  // "\Device\orvik\device%u", 512-byte pool buffer
    ULONG DeviceNumber;
    UCHAR Created;  // this attachment created the image file
    OrvikWorkItem* ReadItem;
    OrvikWorkItem* WriteItem;
    UCHAR Key1[16];
    UCHAR Key2[16];
    ULONG CardSession;  // the card handle this disk holds a reference on; 0: none
    // Software-mode requests whose sectors were ciphered with and without the extended processor
    // state saved.
    ULONG SavedStateRequests;
    ULONG UnsavedStateRequests;
};

inline OrvikDeviceExtension* DiskExtension(PDEVICE_OBJECT device) {
    return static_cast<OrvikDeviceExtension*>(device->DeviceExtension);
}

// The disk's request queue, interlocked with its spin lock: dispatch inserts at the tail, the
// worker removes from the head. The list calls under KeAcquireSpinLock do what the kernel's
// ExInterlocked list routines do, which not every kernel provides (Wine's abort).
inline VOID QueueRequest(OrvikDeviceExtension* extension, PIRP irp) {
    KIRQL irql;
    KeAcquireSpinLock(&extension->QueueLock, &irql);
    InsertTailList(&extension->RequestQueue, &irp->Tail.Overlay.ListEntry);
    KeReleaseSpinLock(&extension->QueueLock, irql);
}

// The oldest queued request, taken off the queue; null when it is empty.
inline PIRP NextQueuedRequest(OrvikDeviceExtension* extension) {
    KIRQL irql;
    KeAcquireSpinLock(&extension->QueueLock, &irql);
    PLIST_ENTRY entry =
        IsListEmpty(&extension->RequestQueue) ? nullptr : RemoveHeadList(&extension->RequestQueue);
    KeReleaseSpinLock(&extension->QueueLock, irql);
    return entry ? CONTAINING_RECORD(entry, IRP, Tail.Overlay.ListEntry) : nullptr;
}

// System threads (system_thread.cc). StartSystemThread starts routine(context) with its thread
// object referenced into *thread; when the reference cannot be had, stop(context) tells the
// thread to end and it is waited for before the failure returns. WaitForSystemThread waits for
// the thread's end and drops the reference.
NTSTATUS StartSystemThread(PKSTART_ROUTINE routine, PVOID context, VOID (*stop)(PVOID),
                           PVOID* thread);
VOID WaitForSystemThread(PVOID thread);

// Start-up (entry.cc): also ReadMaxDevices, CreateDiskDevice and DriverUnload there.
extern "C" DRIVER_INITIALIZE DriverEntry;

// Dispatch routines (dispatch.cc).
DRIVER_DISPATCH DispatchCreateClose;
DRIVER_DISPATCH DispatchReadWrite;
DRIVER_DISPATCH DispatchDeviceControl;

// The disk's worker (worker.cc); it completes every request that dispatch queued.
KSTART_ROUTINE DiskWorkerThread;

// Software mode's sector cipher (sector_cipher.cc). ChooseSectorCipher runs once in DriverEntry,
// before any worker. CryptSectors encrypts or decrypts the whole sectors of length bytes at image
// offset under the driver-wide key pair, saving the extended processor state around the fastest
// path. ReportSectorCipher prints the disk's counts of both kinds of request.
VOID ChooseSectorCipher();
VOID CryptSectors(OrvikDeviceExtension* extension, LONGLONG offset, const UCHAR* in, PUCHAR out,
                  ULONG length, BOOLEAN encrypt);
VOID ReportSectorCipher(const OrvikDeviceExtension* extension);

// The image file (image_file.cc), called by the worker.
NTSTATUS OpenImageFile(PDEVICE_OBJECT device, PIRP irp);
NTSTATUS CloseImageFile(PDEVICE_OBJECT device, PIRP irp);
// Detaches an attached image: the card reference, the name, the handle, the block map.
VOID DetachImageFile(OrvikDeviceExtension* extension);
VOID FreeBlockMap();

// The kernel card client (card_client.cc). The card's path, handle and reference count are
// guarded by the card lock, which these routines take; the hardware-crypto thread holds it for
// each item's exchange.
VOID InitCardClient();
BOOLEAN SetCryptoDevicePath(const UCHAR* path, ULONG size);
VOID FreeCryptoDevicePath();
VOID SetGlobalKeyPair(BOOLEAN zero, const UCHAR* key1, const UCHAR* key2);
const UCHAR* GlobalKeyPair();  // 32 bytes: key 1 (data key), key 2 (tweak key)
LONG OpenCryptoDevice(PULONG session);
VOID ReleaseCryptoDevice(ULONG session);
VOID DropCryptoDevice();
BOOLEAN IsCryptoDeviceOpen();
VOID AcquireCardLock();
VOID ReleaseCardLock();
CardFrameResult SendCryptoChunk(UCHAR op, const UCHAR* source, ULONG length, ULONGLONG sector);
CardFrameResult ReceiveCryptoChunk(PUCHAR destination, ULONG length, ULONGLONG sector);

// The hardware-crypto thread (hw_crypt.cc).
BOOLEAN StartHwCryptThread();
BOOLEAN HwCryptThreadStarted();
// Has the thread process the item (its outcome fields cleared first); TRUE when it was neither
// cancelled nor ended by a failed frame.
BOOLEAN SubmitHwCryptItem(OrvikWorkItem* item);
constexpr ULONG kLoadChunkSize = 4096;
VOID SetChunkSize(ULONG size);
VOID SignalHwCryptStop();
VOID StopHwCryptThread();
