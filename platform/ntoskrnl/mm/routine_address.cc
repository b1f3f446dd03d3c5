// MmGetSystemRoutineAddress: the kernel's exports by name, less those the test controls hide.
#include "platform/ntoskrnl/mm/routine_address.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "platform/ntoskrnl/rtl/text.h"

extern "C" NTSTATUS NTAPI RtlQueryRegistryValuesEx(ULONG, PCWSTR, PRTL_QUERY_REGISTRY_TABLE, PVOID,
                                                   PVOID);

namespace {

struct Export {
    const char* name;
    void* address;
};

#define KERNEL_EXPORT(name) \
    { #name, reinterpret_cast < void*>(&name) }

// Every routine of platform/wdm.h the simulated kernel exports, and RtlQueryRegistryValuesEx.
const Export kExports[] = {
    KERNEL_EXPORT(DbgPrint),
    KERNEL_EXPORT(ExAllocatePoolWithTag),
    KERNEL_EXPORT(ExFreePool),
    KERNEL_EXPORT(ExFreePoolWithTag),
    KERNEL_EXPORT(ExInterlockedInsertHeadList),
    KERNEL_EXPORT(ExInterlockedInsertTailList),
    KERNEL_EXPORT(ExInterlockedRemoveHeadList),
    KERNEL_EXPORT(IoCreateDevice),
    KERNEL_EXPORT(IoCreateSymbolicLink),
    KERNEL_EXPORT(IoDeleteDevice),
    KERNEL_EXPORT(IoDeleteSymbolicLink),
    KERNEL_EXPORT(IofCompleteRequest),
    KERNEL_EXPORT(KeAcquireSpinLockRaiseToDpc),
    KERNEL_EXPORT(KeClearEvent),
    KERNEL_EXPORT(KeGetCurrentIrql),
    KERNEL_EXPORT(KeGetCurrentThread),
    KERNEL_EXPORT(KeInitializeEvent),
    KERNEL_EXPORT(KeReadStateEvent),
    KERNEL_EXPORT(KeReleaseSpinLock),
    KERNEL_EXPORT(KeResetEvent),
    KERNEL_EXPORT(KeRestoreExtendedProcessorState),
    KERNEL_EXPORT(KeSaveExtendedProcessorState),
    KERNEL_EXPORT(KeSetEvent),
    KERNEL_EXPORT(KeSetPriorityThread),
    KERNEL_EXPORT(KeWaitForSingleObject),
    KERNEL_EXPORT(MmGetSystemRoutineAddress),
    KERNEL_EXPORT(MmMapLockedPagesSpecifyCache),
    KERNEL_EXPORT(ObOpenObjectByPointer),
    KERNEL_EXPORT(ObReferenceObjectByHandle),
    KERNEL_EXPORT(ObfDereferenceObject),
    KERNEL_EXPORT(PsCreateSystemThread),
    KERNEL_EXPORT(PsTerminateSystemThread),
    KERNEL_EXPORT(RtlAddAccessAllowedAce),
    KERNEL_EXPORT(RtlAnsiStringToUnicodeString),
    KERNEL_EXPORT(RtlCreateAcl),
    KERNEL_EXPORT(RtlCreateSecurityDescriptor),
    KERNEL_EXPORT(RtlFreeUnicodeString),
    KERNEL_EXPORT(RtlInitAnsiString),
    KERNEL_EXPORT(RtlInitUnicodeString),
    KERNEL_EXPORT(RtlInitializeSid),
    KERNEL_EXPORT(RtlLengthSid),
    KERNEL_EXPORT(RtlMapGenericMask),
    KERNEL_EXPORT(RtlNtStatusToDosError),
    KERNEL_EXPORT(RtlQueryRegistryValues),
    KERNEL_EXPORT(RtlQueryRegistryValuesEx),
    KERNEL_EXPORT(RtlSetDaclSecurityDescriptor),
    KERNEL_EXPORT(RtlSubAuthoritySid),
    KERNEL_EXPORT(ZwClose),
    KERNEL_EXPORT(ZwCreateDirectoryObject),
    KERNEL_EXPORT(ZwCreateFile),
    KERNEL_EXPORT(ZwDeviceIoControlFile),
    KERNEL_EXPORT(ZwFsControlFile),
    KERNEL_EXPORT(ZwMakeTemporaryObject),
    KERNEL_EXPORT(ZwQueryInformationFile),
    KERNEL_EXPORT(ZwQuerySecurityObject),
    KERNEL_EXPORT(ZwReadFile),
    KERNEL_EXPORT(ZwSetInformationFile),
    KERNEL_EXPORT(ZwSetSecurityObject),
    KERNEL_EXPORT(ZwWaitForSingleObject),
    KERNEL_EXPORT(ZwWriteFile),
};

struct Hidden {
    std::mutex lock;
    std::vector<std::string> names;
};

Hidden& hidden() {
    static Hidden* instance = new Hidden;
    return *instance;
}

bool is_hidden(const std::string& name) {
    Hidden& h = hidden();
    std::lock_guard guard(h.lock);
    return std::find(h.names.begin(), h.names.end(), name) != h.names.end();
}

}  // namespace

namespace ntoskrnl {

void hide_system_routines(const std::vector<std::string>& names) {
    Hidden& h = hidden();
    std::lock_guard guard(h.lock);
    h.names = names;
}

}  // namespace ntoskrnl

extern "C" PVOID NTAPI MmGetSystemRoutineAddress(PUNICODE_STRING SystemRoutineName) {
    const std::string name = ntoskrnl::utf16_to_utf8(ntoskrnl::view_of(SystemRoutineName));
    if (is_hidden(name)) return nullptr;
    for (const Export& e : kExports)
        if (name == e.name) return e.address;
    return nullptr;
}
