// The object manager's reference counting: objects reached through handles, and handles opened to
// objects held by pointer.
#pragma once

#include "platform/ddk/ntdef.h"

typedef struct _OBJECT_TYPE* POBJECT_TYPE;
typedef struct _ACCESS_STATE* PACCESS_STATE;

typedef struct _OBJECT_HANDLE_INFORMATION {
    ULONG HandleAttributes;
    ACCESS_MASK GrantedAccess;
} OBJECT_HANDLE_INFORMATION, *POBJECT_HANDLE_INFORMATION;

extern "C" {

// Takes a reference on the object behind a handle (ObjectType null: any type).
// STATUS_INVALID_HANDLE or STATUS_OBJECT_TYPE_MISMATCH when it cannot.
NTSTATUS NTAPI ObReferenceObjectByHandle(HANDLE Handle, ACCESS_MASK DesiredAccess,
                                         POBJECT_TYPE ObjectType, KPROCESSOR_MODE AccessMode,
                                         PVOID* Object,
                                         POBJECT_HANDLE_INFORMATION HandleInformation);
LONG_PTR FASTCALL ObfDereferenceObject(PVOID Object);
// A kernel handle to an object the caller holds a pointer to, with DesiredAccess granted. Only
// kernel mode is provided (no access check); ObjectType null: any type, else it must match.
NTSTATUS NTAPI ObOpenObjectByPointer(PVOID Object, ULONG HandleAttributes,
                                     PACCESS_STATE PassedAccessState, ACCESS_MASK DesiredAccess,
                                     POBJECT_TYPE ObjectType, KPROCESSOR_MODE AccessMode,
                                     PHANDLE Handle);

}  // extern "C"

#define ObDereferenceObject ObfDereferenceObject
