// Kernel mode's base types: status values, counted strings, lists, object attributes, I/O status
// blocks and access rights, with the sizes and layouts of 64-bit Windows. x64 has one calling
// convention, so the convention macros are empty.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/api/windef.h"
#include "platform/api/winnt.h"

static_assert(sizeof(WCHAR) == 2, "kernel strings are UTF-16");

#define NTAPI
#define NTSYSAPI
#define NTKERNELAPI
#define FASTCALL
#define IN
#define OUT
#define OPTIONAL
#define UNREFERENCED_PARAMETER(P) ((void)(P))

// A wide literal in the kernel's character type: u"..." here, L"..." with the driver kit.
#define WTEXT(s) u##s

typedef LONG NTSTATUS;
typedef NTSTATUS* PNTSTATUS;
typedef short CSHORT;
typedef char CCHAR;
typedef UCHAR KIRQL;
typedef KIRQL* PKIRQL;
typedef CCHAR KPROCESSOR_MODE;
typedef LONG KPRIORITY;
typedef ULONG DEVICE_TYPE;
typedef ULONG_PTR KSPIN_LOCK;
typedef KSPIN_LOCK* PKSPIN_LOCK;
typedef BOOLEAN* PBOOLEAN;
typedef CHAR* PSTR;
typedef CHAR* PCH;
typedef const CHAR* PCSTR;
typedef const CHAR* PCSZ;
typedef WCHAR* PWSTR;
typedef WCHAR* PWCH;
typedef const WCHAR* PCWSTR;
typedef const WCHAR* PCWCH;
typedef int64_t LONG64;
typedef uint64_t ULONG64;

#define NT_SUCCESS(Status) (static_cast<NTSTATUS>(Status) >= 0)
#define NT_INFORMATION(Status) ((static_cast<ULONG>(Status) >> 30) == 1)
#define NT_WARNING(Status) ((static_cast<ULONG>(Status) >> 30) == 2)
#define NT_ERROR(Status) ((static_cast<ULONG>(Status) >> 30) == 3)

typedef struct _UNICODE_STRING {
    USHORT Length;         // bytes, without a terminator
    USHORT MaximumLength;  // bytes
    PWSTR Buffer;
} UNICODE_STRING, *PUNICODE_STRING;
typedef const UNICODE_STRING* PCUNICODE_STRING;

typedef struct _STRING {
    USHORT Length;
    USHORT MaximumLength;
    PCHAR Buffer;
} STRING, *PSTRING, ANSI_STRING, *PANSI_STRING, OEM_STRING, *POEM_STRING;
typedef const STRING* PCANSI_STRING;

typedef struct _LIST_ENTRY {
    struct _LIST_ENTRY* Flink;
    struct _LIST_ENTRY* Blink;
} LIST_ENTRY, *PLIST_ENTRY, *PRLIST_ENTRY;

#define CONTAINING_RECORD(address, type, field) \
    (reinterpret_cast<type*>(reinterpret_cast<PCHAR>(address) - offsetof(type, field)))

inline VOID InitializeListHead(PLIST_ENTRY ListHead) {
    ListHead->Flink = ListHead->Blink = ListHead;
}
inline BOOLEAN IsListEmpty(const LIST_ENTRY* ListHead) {
    return ListHead->Flink == ListHead;
}
inline BOOLEAN RemoveEntryList(PLIST_ENTRY Entry) {
    PLIST_ENTRY next = Entry->Flink;
    PLIST_ENTRY previous = Entry->Blink;
    previous->Flink = next;
    next->Blink = previous;
    return next == previous;
}
inline PLIST_ENTRY RemoveHeadList(PLIST_ENTRY ListHead) {
    PLIST_ENTRY entry = ListHead->Flink;
    RemoveEntryList(entry);
    return entry;
}
inline PLIST_ENTRY RemoveTailList(PLIST_ENTRY ListHead) {
    PLIST_ENTRY entry = ListHead->Blink;
    RemoveEntryList(entry);
    return entry;
}
inline VOID InsertTailList(PLIST_ENTRY ListHead, PLIST_ENTRY Entry) {
    PLIST_ENTRY last = ListHead->Blink;
    Entry->Flink = ListHead;
    Entry->Blink = last;
    last->Flink = Entry;
    ListHead->Blink = Entry;
}
inline VOID InsertHeadList(PLIST_ENTRY ListHead, PLIST_ENTRY Entry) {
    PLIST_ENTRY first = ListHead->Flink;
    Entry->Flink = first;
    Entry->Blink = ListHead;
    first->Blink = Entry;
    ListHead->Flink = Entry;
}

typedef struct _OBJECT_ATTRIBUTES {
    ULONG Length;
    HANDLE RootDirectory;
    PUNICODE_STRING ObjectName;
    ULONG Attributes;
    PVOID SecurityDescriptor;
    PVOID SecurityQualityOfService;
} OBJECT_ATTRIBUTES, *POBJECT_ATTRIBUTES;

#define OBJ_INHERIT 0x00000002L
#define OBJ_PERMANENT 0x00000010L
#define OBJ_EXCLUSIVE 0x00000020L
#define OBJ_CASE_INSENSITIVE 0x00000040L
#define OBJ_OPENIF 0x00000080L
#define OBJ_OPENLINK 0x00000100L
#define OBJ_KERNEL_HANDLE 0x00000200L
#define OBJ_FORCE_ACCESS_CHECK 0x00000400L

#define InitializeObjectAttributes(p, n, a, r, s) \
    do {                                          \
        (p)->Length = sizeof(OBJECT_ATTRIBUTES);  \
        (p)->RootDirectory = (r);                 \
        (p)->Attributes = (a);                    \
        (p)->ObjectName = (n);                    \
        (p)->SecurityDescriptor = (s);            \
        (p)->SecurityQualityOfService = nullptr;  \
    } while (0)

typedef struct _IO_STATUS_BLOCK {
    union {
        NTSTATUS Status;
        PVOID Pointer;
    };
    ULONG_PTR Information;
} IO_STATUS_BLOCK, *PIO_STATUS_BLOCK;

typedef struct _CLIENT_ID {
    HANDLE UniqueProcess;
    HANDLE UniqueThread;
} CLIENT_ID, *PCLIENT_ID;

#define DIRECTORY_QUERY 0x0001
#define DIRECTORY_TRAVERSE 0x0002
#define DIRECTORY_CREATE_OBJECT 0x0004
#define DIRECTORY_CREATE_SUBDIRECTORY 0x0008
#define DIRECTORY_ALL_ACCESS (STANDARD_RIGHTS_REQUIRED | 0xF)

#define THREAD_ALL_ACCESS (STANDARD_RIGHTS_REQUIRED | SYNCHRONIZE | 0xFFFF)
