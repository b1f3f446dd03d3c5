// Tokens, file security and SDDL (platform/api/security.h). The descriptors of host files are
// platform/ntdll/file_security.h's, their binary form
// platform/ntoskrnl/rtl/security_descriptor.h's, the text form sddl.h's.
#include <cstring>
#include <string>
#include <vector>

#include "platform/advapi32/sddl.h"
#include "platform/core/object.h"
#include "platform/core/trace.h"
#include "platform/ntdll/dos_path.h"
#include "platform/ntdll/file_security.h"
#include "platform/ntoskrnl/fs/file.h"
#include "platform/ntoskrnl/rtl/security_descriptor.h"
#include "platform/ntoskrnl/rtl/status_error.h"
#include "platform/unix/unix_file.h"
#include "platform/unix/unix_process.h"
#include "platform/win32.h"

using ntoskrnl::nt_status_to_error;

namespace platform {

using namespace security;

namespace {

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
    NTSTATUS status = ntoskrnl::fs::nt_name_to_host(nt.path, &host);
    if (status == STATUS_SUCCESS && !host.exists) status = STATUS_OBJECT_NAME_NOT_FOUND;
    unix_file::Status file;
    if (status == STATUS_SUCCESS) status = unix_file::status(host.path, &file);
    if (status != STATUS_SUCCESS) return fail(nt_status_to_error(status));
    const Bytes bytes = encode(host_file_descriptor(file, requested));
    *needed = static_cast<DWORD>(bytes.size());
    if (!descriptor || length < bytes.size()) return fail(ERROR_INSUFFICIENT_BUFFER);
    std::memcpy(descriptor, bytes.data(), bytes.size());
    return TRUE;
}
