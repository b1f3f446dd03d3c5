// Security descriptors in kernel mode as Windows documents them: the run-time library's SID, ACL
// and descriptor routines, an object's descriptor set and read back through a handle
// (ZwSetSecurityObject, ZwQuerySecurityObject), and the driver kit's IoCreateDeviceSecure
// (platform/wdmlib) giving a device exactly the DACL its SDDL names.
#include <cstring>
#include <vector>

#include "platform/win32.h"
#include "tests/kernel/kernel_test.h"

namespace {

// The self-relative descriptor of the object behind handle with the parts that information names,
// as the test controls write it.
std::string queried(HANDLE handle, SECURITY_INFORMATION information) {
    ULONG needed = 0;
    EXPECT_EQ(ZwQuerySecurityObject(handle, information, nullptr, 0, &needed),
              STATUS_BUFFER_TOO_SMALL);
    std::vector<uint8_t> descriptor(needed);
    EXPECT_EQ(ZwQuerySecurityObject(handle, information, descriptor.data(), needed, &needed),
              STATUS_SUCCESS);
    return sim::kernel::security_descriptor_text(descriptor.data());
}

HANDLE open_object(PVOID object, ACCESS_MASK access) {
    HANDLE handle = nullptr;
    EXPECT_EQ(ObOpenObjectByPointer(object, OBJ_KERNEL_HANDLE, nullptr, access, nullptr, KernelMode,
                                    &handle),
              STATUS_SUCCESS);
    return handle;
}

struct SddlCase {
    const char16_t* sddl;
    const char* dacl;  // generic rights mapped as for files
};

class DeviceSddl : public TestDriver, public ::testing::WithParamInterface<SddlCase> {};

TEST_P(DeviceSddl, IoCreateDeviceSecureGivesTheDeviceExactlyItsDacl) {
    KernelString name(u"\\Device\\KtSecurity"), sddl(GetParam().sddl);
    PDEVICE_OBJECT device = nullptr;
    ASSERT_EQ(IoCreateDeviceSecure(driver_, 0, name.get(), FILE_DEVICE_DISK, 0, FALSE, sddl.get(),
                                   nullptr, &device),
              STATUS_SUCCESS);
    const size_t handles = sim::kernel::kernel_handles();
    HANDLE handle = open_object(device, READ_CONTROL);
    EXPECT_EQ(queried(handle, DACL_SECURITY_INFORMATION), GetParam().dacl);
    EXPECT_EQ(queried(handle, OWNER_SECURITY_INFORMATION), "");
    EXPECT_EQ(ZwClose(handle), STATUS_SUCCESS);
    EXPECT_EQ(sim::kernel::kernel_handles(), handles);  // its own handle closed again
    const auto devices = sim::kernel::driver_devices("KernelTest");
    ASSERT_EQ(devices.size(), 1u);
    EXPECT_EQ(devices[0].security, GetParam().dacl);
    IoDeleteDevice(device);
}

INSTANTIATE_TEST_SUITE_P(
    Security, DeviceSddl,
    ::testing::Values(SddlCase{u"D:P(A;;GA;;;SY)(A;;GA;;;BA)(A;;GA;;;BU)",
                               "D:P(A;;0x1f01ff;;;S-1-5-18)(A;;0x1f01ff;;;S-1-5-32-544)"
                               "(A;;0x1f01ff;;;S-1-5-32-545)"},
                      SddlCase{u"D:P(A;;GR;;;WD)(A;;GRGW;;;AU)(A;;GX;;;RC)",
                               "D:P(A;;0x120089;;;S-1-1-0)(A;;0x12019f;;;S-1-5-11)"
                               "(A;;0x1200a0;;;S-1-5-12)"}));

TEST_F(TestDriver, IoCreateDeviceSecureRefusesWhatIsNotADeviceSddl) {
    for (const char16_t* text : {u"D:(A;;GA;;;SY)", u"D:P", u"D:P(A;;GA;;;XX)", u"O:SYD:P"}) {
        KernelString name(u"\\Device\\KtSecurity"), sddl(text);
        PDEVICE_OBJECT device = nullptr;
        EXPECT_EQ(IoCreateDeviceSecure(driver_, 0, name.get(), FILE_DEVICE_DISK, 0, FALSE,
                                       sddl.get(), nullptr, &device),
                  STATUS_INVALID_PARAMETER);
    }
    EXPECT_TRUE(sim::kernel::driver_devices("KernelTest").empty());
}

// IoCreateDeviceSecure comes with the driver, from the driver kit's library; what it calls, the
// kernel exports.
TEST(DeviceSecurity, IoCreateDeviceSecureIsNoKernelRoutine) {
    KernelString secure(u"IoCreateDeviceSecure");
    EXPECT_EQ(MmGetSystemRoutineAddress(secure.get()), nullptr);
    for (const char16_t* name : {u"ObOpenObjectByPointer", u"ZwSetSecurityObject",
                                 u"RtlInitializeSid", u"RtlAddAccessAllowedAce"}) {
        KernelString routine(name);
        EXPECT_NE(MmGetSystemRoutineAddress(routine.get()), nullptr);
    }
}

TEST(Sid, RtlInitializeSidLaysOutAWellKnownSid) {
    ULONG storage[4] = {};
    PSID sid = storage;
    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    ASSERT_EQ(RtlInitializeSid(sid, &nt, 2), STATUS_SUCCESS);
    *RtlSubAuthoritySid(sid, 0) = SECURITY_BUILTIN_DOMAIN_RID;
    *RtlSubAuthoritySid(sid, 1) = DOMAIN_ALIAS_RID_ADMINS;
    EXPECT_EQ(RtlLengthSid(sid), 16u);
    const uint8_t admins[16] = {1, 2, 0, 0, 0, 0, 0, 5, 0x20, 0, 0, 0, 0x20, 2, 0, 0};
    EXPECT_EQ(std::memcmp(storage, admins, sizeof admins), 0);
    EXPECT_EQ(RtlInitializeSid(sid, &nt, SID_MAX_SUB_AUTHORITIES + 1), STATUS_INVALID_PARAMETER);
}

TEST(Acl, RtlAddAccessAllowedAceFillsTheAclAndNoMore) {
    ULONG sid_storage[3] = {};
    PSID system = sid_storage;
    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    ASSERT_EQ(RtlInitializeSid(system, &nt, 1), STATUS_SUCCESS);
    *RtlSubAuthoritySid(system, 0) = SECURITY_LOCAL_SYSTEM_RID;
    const ULONG one_entry = sizeof(ACL) + sizeof(ACCESS_ALLOWED_ACE) - sizeof(ULONG) + 12;
    ULONG acl_storage[16] = {};
    auto* acl = reinterpret_cast<PACL>(acl_storage);

    EXPECT_EQ(RtlCreateAcl(acl, sizeof(ACL) - 1, ACL_REVISION), STATUS_BUFFER_TOO_SMALL);
    EXPECT_EQ(RtlCreateAcl(acl, one_entry, 3 * ACL_REVISION), STATUS_INVALID_PARAMETER);
    ASSERT_EQ(RtlCreateAcl(acl, one_entry, ACL_REVISION), STATUS_SUCCESS);
    EXPECT_EQ(RtlAddAccessAllowedAce(acl, ACL_REVISION + 2, FILE_ALL_ACCESS, system),
              STATUS_REVISION_MISMATCH);
    ULONG not_a_sid = 0x0102;  // revision 2
    EXPECT_EQ(RtlAddAccessAllowedAce(acl, ACL_REVISION, FILE_ALL_ACCESS, &not_a_sid),
              STATUS_INVALID_SID);
    ASSERT_EQ(RtlAddAccessAllowedAce(acl, ACL_REVISION, FILE_ALL_ACCESS, system), STATUS_SUCCESS);
    EXPECT_EQ(RtlAddAccessAllowedAce(acl, ACL_REVISION, FILE_ALL_ACCESS, system),
              STATUS_ALLOTTED_SPACE_EXCEEDED);
    // revision 2, size, one entry: type 0, flags 0, size 20, the mask, the SID.
    const uint8_t expected[28] = {2,    0, 28, 0, 1, 0, 0, 0, 0, 0, 20, 0, 0xFF, 0x01,
                                  0x1F, 0, 1,  1, 0, 0, 0, 0, 0, 5, 18, 0, 0,    0};
    ASSERT_EQ(one_entry, sizeof expected);
    EXPECT_EQ(std::memcmp(acl_storage, expected, sizeof expected), 0);
}

TEST(Acl, RtlMapGenericMaskReplacesEachGenericRight) {
    GENERIC_MAPPING mapping = {0x1, 0x2, 0x4, 0x8};
    ACCESS_MASK mask = GENERIC_READ | GENERIC_EXECUTE | DELETE;
    RtlMapGenericMask(&mask, &mapping);
    EXPECT_EQ(mask, ACCESS_MASK{0x1 | 0x4 | DELETE});
    mask = GENERIC_ALL | GENERIC_WRITE;
    RtlMapGenericMask(&mask, &mapping);
    EXPECT_EQ(mask, ACCESS_MASK{0x2 | 0x8});
}

// An object's descriptor through a handle: the parts named are replaced, the others kept.
TEST(ObjectSecurity, SetReplacesTheNamedPartsAndQueryReturnsThem) {
    Attributes name(u"\\KtSecurityDirectory");
    HANDLE directory = nullptr;
    ASSERT_EQ(ZwCreateDirectoryObject(&directory, DIRECTORY_ALL_ACCESS, name.get()),
              STATUS_SUCCESS);
    EXPECT_EQ(queried(directory, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION), "");

    // A self-relative descriptor from SDDL, owner and DACL set.
    PSECURITY_DESCRIPTOR text_descriptor = nullptr;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorA(
        "O:BAD:P(A;;FA;;;SY)(D;;FW;;;WD)", SDDL_REVISION_1, &text_descriptor, nullptr));
    EXPECT_EQ(ZwSetSecurityObject(directory, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                  text_descriptor),
              STATUS_SUCCESS);
    LocalFree(text_descriptor);
    EXPECT_EQ(queried(directory, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION),
              "O:S-1-5-32-544D:P(A;;0x1f01ff;;;S-1-5-18)(D;;0x120116;;;S-1-1-0)");

    // An absolute descriptor with a null DACL, for the DACL alone: the owner stays.
    SECURITY_DESCRIPTOR absolute;
    ASSERT_EQ(RtlCreateSecurityDescriptor(&absolute, SECURITY_DESCRIPTOR_REVISION + 1),
              STATUS_UNKNOWN_REVISION);
    ASSERT_EQ(RtlCreateSecurityDescriptor(&absolute, SECURITY_DESCRIPTOR_REVISION), STATUS_SUCCESS);
    ASSERT_EQ(RtlSetDaclSecurityDescriptor(&absolute, TRUE, nullptr, FALSE), STATUS_SUCCESS);
    EXPECT_EQ(ZwSetSecurityObject(directory, DACL_SECURITY_INFORMATION, &absolute), STATUS_SUCCESS);
    EXPECT_EQ(queried(directory, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION),
              "O:S-1-5-32-544D:NO_ACCESS_CONTROL");
    EXPECT_EQ(queried(directory, DACL_SECURITY_INFORMATION), "D:NO_ACCESS_CONTROL");

    absolute.Revision = 2;
    EXPECT_EQ(ZwSetSecurityObject(directory, DACL_SECURITY_INFORMATION, &absolute),
              STATUS_INVALID_SECURITY_DESCR);
    EXPECT_EQ(ZwClose(directory), STATUS_SUCCESS);
}

}  // namespace
