// The executive's pool and its interlocked list calls.
#pragma once

#include "platform/ddk/ntdef.h"

typedef enum _POOL_TYPE {
    NonPagedPool = 0,
    NonPagedPoolExecute = NonPagedPool,
    PagedPool = 1,
    NonPagedPoolNx = 512,
} POOL_TYPE;

extern "C" {

// Pool blocks are 16-byte aligned. A failed allocation returns null. The tag names the block's
// owner (four characters, the first in the lowest byte); freeing with another tag is a fault.
PVOID NTAPI ExAllocatePoolWithTag(POOL_TYPE PoolType, SIZE_T NumberOfBytes, ULONG Tag);
VOID NTAPI ExFreePoolWithTag(PVOID P, ULONG Tag);
VOID NTAPI ExFreePool(PVOID P);

// List operations under a spin lock; each returns the entry that was first before it ran
// (null when the list was empty).
PLIST_ENTRY FASTCALL ExInterlockedInsertHeadList(PLIST_ENTRY ListHead, PLIST_ENTRY ListEntry,
                                                 PKSPIN_LOCK Lock);
PLIST_ENTRY FASTCALL ExInterlockedInsertTailList(PLIST_ENTRY ListHead, PLIST_ENTRY ListEntry,
                                                 PKSPIN_LOCK Lock);
PLIST_ENTRY FASTCALL ExInterlockedRemoveHeadList(PLIST_ENTRY ListHead, PKSPIN_LOCK Lock);

}  // extern "C"
