// advapi32: access tokens, security identifiers, security descriptors in their self-relative
// binary form, their string form (SDDL) and the DACLs of files. The subset provided:
// - a process's token and its user (TokenUser);
// - SDDL with a DACL ("D:", flags "P", "AI", "AR") of allow and deny ACEs (A, D) whose rights are
//   FA, FR, FW, FX, GA, GR, GW, GX or a number, for the SIDs WD, OW, CO, SY, BA, BU, AU or any
//   "S-1-..."; owner and group ("O:", "G:") too. A SACL ("S:") is refused.
// - GetFileSecurityA for OWNER, GROUP and DACL information;
// - CreateFileA with a security descriptor whose DACL sets the new file's access (see
//   platform/ntdll/file_security.h for how it maps onto the host's file modes).
#pragma once

#include "platform/api/windef.h"
#include "platform/api/winnt.h"

#define SECURITY_MAX_SID_SIZE 68
#define SDDL_REVISION_1 1

#define TOKEN_QUERY 0x0008u

typedef enum _TOKEN_INFORMATION_CLASS { TokenUser = 1 } TOKEN_INFORMATION_CLASS;

typedef struct _SID_AND_ATTRIBUTES {
    PSID Sid;
    DWORD Attributes;
} SID_AND_ATTRIBUTES;

typedef struct _TOKEN_USER {
    SID_AND_ATTRIBUTES User;
} TOKEN_USER, *PTOKEN_USER;

extern "C" {

// Only the current process (GetCurrentProcess()) has a token here.
BOOL WINAPI OpenProcessToken(HANDLE process, DWORD access, PHANDLE token);
// TokenUser only: a TOKEN_USER whose SID follows it in the buffer.
BOOL WINAPI GetTokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS information_class,
                                LPVOID information, DWORD length, PDWORD returned);

// Strings and descriptors come from LocalAlloc: LocalFree them.
BOOL WINAPI ConvertSidToStringSidA(PSID sid, LPSTR* string);
BOOL WINAPI ConvertStringSecurityDescriptorToSecurityDescriptorA(LPCSTR string, DWORD revision,
                                                                 PSECURITY_DESCRIPTOR* descriptor,
                                                                 PULONG size);

// The file's owner, group and DACL in self-relative form, from what the host keeps (its owner,
// group and mode).
BOOL WINAPI GetFileSecurityA(LPCSTR name, SECURITY_INFORMATION requested,
                             PSECURITY_DESCRIPTOR descriptor, DWORD length, LPDWORD needed);

}  // extern "C"
