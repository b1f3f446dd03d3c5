// The security descriptors of objects: ZwSetSecurityObject and ZwQuerySecurityObject. Each
// object keeps its owner, group and DACL in self-relative form in its header. The callers here
// are in kernel mode, so a handle's granted access is not checked, as on Windows for a previous
// mode of kernel mode; nothing checks an open against a DACL either.
#include <cstring>
#include <mutex>

#include "base/byte_access.h"
#include "platform/core/trace.h"
#include "platform/ntoskrnl/not_implemented.h"
#include "platform/ntoskrnl/ob/handles.h"
#include "platform/ntoskrnl/ob/header.h"
#include "platform/ntoskrnl/rtl/security_descriptor.h"

namespace ntoskrnl::ob {
namespace {

namespace sd = ntoskrnl::security;

constexpr uint16_t kDaclControl = SE_DACL_PRESENT | SE_DACL_DEFAULTED |
                                  sd::kDaclAutoInheritRequired | sd::kDaclAutoInherited |
                                  SE_DACL_PROTECTED;

std::mutex& security_lock() {
    static std::mutex* instance = new std::mutex;
    return *instance;
}

// A caller's descriptor, absolute or self-relative; false when it is not one. A DACL present but
// null stays so: SE_DACL_PRESENT without a DACL.
bool read_descriptor(PSECURITY_DESCRIPTOR descriptor, sd::Descriptor* out) {
    const auto* p = static_cast<const uint8_t*>(descriptor);
    if (!p || p[0] != SECURITY_DESCRIPTOR_REVISION) return false;
    if (bytes::load_le16(p + sd::kDescriptorControlOffset) & SE_SELF_RELATIVE)
        return sd::decode(p, out);
    const auto* absolute = static_cast<const SECURITY_DESCRIPTOR*>(descriptor);
    out->control = absolute->Control;
    size_t size = 0;
    if (absolute->Owner &&
        !(out->has_owner = sd::decode_sid(static_cast<const uint8_t*>(absolute->Owner),
                                          sd::kMaxSidSize, &out->owner, &size)))
        return false;
    if (absolute->Group &&
        !(out->has_group = sd::decode_sid(static_cast<const uint8_t*>(absolute->Group),
                                          sd::kMaxSidSize, &out->group, &size)))
        return false;
    if ((absolute->Control & SE_DACL_PRESENT) && absolute->Dacl) {
        out->has_dacl = true;
        return sd::decode_acl(reinterpret_cast<const uint8_t*>(absolute->Dacl), 0xFFFF, &out->dacl);
    }
    return true;
}

// The object's descriptor as kept; empty parts when it has none.
sd::Descriptor stored_descriptor(const void* body) {
    sd::Descriptor d;
    const std::vector<uint8_t>& stored = header_of(body)->security;
    if (!stored.empty()) sd::decode(stored.data(), &d);
    return d;
}

}  // namespace

std::vector<uint8_t> security_descriptor(const void* body) {
    std::lock_guard guard(security_lock());
    return header_of(body)->security;
}

}  // namespace ntoskrnl::ob

using namespace ntoskrnl;
namespace sd = ntoskrnl::security;

extern "C" NTSTATUS NTAPI ZwSetSecurityObject(HANDLE Handle,
                                              SECURITY_INFORMATION SecurityInformation,
                                              PSECURITY_DESCRIPTOR SecurityDescriptor) {
    sd::Descriptor given;
    const bool valid = ob::read_descriptor(SecurityDescriptor, &given);
    TRACE("ntoskrnl", "ZwSetSecurityObject(%p, %#x, \"%s\")", Handle, SecurityInformation,
          valid ? sd::sddl_text(given).c_str() : "(not a descriptor)");
    if (SecurityInformation & SACL_SECURITY_INFORMATION)
        not_implemented("ZwSetSecurityObject of a SACL");
    NTSTATUS status;
    void* body = ob::reference_handle(Handle, nullptr, &status);
    if (!body) return status;
    if (!valid) {
        ob::dereference(body);
        return STATUS_INVALID_SECURITY_DESCR;
    }
    {
        std::lock_guard guard(ob::security_lock());
        sd::Descriptor d = ob::stored_descriptor(body);
        if (SecurityInformation & OWNER_SECURITY_INFORMATION) {
            d.has_owner = given.has_owner;
            d.owner = given.owner;
        }
        if (SecurityInformation & GROUP_SECURITY_INFORMATION) {
            d.has_group = given.has_group;
            d.group = given.group;
        }
        if (SecurityInformation & DACL_SECURITY_INFORMATION) {
            d.has_dacl = given.has_dacl;
            d.dacl = given.dacl;
            d.control = (d.control & ~ob::kDaclControl) | (given.control & ob::kDaclControl);
        }
        ob::header_of(body)->security = sd::encode(d);
    }
    ob::dereference(body);
    return STATUS_SUCCESS;
}

extern "C" NTSTATUS NTAPI ZwQuerySecurityObject(HANDLE Handle,
                                                SECURITY_INFORMATION SecurityInformation,
                                                PSECURITY_DESCRIPTOR SecurityDescriptor,
                                                ULONG Length, PULONG LengthNeeded) {
    TRACE("ntoskrnl", "ZwQuerySecurityObject(%p, %#x, %p, %u)", Handle, SecurityInformation,
          SecurityDescriptor, Length);
    NTSTATUS status;
    void* body = ob::reference_handle(Handle, nullptr, &status);
    if (!body) return status;
    sd::Descriptor d;
    {
        std::lock_guard guard(ob::security_lock());
        d = ob::stored_descriptor(body);
    }
    ob::dereference(body);
    if (!(SecurityInformation & OWNER_SECURITY_INFORMATION)) d.has_owner = false;
    if (!(SecurityInformation & GROUP_SECURITY_INFORMATION)) d.has_group = false;
    if (!(SecurityInformation & DACL_SECURITY_INFORMATION)) {
        d.has_dacl = false;
        d.control &= ~ob::kDaclControl;
    }
    const sd::Bytes bytes = sd::encode(d);
    *LengthNeeded = static_cast<ULONG>(bytes.size());
    if (Length < bytes.size()) return STATUS_BUFFER_TOO_SMALL;
    std::memcpy(SecurityDescriptor, bytes.data(), bytes.size());
    return STATUS_SUCCESS;
}
