// Tokens and the security descriptors of host files (platform/api/security.h,
// platform/advapi32/security.h); the binary form is platform/ntoskrnl/rtl/security_descriptor.h's,
// the text form sddl.h's.
#include "platform/advapi32/security.h"

#include <cstring>
#include <string>
#include <vector>

#include "platform/advapi32/sddl.h"
#include "platform/core/object.h"
#include "platform/core/trace.h"
#include "platform/kernel32/names.h"
#include "platform/ntdll/ntstatus.h"
#include "platform/ntdll/unix_file.h"
#include "platform/ntdll/unix_name.h"
#include "platform/ntdll/unix_process.h"
#include "platform/ntoskrnl/rtl/security_descriptor.h"
#include "platform/win32.h"

namespace platform {

using namespace security;

namespace {

Sid host_user(uint32_t uid) {
    return sid(22, {1, uid});
}
Sid host_group(uint32_t gid) {
    return sid(22, {2, gid});
}

// Read, write and execute (4, 2, 1) in an access mask.
uint32_t permission_bits(uint32_t mask) {
    uint32_t bits = 0;
    if (mask & (FILE_READ_DATA | GENERIC_READ | GENERIC_ALL)) bits |= 4;
    if (mask & (FILE_WRITE_DATA | FILE_APPEND_DATA | GENERIC_WRITE | GENERIC_ALL)) bits |= 2;
    if (mask & (FILE_EXECUTE | GENERIC_EXECUTE | GENERIC_ALL)) bits |= 1;
    return bits;
}

uint32_t access_mask(uint32_t bits) {
    uint32_t mask = 0;
    if (bits & 4) mask |= FILE_GENERIC_READ;
    if (bits & 2) mask |= FILE_GENERIC_WRITE | DELETE;
    if (bits & 1) mask |= FILE_GENERIC_EXECUTE;
    return mask;
}

Descriptor host_descriptor(const unix_file::Status& status, SECURITY_INFORMATION requested) {
    Descriptor d;
    d.has_owner = (requested & OWNER_SECURITY_INFORMATION) != 0;
    d.has_group = (requested & GROUP_SECURITY_INFORMATION) != 0;
    d.has_dacl = (requested & DACL_SECURITY_INFORMATION) != 0;
    d.owner = host_user(status.owner);
    d.group = host_group(status.group);
    if (!d.has_dacl) return d;
    const std::pair<Sid, uint32_t> classes[] = {{d.owner, status.permissions >> 6 & 7},
                                                {d.group, status.permissions >> 3 & 7},
                                                {kEveryone, status.permissions & 7}};
    for (const auto& [who, bits] : classes)
        if (bits) d.dacl.push_back({kAccessAllowed, 0, access_mask(bits), who});
    return d;
}

// A LocalAlloc copy of bytes.
void* local_copy(const void* bytes, size_t size) {
    void* block = LocalAlloc(LMEM_FIXED, size);
    if (block) std::memcpy(block, bytes, size);
    return block;
}

class Token : public Object {};

BOOL fail(DWORD error) {
    SetLastError(error);
    return FALSE;
}

}  // namespace

bool file_permissions_from_descriptor(const void* descriptor, int* permissions) {
    Descriptor d;
    if (!descriptor || !decode(static_cast<const uint8_t*>(descriptor), &d)) return false;
    *permissions = -1;
    if (!d.has_dacl) return true;
    const Sid user = host_user(unix_process::user_id());
    const Sid group = host_group(unix_process::group_id());
    uint32_t allowed[3] = {}, denied[3] = {};  // owner, group, others
    for (const Ace& ace : d.dacl) {
        uint32_t* to = ace.type == kAccessAllowed ? allowed : denied;
        const uint32_t bits = permission_bits(ace.mask);
        if (ace.who == user || ace.who == kOwnerRights || ace.who == kCreatorOwner) {
            to[0] |= bits;
        } else if (ace.who == group) {
            to[1] |= bits;
        } else if (ace.who == kEveryone) {
            for (int c = 0; c < 3; ++c) to[c] |= bits;
        } else {
            TRACE("advapi32", "an ACE for %s cannot be kept", sid_string(ace.who).c_str());
        }
    }
    *permissions = 0;
    for (int c = 0; c < 3; ++c)
        *permissions |= static_cast<int>((allowed[c] & ~denied[c]) << (6 - 3 * c));
    return true;
}

}  // namespace platform

using namespace platform;

extern "C" BOOL WINAPI OpenProcessToken(HANDLE process, DWORD access, PHANDLE token) {
    TRACE("advapi32", "OpenProcessToken(%p, %#x, %p)", process, access, static_cast<void*>(token));
    if (!token) return fail(ERROR_INVALID_PARAMETER);
    if (process != GetCurrentProcess()) return fail(ERROR_INVALID_HANDLE);
    *token = handle_insert(std::make_shared<Token>());
    return TRUE;
}

extern "C" BOOL WINAPI GetTokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS information_class,
                                           LPVOID information, DWORD length, PDWORD returned) {
    TRACE("advapi32", "GetTokenInformation(%p, %d, %p, %u, %p)", token,
          static_cast<int>(information_class), information, length, static_cast<void*>(returned));
    if (!handle_get<Token>(token)) return FALSE;
    if (!returned) return fail(ERROR_INVALID_PARAMETER);
    if (information_class != TokenUser) {
        TRACE("advapi32", "token information class %d is not provided",
              static_cast<int>(information_class));
        return fail(ERROR_INVALID_PARAMETER);
    }
    const Bytes user = encode_sid(host_user(unix_process::user_id()));
    const DWORD needed = static_cast<DWORD>(sizeof(TOKEN_USER) + user.size());
    *returned = needed;
    if (!information || length < needed) return fail(ERROR_INSUFFICIENT_BUFFER);
    auto* out = static_cast<uint8_t*>(information);
    std::memcpy(out + sizeof(TOKEN_USER), user.data(), user.size());
    TOKEN_USER header = {{out + sizeof(TOKEN_USER), 0}};
    std::memcpy(out, &header, sizeof header);
    return TRUE;
}

extern "C" BOOL WINAPI ConvertSidToStringSidA(PSID sid, LPSTR* string) {
    TRACE("advapi32", "ConvertSidToStringSidA(%p, %p)", sid, static_cast<void*>(string));
    Sid value;
    size_t size = 0;
    if (!sid || !string) return fail(ERROR_INVALID_PARAMETER);
    if (!decode_sid(static_cast<const uint8_t*>(sid), kMaxSidSize, &value, &size))
        return fail(ERROR_INVALID_SID);
    const std::string text = sid_string(value);
    *string = static_cast<LPSTR>(local_copy(text.c_str(), text.size() + 1));
    return *string ? TRUE : FALSE;
}

extern "C" BOOL WINAPI ConvertStringSecurityDescriptorToSecurityDescriptorA(
    LPCSTR string, DWORD revision, PSECURITY_DESCRIPTOR* descriptor, PULONG size) {
    TRACE("advapi32", "ConvertStringSecurityDescriptorToSecurityDescriptorA(\"%s\", %u)",
          string ? string : "(null)", revision);
    if (!string || !descriptor) return fail(ERROR_INVALID_PARAMETER);
    if (revision != SDDL_REVISION_1) return fail(ERROR_UNKNOWN_REVISION);
    Descriptor d;
    if (!parse_sddl(string, &d)) return fail(ERROR_INVALID_PARAMETER);
    const Bytes bytes = encode(d);
    *descriptor = local_copy(bytes.data(), bytes.size());
    if (!*descriptor) return FALSE;
    if (size) *size = static_cast<ULONG>(bytes.size());
    return TRUE;
}

extern "C" BOOL WINAPI GetFileSecurityA(LPCSTR name, SECURITY_INFORMATION requested,
                                        PSECURITY_DESCRIPTOR descriptor, DWORD length,
                                        LPDWORD needed) {
    TRACE("advapi32", "GetFileSecurityA(\"%s\", %#x, %p, %u, %p)", name ? name : "(null)",
          requested, descriptor, length, static_cast<void*>(needed));
    if (!needed) return fail(ERROR_INVALID_PARAMETER);
    if (requested & SACL_SECURITY_INFORMATION) return fail(ERROR_PRIVILEGE_NOT_HELD);
    NtName nt;
    if (!win32_name_to_nt(name, &nt)) return FALSE;
    UnixName host;
    uint32_t status = nt_name_to_unix(nt.path, &host);
    if (status == kStatusSuccess && !host.exists) status = kStatusObjectNameNotFound;
    unix_file::Status file;
    if (status == kStatusSuccess) status = unix_file::status(host.path, &file);
    if (status != kStatusSuccess) return fail(nt_status_to_error(status));
    const Bytes bytes = encode(host_descriptor(file, requested));
    *needed = static_cast<DWORD>(bytes.size());
    if (!descriptor || length < bytes.size()) return fail(ERROR_INSUFFICIENT_BUFFER);
    std::memcpy(descriptor, bytes.data(), bytes.size());
    return TRUE;
}
