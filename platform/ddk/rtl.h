// Run-time library: counted strings, safe formatting, registry queries, the status-to-error map,
// system routine lookup and the debugger's print.
#pragma once

#include <cstring>

#include "platform/ddk/ntstatus.h"

#define RtlZeroMemory(Destination, Length) std::memset((Destination), 0, (Length))
#define RtlFillMemory(Destination, Length, Fill) std::memset((Destination), (Fill), (Length))
#define RtlCopyMemory(Destination, Source, Length) std::memcpy((Destination), (Source), (Length))
#define RtlMoveMemory(Destination, Source, Length) std::memmove((Destination), (Source), (Length))

#define REG_NONE 0u
#define REG_SZ 1u
#define REG_EXPAND_SZ 2u
#define REG_BINARY 3u
#define REG_DWORD 4u
#define REG_MULTI_SZ 7u
#define REG_QWORD 11u

typedef NTSTATUS NTAPI RTL_QUERY_REGISTRY_ROUTINE(PWSTR ValueName, ULONG ValueType, PVOID ValueData,
                                                  ULONG ValueLength, PVOID Context,
                                                  PVOID EntryContext);
typedef RTL_QUERY_REGISTRY_ROUTINE* PRTL_QUERY_REGISTRY_ROUTINE;

typedef struct _RTL_QUERY_REGISTRY_TABLE {
    PRTL_QUERY_REGISTRY_ROUTINE QueryRoutine;
    ULONG Flags;
    PWSTR Name;
    PVOID EntryContext;
    ULONG DefaultType;
    PVOID DefaultData;
    ULONG DefaultLength;
} RTL_QUERY_REGISTRY_TABLE, *PRTL_QUERY_REGISTRY_TABLE;

#define RTL_QUERY_REGISTRY_SUBKEY 0x00000001
#define RTL_QUERY_REGISTRY_TOPKEY 0x00000002
#define RTL_QUERY_REGISTRY_REQUIRED 0x00000004
#define RTL_QUERY_REGISTRY_NOVALUE 0x00000008
#define RTL_QUERY_REGISTRY_NOEXPAND 0x00000010
#define RTL_QUERY_REGISTRY_DIRECT 0x00000020
#define RTL_QUERY_REGISTRY_DELETE 0x00000040
#define RTL_QUERY_REGISTRY_NOSTRING 0x00000080
#define RTL_QUERY_REGISTRY_TYPECHECK 0x00000100
#define RTL_QUERY_REGISTRY_TYPECHECK_SHIFT 24

#define RTL_REGISTRY_ABSOLUTE 0
#define RTL_REGISTRY_SERVICES 1
#define RTL_REGISTRY_CONTROL 2
#define RTL_REGISTRY_WINDOWS_NT 3
#define RTL_REGISTRY_DEVICEMAP 4
#define RTL_REGISTRY_USER 5
#define RTL_REGISTRY_HANDLE 0x40000000
#define RTL_REGISTRY_OPTIONAL 0x80000000

#define NTSTRSAFE_MAX_CCH 2147483647

extern "C" {

VOID NTAPI RtlInitUnicodeString(PUNICODE_STRING DestinationString, PCWSTR SourceString);
VOID NTAPI RtlInitAnsiString(PANSI_STRING DestinationString, PCSZ SourceString);
// Converts ANSI text to UTF-16; with AllocateDestinationString the buffer comes from the pool
// (free it with RtlFreeUnicodeString), else the text must fit DestinationString's buffer
// (STATUS_BUFFER_OVERFLOW when it does not).
NTSTATUS NTAPI RtlAnsiStringToUnicodeString(PUNICODE_STRING DestinationString,
                                            PCANSI_STRING SourceString,
                                            BOOLEAN AllocateDestinationString);
VOID NTAPI RtlFreeUnicodeString(PUNICODE_STRING UnicodeString);

// Formatting with the kernel's conventions: %d, %u, %x, %ld and %lu are 32 bits, %lld and %I64x
// 64, %s narrow and %ls/%ws/%S wide text, %wZ a PUNICODE_STRING, %Z a PANSI_STRING.
// STATUS_BUFFER_OVERFLOW when the text was cut to fit (it is still terminated).
NTSTATUS RtlStringCbPrintfA(PSTR pszDest, size_t cbDest, PCSTR pszFormat, ...);
NTSTATUS RtlStringCbPrintfW(PWSTR pszDest, size_t cbDest, PCWSTR pszFormat, ...);
NTSTATUS NTAPI RtlStringCbLengthA(PCSTR psz, size_t cbMax, size_t* pcbLength);
NTSTATUS NTAPI RtlStringCbLengthW(PCWSTR psz, size_t cbMax, size_t* pcbLength);

// Reads registry values through a query table (RelativeTo RTL_REGISTRY_ABSOLUTE: Path is
// "\Registry\Machine\..."). An entry with RTL_QUERY_REGISTRY_REQUIRED whose value is absent ends
// the query with STATUS_OBJECT_NAME_NOT_FOUND; its default is not used.
NTSTATUS NTAPI RtlQueryRegistryValues(ULONG RelativeTo, PCWSTR Path,
                                      PRTL_QUERY_REGISTRY_TABLE QueryTable, PVOID Context,
                                      PVOID Environment);

// The Win32 error that user mode reports for a status.
ULONG NTAPI RtlNtStatusToDosError(NTSTATUS Status);

// Security identifiers, ACLs and absolute security descriptors built in the caller's memory.
// Sid has room for SubAuthorityCount sub-authorities (at most SID_MAX_SUB_AUTHORITIES), which
// RtlSubAuthoritySid then addresses.
NTSTATUS NTAPI RtlInitializeSid(PSID Sid, PSID_IDENTIFIER_AUTHORITY IdentifierAuthority,
                                UCHAR SubAuthorityCount);
PULONG NTAPI RtlSubAuthoritySid(PSID Sid, ULONG SubAuthority);
ULONG NTAPI RtlLengthSid(PSID Sid);
// An empty ACL of AclLength bytes (STATUS_BUFFER_TOO_SMALL below an ACL header).
NTSTATUS NTAPI RtlCreateAcl(PACL Acl, ULONG AclLength, ULONG AclRevision);
// Appends an allow entry; STATUS_ALLOTTED_SPACE_EXCEEDED when the ACL has no room for it.
NTSTATUS NTAPI RtlAddAccessAllowedAce(PACL Acl, ULONG AceRevision, ACCESS_MASK AccessMask,
                                      PSID Sid);
// Generic rights replaced by the rights that the mapping gives them.
VOID NTAPI RtlMapGenericMask(PACCESS_MASK AccessMask, PGENERIC_MAPPING GenericMapping);
// An absolute descriptor with nothing in it; the DACL is then set by pointer (not copied).
NTSTATUS NTAPI RtlCreateSecurityDescriptor(PSECURITY_DESCRIPTOR SecurityDescriptor, ULONG Revision);
NTSTATUS NTAPI RtlSetDaclSecurityDescriptor(PSECURITY_DESCRIPTOR SecurityDescriptor,
                                            BOOLEAN DaclPresent, PACL Dacl, BOOLEAN DaclDefaulted);

// The address of an exported kernel routine, or null.
PVOID NTAPI MmGetSystemRoutineAddress(PUNICODE_STRING SystemRoutineName);

// Debug output; tests read it through the simulation's test controls.
ULONG DbgPrint(PCSTR Format, ...);

}  // extern "C"

static_assert(sizeof(RTL_QUERY_REGISTRY_TABLE) == 56);
