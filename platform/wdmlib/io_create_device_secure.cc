// IoCreateDeviceSecure for the Windows build: the cross toolchain declares it (as
// WdmlibIoCreateDeviceSecure) but has no library with it. The device is created with
// IoCreateDevice and given a protected DACL built from the SDDL's allow entries.
#include "platform/wdm.h"
#include "platform/wdmlib/device_sddl.h"

// Exported by the kernel, not declared by the toolchain's headers.
extern "C" NTSYSAPI NTSTATUS NTAPI
ObSetSecurityObjectByPointer(PVOID Object, SECURITY_INFORMATION SecurityInformation,
                             PSECURITY_DESCRIPTOR SecurityDescriptor);

namespace {

constexpr ULONG kPoolTag = 'W' | 'd' << 8 | 'm' << 16 | 'l' << 24;  // "Wdml"

PSID well_known_sid(wdmlib::WellKnownSid sid) {
    switch (sid) {
        case wdmlib::WellKnownSid::LocalSystem:
            return SeExports->SeLocalSystemSid;
        case wdmlib::WellKnownSid::Administrators:
            return SeExports->SeAliasAdminsSid;
        case wdmlib::WellKnownSid::Users:
            return SeExports->SeAliasUsersSid;
        case wdmlib::WellKnownSid::World:
            return SeExports->SeWorldSid;
        case wdmlib::WellKnownSid::AuthenticatedUsers:
            return SeExports->SeAuthenticatedUsersSid;
        case wdmlib::WellKnownSid::Restricted:
            return SeExports->SeRestrictedSid;
    }
    return nullptr;
}

NTSTATUS apply_dacl(PDEVICE_OBJECT device, const wdmlib::DeviceSddl& sddl) {
    ULONG acl_size = sizeof(ACL);
    for (int i = 0; i < sddl.count; ++i)
        acl_size += sizeof(ACCESS_ALLOWED_ACE) - sizeof(ULONG) +
                    RtlLengthSid(well_known_sid(sddl.aces[i].sid));
    auto* acl = static_cast<PACL>(ExAllocatePoolWithTag(NonPagedPool, acl_size, kPoolTag));
    if (!acl) return STATUS_INSUFFICIENT_RESOURCES;
    NTSTATUS status = RtlCreateAcl(acl, acl_size, ACL_REVISION);
    for (int i = 0; NT_SUCCESS(status) && i < sddl.count; ++i) {
        ACCESS_MASK rights = sddl.aces[i].rights;
        RtlMapGenericMask(&rights, IoGetFileObjectGenericMapping());
        status =
            RtlAddAccessAllowedAce(acl, ACL_REVISION, rights, well_known_sid(sddl.aces[i].sid));
    }
    ULONG64 descriptor[8] = {};  // an absolute security descriptor
    if (NT_SUCCESS(status))
        status = RtlCreateSecurityDescriptor(descriptor, SECURITY_DESCRIPTOR_REVISION);
    if (NT_SUCCESS(status)) status = RtlSetDaclSecurityDescriptor(descriptor, TRUE, acl, FALSE);
    if (NT_SUCCESS(status))
        status = ObSetSecurityObjectByPointer(
            device, DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION, descriptor);
    ExFreePoolWithTag(acl, kPoolTag);
    return status;
}

}  // namespace

extern "C" NTSTATUS WdmlibIoCreateDeviceSecure(
    PDRIVER_OBJECT DriverObject, ULONG DeviceExtensionSize, PUNICODE_STRING DeviceName,
    DEVICE_TYPE DeviceType, ULONG DeviceCharacteristics, BOOLEAN Exclusive,
    PCUNICODE_STRING DefaultSDDLString, LPCGUID DeviceClassGuid, PDEVICE_OBJECT* DeviceObject) {
    UNREFERENCED_PARAMETER(DeviceClassGuid);
    wdmlib::DeviceSddl sddl;
    if (!DefaultSDDLString || !DefaultSDDLString->Buffer ||
        !wdmlib::parse_device_sddl(DefaultSDDLString->Buffer,
                                   DefaultSDDLString->Length / sizeof(WCHAR), &sddl))
        return STATUS_INVALID_PARAMETER;
    NTSTATUS status = IoCreateDevice(DriverObject, DeviceExtensionSize, DeviceName, DeviceType,
                                     DeviceCharacteristics, Exclusive, DeviceObject);
    if (!NT_SUCCESS(status)) return status;
    status = apply_dacl(*DeviceObject, sddl);
    if (!NT_SUCCESS(status)) {
        IoDeleteDevice(*DeviceObject);
        *DeviceObject = nullptr;
    }
    return status;
}
