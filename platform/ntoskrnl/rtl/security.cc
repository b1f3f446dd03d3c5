// The run-time library's security routines on the caller's memory: SIDs, ACLs of allow entries,
// the generic mapping, and absolute security descriptors. SIDs and ACLs are byte records, read and
// written at the offsets of platform/ntoskrnl/rtl/security_descriptor.h.
#include <cstring>

#include "base/byte_access.h"
#include "platform/core/trace.h"
#include "platform/ntoskrnl/rtl/security_descriptor.h"
#include "platform/wdm.h"

namespace {

namespace sd = ntoskrnl::security;

PUCHAR bytes_of(PVOID p) {
    return static_cast<PUCHAR>(p);
}

bool valid_sid(PSID sid) {
    const UCHAR* p = bytes_of(sid);
    return p && p[0] == SID_REVISION && p[sd::kSidCountOffset] <= SID_MAX_SUB_AUTHORITIES;
}

ULONG sid_length(PSID sid) {
    return static_cast<ULONG>(sd::kSidHeaderSize + 4 * bytes_of(sid)[sd::kSidCountOffset]);
}

bool acl_revision_known(ULONG revision) {
    return revision >= ACL_REVISION && revision <= sd::kAclRevisionDs;
}

}  // namespace

extern "C" NTSTATUS NTAPI RtlInitializeSid(PSID Sid, PSID_IDENTIFIER_AUTHORITY IdentifierAuthority,
                                           UCHAR SubAuthorityCount) {
    TRACE("ntoskrnl", "RtlInitializeSid(%p, %p, %u)", Sid, static_cast<void*>(IdentifierAuthority),
          SubAuthorityCount);
    if (SubAuthorityCount > SID_MAX_SUB_AUTHORITIES) return STATUS_INVALID_PARAMETER;
    PUCHAR p = bytes_of(Sid);
    p[0] = SID_REVISION;
    p[sd::kSidCountOffset] = SubAuthorityCount;
    std::memcpy(p + sd::kSidAuthorityOffset, IdentifierAuthority->Value, sd::kSidAuthoritySize);
    return STATUS_SUCCESS;
}

extern "C" PULONG NTAPI RtlSubAuthoritySid(PSID Sid, ULONG SubAuthority) {
    return reinterpret_cast<PULONG>(bytes_of(Sid) + sd::kSidHeaderSize + 4 * SubAuthority);
}

extern "C" ULONG NTAPI RtlLengthSid(PSID Sid) {
    return sid_length(Sid);
}

extern "C" NTSTATUS NTAPI RtlCreateAcl(PACL Acl, ULONG AclLength, ULONG AclRevision) {
    TRACE("ntoskrnl", "RtlCreateAcl(%p, %u, %u)", static_cast<void*>(Acl), AclLength, AclRevision);
    if (AclLength < sd::kAclHeaderSize) return STATUS_BUFFER_TOO_SMALL;
    if (!acl_revision_known(AclRevision) || AclLength > 0xFFFF) return STATUS_INVALID_PARAMETER;
    PUCHAR p = bytes_of(Acl);
    std::memset(p, 0, sd::kAclHeaderSize);
    p[0] = static_cast<UCHAR>(AclRevision);
    bytes::store_le16(p + sd::kAclSizeOffset, static_cast<uint16_t>(AclLength));
    return STATUS_SUCCESS;
}

extern "C" NTSTATUS NTAPI RtlAddAccessAllowedAce(PACL Acl, ULONG AceRevision,
                                                 ACCESS_MASK AccessMask, PSID Sid) {
    TRACE("ntoskrnl", "RtlAddAccessAllowedAce(%p, %u, %#x, %p)", static_cast<void*>(Acl),
          AceRevision, AccessMask, Sid);
    PUCHAR p = bytes_of(Acl);
    if (!acl_revision_known(p[0])) return STATUS_INVALID_ACL;
    if (!valid_sid(Sid)) return STATUS_INVALID_SID;
    if (AceRevision < ACL_REVISION || AceRevision > p[0]) return STATUS_REVISION_MISMATCH;
    const size_t size = bytes::load_le16(p + sd::kAclSizeOffset);
    const uint16_t count = bytes::load_le16(p + sd::kAclCountOffset);
    size_t end = sd::kAclHeaderSize;
    for (uint16_t i = 0; i < count; ++i) {
        if (end + sd::kAceHeaderSize > size) return STATUS_INVALID_ACL;
        const size_t ace_size = bytes::load_le16(p + end + sd::kAceSizeOffset);
        if (ace_size < sd::kAceHeaderSize) return STATUS_INVALID_ACL;
        end += ace_size;
    }
    const size_t ace_size = sd::kAceHeaderSize + sid_length(Sid);
    if (end + ace_size > size) return STATUS_ALLOTTED_SPACE_EXCEEDED;
    PUCHAR ace = p + end;
    ace[sd::kAceTypeOffset] = ACCESS_ALLOWED_ACE_TYPE;
    ace[sd::kAceFlagsOffset] = 0;
    bytes::store_le16(ace + sd::kAceSizeOffset, static_cast<uint16_t>(ace_size));
    bytes::store_le32(ace + sd::kAceMaskOffset, AccessMask);
    std::memcpy(ace + sd::kAceHeaderSize, Sid, sid_length(Sid));
    bytes::store_le16(p + sd::kAclCountOffset, static_cast<uint16_t>(count + 1));
    return STATUS_SUCCESS;
}

extern "C" VOID NTAPI RtlMapGenericMask(PACCESS_MASK AccessMask, PGENERIC_MAPPING GenericMapping) {
    const ACCESS_MASK generic = *AccessMask;
    ACCESS_MASK mapped = generic & ~(GENERIC_READ | GENERIC_WRITE | GENERIC_EXECUTE | GENERIC_ALL);
    if (generic & GENERIC_READ) mapped |= GenericMapping->GenericRead;
    if (generic & GENERIC_WRITE) mapped |= GenericMapping->GenericWrite;
    if (generic & GENERIC_EXECUTE) mapped |= GenericMapping->GenericExecute;
    if (generic & GENERIC_ALL) mapped |= GenericMapping->GenericAll;
    *AccessMask = mapped;
}

extern "C" NTSTATUS NTAPI RtlCreateSecurityDescriptor(PSECURITY_DESCRIPTOR SecurityDescriptor,
                                                      ULONG Revision) {
    if (Revision != SECURITY_DESCRIPTOR_REVISION) return STATUS_UNKNOWN_REVISION;
    auto* descriptor = static_cast<PISECURITY_DESCRIPTOR>(SecurityDescriptor);
    *descriptor = SECURITY_DESCRIPTOR{};
    descriptor->Revision = SECURITY_DESCRIPTOR_REVISION;
    return STATUS_SUCCESS;
}

extern "C" NTSTATUS NTAPI RtlSetDaclSecurityDescriptor(PSECURITY_DESCRIPTOR SecurityDescriptor,
                                                       BOOLEAN DaclPresent, PACL Dacl,
                                                       BOOLEAN DaclDefaulted) {
    auto* descriptor = static_cast<PISECURITY_DESCRIPTOR>(SecurityDescriptor);
    if (descriptor->Revision != SECURITY_DESCRIPTOR_REVISION) return STATUS_UNKNOWN_REVISION;
    if (descriptor->Control & SE_SELF_RELATIVE) return STATUS_INVALID_SECURITY_DESCR;
    if (!DaclPresent) {
        descriptor->Control &= ~SE_DACL_PRESENT;
        return STATUS_SUCCESS;
    }
    descriptor->Control |= SE_DACL_PRESENT;
    descriptor->Dacl = Dacl;
    if (DaclDefaulted)
        descriptor->Control |= SE_DACL_DEFAULTED;
    else
        descriptor->Control &= ~SE_DACL_DEFAULTED;
    return STATUS_SUCCESS;
}
