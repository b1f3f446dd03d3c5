// IoCreateDeviceSecure: a routine of the driver kit's library, not of the kernel, which the drivers
// of both builds link (the cross toolchain declares it, as WdmlibIoCreateDeviceSecure, but has no
// library with it). The device is created with IoCreateDevice and given a protected DACL built
// from the SDDL's allow entries. Only routines that every kernel the driver meets exports are
// called: the SIDs are built here (no SeExports), the file object's generic mapping is written out
// (no IoGetFileObjectGenericMapping) and the DACL is set through a handle to the device (no
// ObSetSecurityObjectByPointer); Wine's kernel lacks the three.
#include "platform/wdm.h"
#include "platform/wdmlib/device_sddl.h"

namespace {

constexpr ULONG kPoolTag = 'W' | 'd' << 8 | 'm' << 16 | 'l' << 24;  // "Wdml"

// A well-known SID: its identifier authority and its one or two sub-authorities.
struct SidValue {
    UCHAR authority;
    UCHAR count;
    ULONG sub[2];
};

constexpr SidValue sid_value(wdmlib::WellKnownSid sid) {
    switch (sid) {
        case wdmlib::WellKnownSid::LocalSystem:  // S-1-5-18
            return {5, 1, {SECURITY_LOCAL_SYSTEM_RID, 0}};
        case wdmlib::WellKnownSid::Administrators:  // S-1-5-32-544
            return {5, 2, {SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS}};
        case wdmlib::WellKnownSid::Users:  // S-1-5-32-545
            return {5, 2, {SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_USERS}};
        case wdmlib::WellKnownSid::World:  // S-1-1-0
            return {1, 1, {SECURITY_WORLD_RID, 0}};
        case wdmlib::WellKnownSid::AuthenticatedUsers:  // S-1-5-11
            return {5, 1, {SECURITY_AUTHENTICATED_USER_RID, 0}};
        case wdmlib::WellKnownSid::Restricted:  // S-1-5-12
            return {5, 1, {SECURITY_RESTRICTED_CODE_RID, 0}};
    }
    return {};
}

// Room for a SID of two sub-authorities, aligned for them.
struct SidBuffer {
    ULONG words[4];
};

NTSTATUS build_sid(wdmlib::WellKnownSid which, SidBuffer* buffer) {
    const SidValue value = sid_value(which);
    SID_IDENTIFIER_AUTHORITY authority = {{0, 0, 0, 0, 0, value.authority}};
    PSID sid = buffer->words;
    const NTSTATUS status = RtlInitializeSid(sid, &authority, value.count);
    for (UCHAR i = 0; NT_SUCCESS(status) && i < value.count; ++i)
        *RtlSubAuthoritySid(sid, i) = value.sub[i];
    return status;
}

// The generic rights of a file object (and so of a device's), as documented.
GENERIC_MAPPING file_generic_mapping() {
    return {FILE_GENERIC_READ, FILE_GENERIC_WRITE, FILE_GENERIC_EXECUTE, FILE_ALL_ACCESS};
}

// The DACL of the SDDL's entries, their generic rights mapped, in pool (*acl).
NTSTATUS build_dacl(const wdmlib::DeviceSddl& sddl, PACL* acl) {
    SidBuffer sids[wdmlib::kMaxSddlAces];
    ULONG acl_size = sizeof(ACL);
    for (int i = 0; i < sddl.count; ++i) {
        const NTSTATUS status = build_sid(sddl.aces[i].sid, &sids[i]);
        if (!NT_SUCCESS(status)) return status;
        acl_size += sizeof(ACCESS_ALLOWED_ACE) - sizeof(ULONG) + RtlLengthSid(sids[i].words);
    }
    *acl = static_cast<PACL>(ExAllocatePoolWithTag(NonPagedPool, acl_size, kPoolTag));
    if (!*acl) return STATUS_INSUFFICIENT_RESOURCES;
    GENERIC_MAPPING mapping = file_generic_mapping();
    NTSTATUS status = RtlCreateAcl(*acl, acl_size, ACL_REVISION);
    for (int i = 0; NT_SUCCESS(status) && i < sddl.count; ++i) {
        ACCESS_MASK rights = sddl.aces[i].rights;
        RtlMapGenericMask(&rights, &mapping);
        status = RtlAddAccessAllowedAce(*acl, ACL_REVISION, rights, sids[i].words);
    }
    if (!NT_SUCCESS(status)) {
        ExFreePoolWithTag(*acl, kPoolTag);
        *acl = nullptr;
    }
    return status;
}

// Sets the device's DACL to acl, protected from inheritance.
NTSTATUS set_dacl(PDEVICE_OBJECT device, PACL acl) {
    SECURITY_DESCRIPTOR descriptor;
    NTSTATUS status = RtlCreateSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION);
    if (NT_SUCCESS(status)) status = RtlSetDaclSecurityDescriptor(&descriptor, TRUE, acl, FALSE);
    // What RtlSetControlSecurityDescriptor does, which the toolchain's kernel import library lacks.
    descriptor.Control |= SE_DACL_PROTECTED;
    HANDLE handle = nullptr;
    if (NT_SUCCESS(status))
        status = ObOpenObjectByPointer(device, OBJ_KERNEL_HANDLE, nullptr, WRITE_DAC, nullptr,
                                       KernelMode, &handle);
    if (!NT_SUCCESS(status)) return status;
    status = ZwSetSecurityObject(handle, DACL_SECURITY_INFORMATION, &descriptor);
    ZwClose(handle);
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
    PACL acl = nullptr;
    NTSTATUS status = build_dacl(sddl, &acl);
    if (!NT_SUCCESS(status)) return status;
    status = IoCreateDevice(DriverObject, DeviceExtensionSize, DeviceName, DeviceType,
                            DeviceCharacteristics, Exclusive, DeviceObject);
    if (NT_SUCCESS(status)) {
        status = set_dacl(*DeviceObject, acl);
        if (!NT_SUCCESS(status)) {
            IoDeleteDevice(*DeviceObject);
            *DeviceObject = nullptr;
        }
    }
    ExFreePoolWithTag(acl, kPoolTag);
    return status;
}
