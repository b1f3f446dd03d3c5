// List operations under a spin lock.
#include "platform/wdm.h"

namespace {

// Runs operation on the list with lock held; the result is the list's first entry before it.
template <class Operation>
PLIST_ENTRY under_lock(PLIST_ENTRY head, PKSPIN_LOCK lock, Operation operation) {
    KIRQL previous;
    KeAcquireSpinLock(lock, &previous);
    PLIST_ENTRY first = IsListEmpty(head) ? nullptr : head->Flink;
    operation();
    KeReleaseSpinLock(lock, previous);
    return first;
}

}  // namespace

extern "C" PLIST_ENTRY FASTCALL ExInterlockedInsertHeadList(PLIST_ENTRY ListHead,
                                                            PLIST_ENTRY ListEntry,
                                                            PKSPIN_LOCK Lock) {
    return under_lock(ListHead, Lock, [&] { InsertHeadList(ListHead, ListEntry); });
}

extern "C" PLIST_ENTRY FASTCALL ExInterlockedInsertTailList(PLIST_ENTRY ListHead,
                                                            PLIST_ENTRY ListEntry,
                                                            PKSPIN_LOCK Lock) {
    return under_lock(ListHead, Lock, [&] { InsertTailList(ListHead, ListEntry); });
}

extern "C" PLIST_ENTRY FASTCALL ExInterlockedRemoveHeadList(PLIST_ENTRY ListHead,
                                                            PKSPIN_LOCK Lock) {
    return under_lock(ListHead, Lock, [&] {
        if (!IsListEmpty(ListHead)) RemoveHeadList(ListHead);
    });
}
