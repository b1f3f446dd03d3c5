// IRPs: allocation, IoCallDriver, IoCompleteRequest and the I/O manager's part of completion in
// Windows' order: buffered copy-back, MDLs freed, status block written, event signalled, then
// the caller's APC queued. Each IRP is completed once; its memory is kept a while after it is
// released, so that a second completion is caught rather than read from freed memory.
#include <atomic>
#include <cstring>
#include <deque>
#include <mutex>
#include <new>

#include "platform/core/trace.h"
#include "platform/ntoskrnl/ex/pool.h"
#include "platform/ntoskrnl/io/io.h"
#include "platform/ntoskrnl/ke/event.h"
#include "platform/ntoskrnl/ke/thread.h"
#include "platform/ntoskrnl/mm/mdl.h"
#include "platform/ntoskrnl/not_implemented.h"

namespace ntoskrnl::io {
namespace {

struct alignas(16) IrpRecord {
    std::atomic<int> references{2};  // the issuer's and the completion's
    std::atomic<bool> completed{false};
    ULONG output_length = 0;
    HANDLE user_event = nullptr;
};

constexpr std::align_val_t kAlignment{16};
constexpr size_t kQuarantine = 256;

IrpRecord* record_of(PIRP irp) {
    return reinterpret_cast<IrpRecord*>(irp) - 1;
}

struct Irps {
    std::mutex lock;
    size_t live = 0;
    std::deque<IrpRecord*> released;  // kept before their memory goes back
};

Irps& irps() {
    static Irps* instance = new Irps;
    return *instance;
}

void drop_reference(PIRP irp) {
    IrpRecord* record = record_of(irp);
    if (record->references.fetch_sub(1, std::memory_order_acq_rel) != 1) return;
    IrpRecord* expired = nullptr;
    {
        auto& i = irps();
        std::lock_guard guard(i.lock);
        --i.live;
        i.released.push_back(record);
        if (i.released.size() > kQuarantine) {
            expired = i.released.front();
            i.released.pop_front();
        }
    }
    if (expired) {
        expired->~IrpRecord();
        ::operator delete(expired, kAlignment);
    }
}

void write_status_block(PIO_STATUS_BLOCK iosb, NTSTATUS status, ULONG_PTR information) {
    // Whole words, the status last: a reader polling it (GetOverlappedResult) sees the count too.
    std::atomic_ref<ULONG_PTR>(iosb->Information).store(information, std::memory_order_relaxed);
    const ULONG_PTR word = static_cast<ULONG>(status);
    std::atomic_ref<PVOID>(iosb->Pointer)
        .store(reinterpret_cast<PVOID>(word), std::memory_order_release);
}

// IopCompleteRequest.
void finish(PIRP irp) {
    IrpRecord* record = record_of(irp);
    const NTSTATUS status = irp->IoStatus.Status;
    const ULONG_PTR information = irp->IoStatus.Information;
    if (irp->Flags & IRP_BUFFERED_IO) {
        if ((irp->Flags & IRP_INPUT_OPERATION) && !NT_ERROR(status) && information) {
            if (information > record->output_length)
                bug_check("IO_MANAGER", "IoStatus.Information beyond the caller's output buffer");
            std::memcpy(irp->UserBuffer, irp->AssociatedIrp.SystemBuffer, information);
        }
        if (irp->Flags & IRP_DEALLOCATE_BUFFER)
            pool_free(irp->AssociatedIrp.SystemBuffer, nullptr, "IRP");
        irp->AssociatedIrp.SystemBuffer = nullptr;
    }
    for (PMDL mdl = irp->MdlAddress; mdl;) {
        PMDL next = mdl->Next;
        mm::free_mdl(mdl);
        mdl = next;
    }
    irp->MdlAddress = nullptr;
    PFILE_OBJECT file = irp->Tail.Overlay.OriginalFileObject;
    auto* thread = reinterpret_cast<_KTHREAD*>(irp->Tail.Overlay.Thread);
    // A request that failed at once returns its status to the caller and touches nothing else.
    if (!NT_ERROR(status) || irp->PendingReturned) {
        if (irp->UserIosb) write_status_block(irp->UserIosb, status, information);
        if (irp->UserEvent) KeSetEvent(irp->UserEvent, IO_NO_INCREMENT, FALSE);
        if (record->user_event) signal_event(record->user_event);
        if (file &&
            ((file->Flags & FO_SYNCHRONOUS_IO) || (!irp->UserEvent && !record->user_event))) {
            file->FinalStatus = status;
            KeSetEvent(&file->Event, IO_NO_INCREMENT, FALSE);
        }
        if (PIO_APC_ROUTINE routine = irp->Overlay.AsynchronousParameters.UserApcRoutine) {
            PVOID context = irp->Overlay.AsynchronousParameters.UserApcContext;
            PIO_STATUS_BLOCK iosb = irp->UserIosb;
            queue_kernel_apc(thread, [routine, context, iosb] { routine(context, iosb, 0); });
        }
    }
    if (file) ob::dereference(file);
    if (thread) ob::dereference(thread);
    drop_reference(irp);
}

}  // namespace

PIRP allocate_irp(CCHAR stack_size, PFILE_OBJECT file) {
    const size_t size = sizeof(IrpRecord) + sizeof(IRP) + stack_size * sizeof(IO_STACK_LOCATION);
    void* block = ::operator new(size, kAlignment);
    std::memset(block, 0, size);
    new (block) IrpRecord;
    auto* irp = reinterpret_cast<PIRP>(static_cast<IrpRecord*>(block) + 1);
    irp->Type = kIoTypeIrp;
    irp->Size = static_cast<USHORT>(sizeof(IRP) + stack_size * sizeof(IO_STACK_LOCATION));
    irp->StackCount = stack_size;
    irp->CurrentLocation = static_cast<CHAR>(stack_size + 1);
    irp->Tail.Overlay.CurrentStackLocation =
        reinterpret_cast<PIO_STACK_LOCATION>(irp + 1) + stack_size;
    _KTHREAD* thread = current_thread();
    ob::reference(thread);
    irp->Tail.Overlay.Thread = reinterpret_cast<PETHREAD>(thread);
    if (file) {
        ob::reference(file);
        irp->Tail.Overlay.OriginalFileObject = file;
    }
    auto& i = irps();
    std::lock_guard guard(i.lock);
    ++i.live;
    return irp;
}

NTSTATUS call_driver(PDEVICE_OBJECT device, PIRP irp) {
    if (--irp->CurrentLocation <= 0) bug_check("NO_MORE_IRP_STACK_LOCATIONS", "IoCallDriver");
    PIO_STACK_LOCATION stack = --irp->Tail.Overlay.CurrentStackLocation;
    stack->DeviceObject = device;
    const NTSTATUS status = device->DriverObject->MajorFunction[stack->MajorFunction](device, irp);
    const bool marked = (stack->Control & SL_PENDING_RETURNED) != 0;
    if (status == STATUS_PENDING && !marked)
        bug_check("IO_MANAGER",
                  "a dispatch routine returned STATUS_PENDING without IoMarkIrpPending");
    if (status != STATUS_PENDING && marked)
        bug_check("IO_MANAGER",
                  "a dispatch routine marked the IRP pending but did not return STATUS_PENDING");
    if (status != STATUS_PENDING && !record_of(irp)->completed.load(std::memory_order_acquire))
        bug_check("IO_MANAGER",
                  "a dispatch routine returned without completing or pending the IRP");
    return status;
}

void finish_deferred(PIRP irp) {
    finish(irp);
}

void release_irp(PIRP irp) {
    drop_reference(irp);
}

NTSTATUS complete_request(PIRP irp, NTSTATUS status, ULONG_PTR information) {
    irp->IoStatus.Status = status;
    irp->IoStatus.Information = information;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

void set_output_length(PIRP irp, ULONG length) {
    record_of(irp)->output_length = length;
}

void set_user_event(PIRP irp, HANDLE event) {
    record_of(irp)->user_event = event;
}

size_t live_irps() {
    auto& i = irps();
    std::lock_guard guard(i.lock);
    return i.live;
}

}  // namespace ntoskrnl::io

using namespace ntoskrnl;

extern "C" VOID FASTCALL IofCompleteRequest(PIRP Irp, CCHAR PriorityBoost) {
    TRACE("ntoskrnl", "IofCompleteRequest(%p, %d): status %#x, information %zu",
          static_cast<void*>(Irp), PriorityBoost, static_cast<unsigned>(Irp->IoStatus.Status),
          static_cast<size_t>(Irp->IoStatus.Information));
    if (io::record_of(Irp)->completed.exchange(true, std::memory_order_acq_rel))
        bug_check("MULTIPLE_IRP_COMPLETE_REQUESTS", "an IRP was completed twice");
    if (Irp->IoStatus.Status == STATUS_PENDING)
        bug_check("IO_MANAGER", "an IRP was completed with STATUS_PENDING");
    while (Irp->CurrentLocation <= Irp->StackCount) {
        PIO_STACK_LOCATION stack = Irp->Tail.Overlay.CurrentStackLocation;
        Irp->PendingReturned = (stack->Control & SL_PENDING_RETURNED) != 0;
        ++Irp->CurrentLocation;
        ++Irp->Tail.Overlay.CurrentStackLocation;
    }
    // Completed before its dispatch routine returned, without pending: the issuer finishes it.
    if (!Irp->PendingReturned && (Irp->Flags & IRP_DEFER_IO_COMPLETION)) return;
    io::finish(Irp);
}
