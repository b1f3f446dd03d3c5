// The hardware-crypto thread: one per driver, it carries out every card exchange of hardware
// mode. Disk workers hand it one work item at a time through a gate and wait; it cuts the item
// into chunks and sends each to the card and reads it back.
#include "driver/orvik.h"

namespace {

constexpr ULONG kSmallestChunk = 4096;

struct HwCryptContext {
    LIST_ENTRY Queue;
    KSPIN_LOCK QueueLock;
    KEVENT Gate;  // synchronization, initially signalled: admits one submitter at a time
    KEVENT Work;  // synchronization: wakes the thread
    PVOID Thread;
    UCHAR Stop;  // set at unload, under the queue lock
};

// Where an item is in its chunks.
struct ChunkSplitter {
    ULONG Remaining;
    ULONG Chunk;
};

HwCryptContext* g_HwCryptContext;
ULONG g_ChunkSize;  // read once per item

// The next chunk's length, 0 when the item is done. The last 4096 bytes or fewer go in one chunk;
// before that, chunks of the chunk size, reduced in steps of 4096 to fit what remains.
ULONG NextChunkLength(ChunkSplitter* state) {
    ULONG length;
    if (state->Remaining <= kSmallestChunk) {
        length = state->Remaining;
    } else {
        while (state->Remaining < state->Chunk) state->Chunk -= kSmallestChunk;
        length = state->Chunk;
    }
    state->Remaining -= length;
    return length;
}

// Sends the item's chunks, each as one OUT and one IN frame; the first failing frame ends the
// item, as its outcome, and drops the card. Stop cancels it between chunks. Card lock held.
VOID ProcessItem(HwCryptContext* context, OrvikWorkItem* item) {
    ChunkSplitter splitter = {item->Length, g_ChunkSize};
    const ULONGLONG firstSector = static_cast<ULONGLONG>(item->Offset) / kSectorSize;
    ULONG done = 0;
    for (ULONG length = NextChunkLength(&splitter); length != 0;
         length = NextChunkLength(&splitter)) {
        if (context->Stop) {
            item->Cancelled = TRUE;
            return;
        }
        const ULONGLONG sector = firstSector + done / kSectorSize;
        CardFrameResult result = SendCryptoChunk(item->Op, item->Source + done, length, sector);
        if (FrameSucceeded(result))
            result = ReceiveCryptoChunk(WorkItemData(item) + done, length, sector);
        if (!FrameSucceeded(result)) {
            item->Frame = result;
            DropCryptoDevice();
            return;
        }
        done += length;
    }
}

VOID SignalItemDone(OrvikWorkItem* item) {
    KeSetEvent(&item->Done, IO_NO_INCREMENT, FALSE);
}

// The queue's head, or null; *stopped tells whether stop was set when the queue was looked at.
// Since submitters queue only before stop, an empty queue seen with stop stays empty.
OrvikWorkItem* NextItem(HwCryptContext* context, BOOLEAN* stopped) {
    KIRQL irql;
    KeAcquireSpinLock(&context->QueueLock, &irql);
    *stopped = context->Stop;
    PLIST_ENTRY entry = IsListEmpty(&context->Queue) ? nullptr : RemoveHeadList(&context->Queue);
    KeReleaseSpinLock(&context->QueueLock, irql);
    return entry ? CONTAINING_RECORD(entry, OrvikWorkItem, Link) : nullptr;
}

// Thread start routine (context: the HwCryptContext), at priority 16. Waits for work, takes the
// next item under the queue lock and finishes it; ends once stop is set and the queue is empty.
// Items still queued at stop are finished as cancelled, so that no submitter stays blocked.
VOID NTAPI HwCryptThread(PVOID start) {
    auto* context = static_cast<HwCryptContext*>(start);
    KeSetPriorityThread(KeGetCurrentThread(), kThreadPriority);
    for (;;) {
        KeWaitForSingleObject(&context->Work, Executive, KernelMode, FALSE, nullptr);
        BOOLEAN stopped;
        while (OrvikWorkItem* item = NextItem(context, &stopped)) {
            if (stopped) {
                item->Cancelled = TRUE;
                SignalItemDone(item);
                continue;
            }
            AcquireCardLock();
            ProcessItem(context, item);
            ReleaseCardLock();
            SignalItemDone(item);
        }
        if (stopped) PsTerminateSystemThread(STATUS_SUCCESS);
    }
}

// Sets stop (context: the HwCryptContext) and wakes the thread. Under the queue lock, so that no
// submitter queues an item after the thread has seen stop with an empty queue.
VOID SignalStop(PVOID start) {
    auto* context = static_cast<HwCryptContext*>(start);
    KIRQL irql;
    KeAcquireSpinLock(&context->QueueLock, &irql);
    context->Stop = 1;
    KeReleaseSpinLock(&context->QueueLock, irql);
    KeSetEvent(&context->Work, IO_NO_INCREMENT, FALSE);
}

}  // namespace

// Starts the thread; FALSE (and no thread) when its context or the thread cannot be had.
BOOLEAN StartHwCryptThread() {
    auto* context = static_cast<HwCryptContext*>(AllocNonPaged(sizeof(HwCryptContext)));
    if (!context) return FALSE;
    RtlZeroMemory(context, sizeof *context);
    InitializeListHead(&context->Queue);
    KeInitializeSpinLock(&context->QueueLock);
    KeInitializeEvent(&context->Gate, SynchronizationEvent, TRUE);
    KeInitializeEvent(&context->Work, SynchronizationEvent, FALSE);
    if (!NT_SUCCESS(StartSystemThread(HwCryptThread, context, SignalStop, &context->Thread))) {
        FreeNonPaged(context);
        return FALSE;
    }
    g_HwCryptContext = context;
    return TRUE;
}

BOOLEAN HwCryptThreadStarted() {
    return g_HwCryptContext != nullptr;
}

// Called by disk workers: waits for the gate, queues the item, waits until it is finished. After
// stop an item is cancelled at once.
BOOLEAN SubmitHwCryptItem(OrvikWorkItem* item) {
    HwCryptContext* context = g_HwCryptContext;
    item->Frame = {0, STATUS_SUCCESS};
    item->Cancelled = FALSE;
    KeWaitForSingleObject(&context->Gate, Executive, KernelMode, FALSE, nullptr);
    KIRQL irql;
    KeAcquireSpinLock(&context->QueueLock, &irql);
    const BOOLEAN stopped = context->Stop;
    if (!stopped) InsertTailList(&context->Queue, &item->Link);
    KeReleaseSpinLock(&context->QueueLock, irql);
    if (stopped) {
        item->Cancelled = TRUE;
    } else {
        KeSetEvent(&context->Work, IO_NO_INCREMENT, FALSE);
        KeWaitForSingleObject(&item->Done, Executive, KernelMode, FALSE, nullptr);
    }
    KeSetEvent(&context->Gate, IO_NO_INCREMENT, FALSE);
    return !item->Cancelled && FrameSucceeded(item->Frame);
}

// A chunk size that is not a positive number of whole sectors would cut sectors apart (or, at 0,
// end items unprocessed): the load value 4096 stands in for it.
VOID SetChunkSize(ULONG size) {
    g_ChunkSize = size != 0 && size % kSectorSize == 0 ? size : kLoadChunkSize;
}

VOID SignalHwCryptStop() {
    SignalStop(g_HwCryptContext);
}

// Waits for the thread to end and frees its context.
VOID StopHwCryptThread() {
    HwCryptContext* context = g_HwCryptContext;
    WaitForSystemThread(context->Thread);
    FreeNonPaged(context);
    g_HwCryptContext = nullptr;
}
