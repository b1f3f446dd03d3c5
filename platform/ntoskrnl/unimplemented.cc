// Routines declared in platform/wdm.h that the simulated kernel does not provide yet.
#include "platform/ntoskrnl/not_implemented.h"
#include "platform/wdm.h"

using ntoskrnl::not_implemented;

extern "C" {

VOID NTAPI KeInitializeEvent(PRKEVENT, EVENT_TYPE, BOOLEAN) {
    not_implemented("KeInitializeEvent");
}
LONG NTAPI KeSetEvent(PRKEVENT, KPRIORITY, BOOLEAN) {
    not_implemented("KeSetEvent");
}
LONG NTAPI KeResetEvent(PRKEVENT) {
    not_implemented("KeResetEvent");
}
VOID NTAPI KeClearEvent(PRKEVENT) {
    not_implemented("KeClearEvent");
}
LONG NTAPI KeReadStateEvent(PRKEVENT) {
    not_implemented("KeReadStateEvent");
}
NTSTATUS NTAPI KeWaitForSingleObject(PVOID, KWAIT_REASON, KPROCESSOR_MODE, BOOLEAN,
                                     PLARGE_INTEGER) {
    not_implemented("KeWaitForSingleObject");
}
PKTHREAD NTAPI KeGetCurrentThread() {
    not_implemented("KeGetCurrentThread");
}
KPRIORITY NTAPI KeSetPriorityThread(PKTHREAD, KPRIORITY) {
    not_implemented("KeSetPriorityThread");
}
KIRQL NTAPI KeGetCurrentIrql() {
    not_implemented("KeGetCurrentIrql");
}
KIRQL NTAPI KeAcquireSpinLockRaiseToDpc(PKSPIN_LOCK) {
    not_implemented("KeAcquireSpinLockRaiseToDpc");
}
VOID NTAPI KeReleaseSpinLock(PKSPIN_LOCK, KIRQL) {
    not_implemented("KeReleaseSpinLock");
}
PVOID NTAPI ExAllocatePoolWithTag(POOL_TYPE, SIZE_T, ULONG) {
    not_implemented("ExAllocatePoolWithTag");
}
VOID NTAPI ExFreePoolWithTag(PVOID, ULONG) {
    not_implemented("ExFreePoolWithTag");
}
VOID NTAPI ExFreePool(PVOID) {
    not_implemented("ExFreePool");
}
PLIST_ENTRY FASTCALL ExInterlockedInsertHeadList(PLIST_ENTRY, PLIST_ENTRY, PKSPIN_LOCK) {
    not_implemented("ExInterlockedInsertHeadList");
}
PLIST_ENTRY FASTCALL ExInterlockedInsertTailList(PLIST_ENTRY, PLIST_ENTRY, PKSPIN_LOCK) {
    not_implemented("ExInterlockedInsertTailList");
}
PLIST_ENTRY FASTCALL ExInterlockedRemoveHeadList(PLIST_ENTRY, PKSPIN_LOCK) {
    not_implemented("ExInterlockedRemoveHeadList");
}
NTSTATUS NTAPI ObReferenceObjectByHandle(HANDLE, ACCESS_MASK, POBJECT_TYPE, KPROCESSOR_MODE, PVOID*,
                                         POBJECT_HANDLE_INFORMATION) {
    not_implemented("ObReferenceObjectByHandle");
}
LONG_PTR FASTCALL ObfDereferenceObject(PVOID) {
    not_implemented("ObfDereferenceObject");
}
NTSTATUS NTAPI PsCreateSystemThread(PHANDLE, ULONG, POBJECT_ATTRIBUTES, HANDLE, PCLIENT_ID,
                                    PKSTART_ROUTINE, PVOID) {
    not_implemented("PsCreateSystemThread");
}
NTSTATUS NTAPI PsTerminateSystemThread(NTSTATUS) {
    not_implemented("PsTerminateSystemThread");
}
NTSTATUS NTAPI IoCreateDevice(PDRIVER_OBJECT, ULONG, PUNICODE_STRING, DEVICE_TYPE, ULONG, BOOLEAN,
                              PDEVICE_OBJECT*) {
    not_implemented("IoCreateDevice");
}
NTSTATUS NTAPI IoCreateDeviceSecure(PDRIVER_OBJECT, ULONG, PUNICODE_STRING, DEVICE_TYPE, ULONG,
                                    BOOLEAN, PCUNICODE_STRING, LPCGUID, PDEVICE_OBJECT*) {
    not_implemented("IoCreateDeviceSecure");
}
VOID NTAPI IoDeleteDevice(PDEVICE_OBJECT) {
    not_implemented("IoDeleteDevice");
}
VOID FASTCALL IofCompleteRequest(PIRP, CCHAR) {
    not_implemented("IofCompleteRequest");
}
PVOID NTAPI MmMapLockedPagesSpecifyCache(PMDL, KPROCESSOR_MODE, MEMORY_CACHING_TYPE, PVOID, ULONG,
                                         ULONG) {
    not_implemented("MmMapLockedPagesSpecifyCache");
}
NTSTATUS NTAPI ZwCreateFile(PHANDLE, ACCESS_MASK, POBJECT_ATTRIBUTES, PIO_STATUS_BLOCK,
                            PLARGE_INTEGER, ULONG, ULONG, ULONG, ULONG, PVOID, ULONG) {
    not_implemented("ZwCreateFile");
}
NTSTATUS NTAPI ZwReadFile(HANDLE, HANDLE, PIO_APC_ROUTINE, PVOID, PIO_STATUS_BLOCK, PVOID, ULONG,
                          PLARGE_INTEGER, PULONG) {
    not_implemented("ZwReadFile");
}
NTSTATUS NTAPI ZwWriteFile(HANDLE, HANDLE, PIO_APC_ROUTINE, PVOID, PIO_STATUS_BLOCK, PVOID, ULONG,
                           PLARGE_INTEGER, PULONG) {
    not_implemented("ZwWriteFile");
}
NTSTATUS NTAPI ZwQueryInformationFile(HANDLE, PIO_STATUS_BLOCK, PVOID, ULONG,
                                      FILE_INFORMATION_CLASS) {
    not_implemented("ZwQueryInformationFile");
}
NTSTATUS NTAPI ZwSetInformationFile(HANDLE, PIO_STATUS_BLOCK, PVOID, ULONG,
                                    FILE_INFORMATION_CLASS) {
    not_implemented("ZwSetInformationFile");
}
NTSTATUS NTAPI ZwDeviceIoControlFile(HANDLE, HANDLE, PIO_APC_ROUTINE, PVOID, PIO_STATUS_BLOCK,
                                     ULONG, PVOID, ULONG, PVOID, ULONG) {
    not_implemented("ZwDeviceIoControlFile");
}
NTSTATUS NTAPI ZwFsControlFile(HANDLE, HANDLE, PIO_APC_ROUTINE, PVOID, PIO_STATUS_BLOCK, ULONG,
                               PVOID, ULONG, PVOID, ULONG) {
    not_implemented("ZwFsControlFile");
}
NTSTATUS NTAPI ZwClose(HANDLE) {
    not_implemented("ZwClose");
}
NTSTATUS NTAPI ZwCreateDirectoryObject(PHANDLE, ACCESS_MASK, POBJECT_ATTRIBUTES) {
    not_implemented("ZwCreateDirectoryObject");
}
NTSTATUS NTAPI ZwMakeTemporaryObject(HANDLE) {
    not_implemented("ZwMakeTemporaryObject");
}
VOID NTAPI RtlInitUnicodeString(PUNICODE_STRING, PCWSTR) {
    not_implemented("RtlInitUnicodeString");
}
VOID NTAPI RtlInitAnsiString(PANSI_STRING, PCSZ) {
    not_implemented("RtlInitAnsiString");
}
NTSTATUS NTAPI RtlAnsiStringToUnicodeString(PUNICODE_STRING, PCANSI_STRING, BOOLEAN) {
    not_implemented("RtlAnsiStringToUnicodeString");
}
VOID NTAPI RtlFreeUnicodeString(PUNICODE_STRING) {
    not_implemented("RtlFreeUnicodeString");
}
NTSTATUS RtlStringCbPrintfA(PSTR, size_t, PCSTR, ...) {
    not_implemented("RtlStringCbPrintfA");
}
NTSTATUS RtlStringCbPrintfW(PWSTR, size_t, PCWSTR, ...) {
    not_implemented("RtlStringCbPrintfW");
}
NTSTATUS NTAPI RtlStringCbLengthA(PCSTR, size_t, size_t*) {
    not_implemented("RtlStringCbLengthA");
}
NTSTATUS NTAPI RtlStringCbLengthW(PCWSTR, size_t, size_t*) {
    not_implemented("RtlStringCbLengthW");
}
NTSTATUS NTAPI RtlQueryRegistryValues(ULONG, PCWSTR, PRTL_QUERY_REGISTRY_TABLE, PVOID, PVOID) {
    not_implemented("RtlQueryRegistryValues");
}
ULONG NTAPI RtlNtStatusToDosError(NTSTATUS) {
    not_implemented("RtlNtStatusToDosError");
}
PVOID NTAPI MmGetSystemRoutineAddress(PUNICODE_STRING) {
    not_implemented("MmGetSystemRoutineAddress");
}
ULONG DbgPrint(PCSTR, ...) {
    not_implemented("DbgPrint");
}

}  // extern "C"
