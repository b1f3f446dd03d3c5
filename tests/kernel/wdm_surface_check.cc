// Compiled in both builds with the kernel-mode flags: every name of platform/wdm.h that the
// driver uses exists, and the values and layouts it relies on are the driver kit's.
#include <cstddef>
#include <type_traits>

#include "platform/wdm.h"

static_assert(sizeof(WCHAR) == 2);
static_assert(sizeof(UNICODE_STRING) == 16 && sizeof(ANSI_STRING) == 16);
static_assert(sizeof(LIST_ENTRY) == 16 && sizeof(KSPIN_LOCK) == 8 && sizeof(KEVENT) == 24);
static_assert(sizeof(IO_STATUS_BLOCK) == 16 && sizeof(OBJECT_ATTRIBUTES) == 48);
static_assert(sizeof(IRP) == 208 && sizeof(IO_STACK_LOCATION) == 72 && sizeof(MDL) == 48);
static_assert(sizeof(DRIVER_OBJECT) == 336 && sizeof(FILE_OBJECT) == 216);
static_assert(offsetof(IRP, IoStatus) == 48 && offsetof(IRP, UserBuffer) == 112);
static_assert(offsetof(IRP, Tail.Overlay.ListEntry) == 168);
static_assert(offsetof(IRP, AssociatedIrp.SystemBuffer) == 24);
static_assert(offsetof(IO_STACK_LOCATION, Parameters.Read.ByteOffset) == 24);
static_assert(offsetof(IO_STACK_LOCATION, Parameters.DeviceIoControl.IoControlCode) == 24);
static_assert(offsetof(IO_STACK_LOCATION, FileObject) == 48);
static_assert(offsetof(DRIVER_OBJECT, MajorFunction) == 112);
static_assert(offsetof(DEVICE_OBJECT, DeviceExtension) == 64);
static_assert(offsetof(DEVICE_OBJECT, AlignmentRequirement) == 152);
static_assert(sizeof(RTL_QUERY_REGISTRY_TABLE) == 56);
static_assert(sizeof(FILE_BASIC_INFORMATION) == 40 && sizeof(FILE_STANDARD_INFORMATION) == 24);
static_assert(sizeof(FILE_ALIGNMENT_INFORMATION) == 4 && sizeof(FILE_END_OF_FILE_INFORMATION) == 8);
static_assert(sizeof(FILE_POSITION_INFORMATION) == 8);
static_assert(sizeof(DISK_GEOMETRY) == 24 && sizeof(PARTITION_INFORMATION_EX) == 144);
static_assert(sizeof(GET_LENGTH_INFORMATION) == 8 && sizeof(STORAGE_HOTPLUG_INFO) == 8);
static_assert(sizeof(MOUNTDEV_NAME) == 4);
static_assert(offsetof(PARTITION_INFORMATION_EX, Mbr.HiddenSectors) == 36);
static_assert(sizeof(SID_IDENTIFIER_AUTHORITY) == 6 && sizeof(ACL) == 8);
static_assert(sizeof(ACCESS_ALLOWED_ACE) == 12 && sizeof(GENERIC_MAPPING) == 16);
static_assert(sizeof(SECURITY_DESCRIPTOR) == 40 && offsetof(SECURITY_DESCRIPTOR, Dacl) == 32);
static_assert(sizeof(XSTATE_SAVE) == 56 && XSTATE_MASK_AVX == 0x4 && XSTATE_MASK_AVX512 == 0xE0);
// Looked up by name (MmGetSystemRoutineAddress) with these types.
static_assert(
    std::is_same_v<decltype(KeSaveExtendedProcessorState), NTSTATUS NTAPI(ULONG64, PXSTATE_SAVE)>);
static_assert(std::is_same_v<decltype(KeRestoreExtendedProcessorState), VOID NTAPI(PXSTATE_SAVE)>);

static_assert(IRP_MJ_CREATE == 0 && IRP_MJ_CLOSE == 2 && IRP_MJ_READ == 3 && IRP_MJ_WRITE == 4);
static_assert(IRP_MJ_DEVICE_CONTROL == 0x0e && IRP_MJ_CLEANUP == 0x12);
static_assert(IRP_MJ_MAXIMUM_FUNCTION == 0x1b);
static_assert(FILE_DEVICE_DISK == 7 && DO_DIRECT_IO == 0x10 && DO_DEVICE_INITIALIZING == 0x80);
static_assert(FILE_READ_ONLY_DEVICE == 2 && SL_PENDING_RETURNED == 1);
static_assert(IO_NO_INCREMENT == 0 && IO_DISK_INCREMENT == 1);
static_assert(DIRECTORY_ALL_ACCESS == 0xF000F && THREAD_ALL_ACCESS == 0x1FFFFF);
static_assert(OBJ_PERMANENT == 0x10 && OBJ_CASE_INSENSITIVE == 0x40 && OBJ_KERNEL_HANDLE == 0x200);
static_assert(FILE_OPEN == 1 && FILE_OPEN_IF == 3 && FILE_CREATED == 2 && FILE_OPENED == 1);
static_assert((FILE_NO_INTERMEDIATE_BUFFERING | FILE_SYNCHRONOUS_IO_NONALERT |
               FILE_NON_DIRECTORY_FILE | FILE_RANDOM_ACCESS) == 0x868);
static_assert(FILE_ATTRIBUTE_HIDDEN == 2 && FILE_ATTRIBUTE_NORMAL == 0x80);
static_assert(FileBasicInformation == 4 && FileStandardInformation == 5);
static_assert(FilePositionInformation == 14 && FileAlignmentInformation == 17);
static_assert(FileEndOfFileInformation == 20);
static_assert(RTL_QUERY_REGISTRY_REQUIRED == 4 && RTL_QUERY_REGISTRY_DIRECT == 0x20);
static_assert(RTL_QUERY_REGISTRY_TYPECHECK == 0x100 && RTL_REGISTRY_ABSOLUTE == 0);
static_assert(REG_DWORD == 4 && NonPagedPool == 0 && NormalPagePriority == 16);
static_assert(MDL_MAPPED_TO_SYSTEM_VA == 1 && MDL_SOURCE_IS_NONPAGED_POOL == 4);
static_assert(ACL_REVISION == 2 && SECURITY_DESCRIPTOR_REVISION == 1 && SID_REVISION == 1);
static_assert(SE_DACL_PRESENT == 4 && SE_DACL_PROTECTED == 0x1000 && SE_SELF_RELATIVE == 0x8000);
static_assert(DACL_SECURITY_INFORMATION == 4 && WRITE_DAC == 0x40000);
static_assert(SECURITY_LOCAL_SYSTEM_RID == 18 && SECURITY_BUILTIN_DOMAIN_RID == 32);
static_assert(DOMAIN_ALIAS_RID_ADMINS == 544 && DOMAIN_ALIAS_RID_USERS == 545);
static_assert(SECURITY_WORLD_RID == 0 && SECURITY_AUTHENTICATED_USER_RID == 11);
static_assert(SECURITY_RESTRICTED_CODE_RID == 12 && FILE_ALL_ACCESS == 0x1F01FF);
static_assert(SynchronizationEvent == 1 && NotificationEvent == 0 && KernelMode == 0);
static_assert(LOW_REALTIME_PRIORITY == 16 && DISPATCH_LEVEL == 2);
static_assert(FixedMedia == 12 && PARTITION_STYLE_MBR == 0);
static_assert(IOCTL_DISK_GET_DRIVE_GEOMETRY == 0x70000 && IOCTL_DISK_IS_WRITABLE == 0x70024);
static_assert(IOCTL_DISK_GET_PARTITION_INFO_EX == 0x70048);
static_assert(IOCTL_DISK_GET_LENGTH_INFO == 0x7405C && IOCTL_DISK_CHECK_VERIFY == 0x74800);
static_assert(IOCTL_DISK_MEDIA_REMOVAL == 0x74804 && IOCTL_DISK_SET_PARTITION_INFO == 0x7C008);
static_assert(IOCTL_STORAGE_GET_HOTPLUG_INFO == 0x2D0C14);
static_assert(IOCTL_STORAGE_GET_DEVICE_NUMBER == 0x2D1080);
static_assert(IOCTL_STORAGE_QUERY_PROPERTY == 0x2D1400);
static_assert(IOCTL_STORAGE_CHECK_VERIFY == 0x2D4800 && IOCTL_STORAGE_MEDIA_REMOVAL == 0x2D4804);
static_assert(IOCTL_MOUNTDEV_QUERY_DEVICE_NAME == 0x4D0008 && FSCTL_SET_SPARSE == 0x900C4);
static_assert(CTL_CODE(FILE_DEVICE_DISK, 0x900, METHOD_BUFFERED,
                       FILE_READ_ACCESS | FILE_WRITE_ACCESS) == 0x7E400);
static_assert(STATUS_SUCCESS == 0 && STATUS_TIMEOUT == 0x102 && STATUS_PENDING == 0x103);
static_assert(static_cast<ULONG>(STATUS_BUFFER_OVERFLOW) == 0x80000005);
static_assert(static_cast<ULONG>(STATUS_INVALID_PARAMETER) == 0xC000000D);
static_assert(static_cast<ULONG>(STATUS_NO_SUCH_DEVICE) == 0xC000000E);
static_assert(static_cast<ULONG>(STATUS_NO_SUCH_FILE) == 0xC000000F);
static_assert(static_cast<ULONG>(STATUS_INVALID_DEVICE_REQUEST) == 0xC0000010);
static_assert(static_cast<ULONG>(STATUS_NO_MEDIA_IN_DEVICE) == 0xC0000013);
static_assert(static_cast<ULONG>(STATUS_NO_MEMORY) == 0xC0000017);
static_assert(static_cast<ULONG>(STATUS_BUFFER_TOO_SMALL) == 0xC0000023);
static_assert(static_cast<ULONG>(STATUS_OBJECT_NAME_NOT_FOUND) == 0xC0000034);
static_assert(static_cast<ULONG>(STATUS_OBJECT_NAME_COLLISION) == 0xC0000035);
static_assert(static_cast<ULONG>(STATUS_OBJECT_PATH_NOT_FOUND) == 0xC000003A);
static_assert(static_cast<ULONG>(STATUS_SHARING_VIOLATION) == 0xC0000043);
static_assert(static_cast<ULONG>(STATUS_INSUFFICIENT_RESOURCES) == 0xC000009A);
static_assert(static_cast<ULONG>(STATUS_DEVICE_NOT_CONNECTED) == 0xC000009D);
static_assert(static_cast<ULONG>(STATUS_IO_DEVICE_ERROR) == 0xC0000185);
static_assert(static_cast<ULONG>(STATUS_IO_OPERATION_TIMEOUT) == 0xC000047D);

// Every routine the driver calls, by name.
void wdm_surface_names() {
    const void* routines[] = {
        reinterpret_cast<const void*>(&KeInitializeEvent),
        reinterpret_cast<const void*>(&KeSetEvent),
        reinterpret_cast<const void*>(&KeResetEvent),
        reinterpret_cast<const void*>(&KeClearEvent),
        reinterpret_cast<const void*>(&KeReadStateEvent),
        reinterpret_cast<const void*>(&KeWaitForSingleObject),
        reinterpret_cast<const void*>(&KeSetPriorityThread),
        reinterpret_cast<const void*>(&KeAcquireSpinLockRaiseToDpc),
        reinterpret_cast<const void*>(&KeReleaseSpinLock),
        reinterpret_cast<const void*>(&KeInitializeSpinLock),
        reinterpret_cast<const void*>(&ExAllocatePoolWithTag),
        reinterpret_cast<const void*>(&ExFreePoolWithTag),
        reinterpret_cast<const void*>(&ExFreePool),
        reinterpret_cast<const void*>(&ExInterlockedInsertHeadList),
        reinterpret_cast<const void*>(&ExInterlockedInsertTailList),
        reinterpret_cast<const void*>(&ExInterlockedRemoveHeadList),
        reinterpret_cast<const void*>(&ObReferenceObjectByHandle),
        reinterpret_cast<const void*>(&ObfDereferenceObject),
        reinterpret_cast<const void*>(&ObOpenObjectByPointer),
        reinterpret_cast<const void*>(&PsCreateSystemThread),
        reinterpret_cast<const void*>(&PsTerminateSystemThread),
        reinterpret_cast<const void*>(&IoCreateDevice),
        reinterpret_cast<const void*>(&IoCreateDeviceSecure),
        reinterpret_cast<const void*>(&IoDeleteDevice),
        reinterpret_cast<const void*>(&IofCompleteRequest),
        reinterpret_cast<const void*>(&MmMapLockedPagesSpecifyCache),
        reinterpret_cast<const void*>(&MmGetSystemRoutineAddress),
        reinterpret_cast<const void*>(&ZwCreateFile),
        reinterpret_cast<const void*>(&ZwReadFile),
        reinterpret_cast<const void*>(&ZwWriteFile),
        reinterpret_cast<const void*>(&ZwQueryInformationFile),
        reinterpret_cast<const void*>(&ZwSetInformationFile),
        reinterpret_cast<const void*>(&ZwDeviceIoControlFile),
        reinterpret_cast<const void*>(&ZwFsControlFile),
        reinterpret_cast<const void*>(&ZwClose),
        reinterpret_cast<const void*>(&ZwWaitForSingleObject),
        reinterpret_cast<const void*>(&ZwCreateDirectoryObject),
        reinterpret_cast<const void*>(&ZwMakeTemporaryObject),
        reinterpret_cast<const void*>(&ZwSetSecurityObject),
        reinterpret_cast<const void*>(&RtlInitUnicodeString),
        reinterpret_cast<const void*>(&RtlInitAnsiString),
        reinterpret_cast<const void*>(&RtlAnsiStringToUnicodeString),
        reinterpret_cast<const void*>(&RtlFreeUnicodeString),
        reinterpret_cast<const void*>(&RtlStringCbPrintfA),
        reinterpret_cast<const void*>(&RtlStringCbPrintfW),
        reinterpret_cast<const void*>(&RtlStringCbLengthA),
        reinterpret_cast<const void*>(&RtlStringCbLengthW),
        reinterpret_cast<const void*>(&RtlQueryRegistryValues),
        reinterpret_cast<const void*>(&RtlInitializeSid),
        reinterpret_cast<const void*>(&RtlSubAuthoritySid),
        reinterpret_cast<const void*>(&RtlLengthSid),
        reinterpret_cast<const void*>(&RtlCreateAcl),
        reinterpret_cast<const void*>(&RtlAddAccessAllowedAce),
        reinterpret_cast<const void*>(&RtlMapGenericMask),
        reinterpret_cast<const void*>(&RtlCreateSecurityDescriptor),
        reinterpret_cast<const void*>(&RtlSetDaclSecurityDescriptor),
        reinterpret_cast<const void*>(&RtlNtStatusToDosError),
        reinterpret_cast<const void*>(&DbgPrint),
    };
    (void)routines;

    // Inline routines and macros, used as the driver uses them.
    IRP irp{};
    IO_STACK_LOCATION stack{};
    irp.Tail.Overlay.CurrentStackLocation = &stack;
    IoMarkIrpPending(&irp);
    (void)IoGetCurrentIrpStackLocation(&irp)->Parameters.DeviceIoControl.InputBufferLength;
    KSPIN_LOCK lock;
    KeInitializeSpinLock(&lock);
    KIRQL old_irql;
    KeAcquireSpinLock(&lock, &old_irql);
    KeReleaseSpinLock(&lock, old_irql);
    MDL mdl{};
    (void)MmGetSystemAddressForMdlSafe(&mdl, NormalPagePriority);
    (void)MmGetMdlByteCount(&mdl);
    IoCompleteRequest(&irp, IO_NO_INCREMENT);
    ObDereferenceObject(&irp);
    UNICODE_STRING name;
    RtlInitUnicodeString(&name, WTEXT("\\Device\\orvik"));
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &name, OBJ_CASE_INSENSITIVE, nullptr, nullptr);
    LIST_ENTRY head;
    InitializeListHead(&head);
    if (!IsListEmpty(&head))
        (void)CONTAINING_RECORD(RemoveHeadList(&head), IRP, Tail.Overlay.ListEntry);
    (void)PsGetCurrentThread();
    IO_APC_ROUTINE* apc = nullptr;
    (void)apc;
    (void)NT_SUCCESS(STATUS_SUCCESS);
    RtlZeroMemory(&stack, sizeof stack);
    IO_STACK_LOCATION copy;
    RtlCopyMemory(&copy, &stack, sizeof stack);
    (void)copy;
}
