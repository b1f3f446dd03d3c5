// Requests on a device's file object, as NtReadFile, NtWriteFile, NtDeviceIoControlFile and
// NtFsControlFile build them: the buffers go to the driver as the device (reads and writes) or
// the control code's method asks, the IRP is sent, and a synchronous file object's request is
// waited for.
#include <algorithm>
#include <cstring>
#include <mutex>

#include "platform/ntoskrnl/ex/pool.h"
#include "platform/ntoskrnl/io/io.h"
#include "platform/ntoskrnl/mm/mdl.h"

namespace ntoskrnl::io {
namespace {

// A system buffer of length bytes that starts with source_length bytes of source (none without
// a source) and is zeroed after them.
PVOID system_buffer(ULONG length, const void* source, ULONG source_length) {
    auto* buffer = static_cast<UCHAR*>(pool_allocate(NonPagedPool, length, kKernelPoolTag));
    if (!buffer) return nullptr;
    const ULONG copied = source ? source_length : 0;
    if (copied) std::memcpy(buffer, source, copied);
    std::memset(buffer + copied, 0, length - copied);
    return buffer;
}

NTSTATUS prepare_transfer(PIRP irp, PIO_STACK_LOCATION stack, PDEVICE_OBJECT device,
                          const Request& request, LONGLONG offset) {
    const bool read = request.major == IRP_MJ_READ;
    PVOID buffer = read ? request.output : request.input;
    const ULONG length = read ? request.output_length : request.input_length;
    stack->Parameters.Read.Length = length;
    stack->Parameters.Read.ByteOffset.QuadPart = offset;
    irp->Flags |= read ? IRP_READ_OPERATION : IRP_WRITE_OPERATION;
    if (length == 0) return STATUS_SUCCESS;
    if (device->Flags & DO_BUFFERED_IO) {
        irp->AssociatedIrp.SystemBuffer = system_buffer(length, read ? nullptr : buffer, length);
        if (!irp->AssociatedIrp.SystemBuffer) return STATUS_INSUFFICIENT_RESOURCES;
        irp->Flags |= IRP_BUFFERED_IO | IRP_DEALLOCATE_BUFFER | (read ? IRP_INPUT_OPERATION : 0);
        irp->UserBuffer = buffer;
        set_output_length(irp, read ? length : 0);
    } else if (device->Flags & DO_DIRECT_IO) {
        irp->MdlAddress = mm::create_mdl(buffer, length);
    } else {
        irp->UserBuffer = buffer;
    }
    return STATUS_SUCCESS;
}

NTSTATUS prepare_control(PIRP irp, PIO_STACK_LOCATION stack, const Request& request) {
    stack->Parameters.DeviceIoControl.OutputBufferLength = request.output_length;
    stack->Parameters.DeviceIoControl.InputBufferLength = request.input_length;
    stack->Parameters.DeviceIoControl.IoControlCode = request.code;
    switch (METHOD_FROM_CTL_CODE(request.code)) {
        case METHOD_BUFFERED: {
            const ULONG length = std::max(request.input_length, request.output_length);
            if (length == 0) return STATUS_SUCCESS;
            irp->AssociatedIrp.SystemBuffer =
                system_buffer(length, request.input, request.input_length);
            if (!irp->AssociatedIrp.SystemBuffer) return STATUS_INSUFFICIENT_RESOURCES;
            irp->Flags |= IRP_BUFFERED_IO | IRP_DEALLOCATE_BUFFER;
            if (request.output) {
                irp->Flags |= IRP_INPUT_OPERATION;
                irp->UserBuffer = request.output;
                set_output_length(irp, request.output_length);
            }
            return STATUS_SUCCESS;
        }
        case METHOD_IN_DIRECT:
        case METHOD_OUT_DIRECT:
            if (request.input_length) {
                irp->AssociatedIrp.SystemBuffer =
                    system_buffer(request.input_length, request.input, request.input_length);
                if (!irp->AssociatedIrp.SystemBuffer) return STATUS_INSUFFICIENT_RESOURCES;
                irp->Flags |= IRP_BUFFERED_IO | IRP_DEALLOCATE_BUFFER;
            }
            if (request.output && request.output_length)
                irp->MdlAddress = mm::create_mdl(request.output, request.output_length);
            return STATUS_SUCCESS;
        default:  // METHOD_NEITHER
            stack->Parameters.DeviceIoControl.Type3InputBuffer = request.input;
            irp->UserBuffer = request.output;
            return STATUS_SUCCESS;
    }
}

// On a file opened without intermediate buffering, transfers are whole sectors of the device at
// sector offsets, in buffers aligned as the device requires.
bool aligned_transfer(PFILE_OBJECT file, PDEVICE_OBJECT device, const Request& request,
                      LONGLONG offset) {
    if (!(file->Flags & FO_NO_INTERMEDIATE_BUFFERING) || device->SectorSize == 0) return true;
    const bool read = request.major == IRP_MJ_READ;
    const ULONG length = read ? request.output_length : request.input_length;
    const auto address = reinterpret_cast<uintptr_t>(read ? request.output : request.input);
    return length % device->SectorSize == 0 && offset % device->SectorSize == 0 &&
           (address & device->AlignmentRequirement) == 0;
}

}  // namespace

NTSTATUS issue(PFILE_OBJECT file, const Request& request) {
    PDEVICE_OBJECT device = target_device(file);
    const bool synchronous = (file->Flags & FO_SYNCHRONOUS_IO) != 0;
    const bool transfer = request.major == IRP_MJ_READ || request.major == IRP_MJ_WRITE;
    std::unique_lock<std::mutex> one_at_a_time;
    if (synchronous) one_at_a_time = std::unique_lock(file_lock(file));
    LONGLONG offset = 0;
    if (transfer) {
        if (request.offset)
            offset = *request.offset;
        else if (synchronous)
            offset = file->CurrentByteOffset.QuadPart;
        else
            return STATUS_INVALID_PARAMETER;
        if (offset < 0 || !aligned_transfer(file, device, request, offset))
            return STATUS_INVALID_PARAMETER;
    }
    KeClearEvent(&file->Event);
    if (request.event) KeClearEvent(request.event);

    PIRP irp = allocate_irp(device->StackSize, file);
    irp->Flags = IRP_DEFER_IO_COMPLETION | (synchronous ? IRP_SYNCHRONOUS_API : 0);
    irp->RequestorMode = request.mode;
    irp->UserIosb = request.iosb;
    irp->UserEvent = request.event;
    set_user_event(irp, request.user_event);
    irp->Overlay.AsynchronousParameters.UserApcRoutine = request.apc;
    irp->Overlay.AsynchronousParameters.UserApcContext = request.apc_context;
    PIO_STACK_LOCATION stack = IoGetNextIrpStackLocation(irp);
    stack->MajorFunction = request.major;
    stack->FileObject = file;
    NTSTATUS status = transfer ? prepare_transfer(irp, stack, device, request, offset)
                               : prepare_control(irp, stack, request);
    if (!NT_SUCCESS(status)) {
        // Never sent: completed here with the failure, which touches nothing of the caller's.
        irp->IoStatus.Status = status;
        IoCompleteRequest(irp, IO_NO_INCREMENT);
        finish_deferred(irp);
        release_irp(irp);
        return status;
    }
    status = call_driver(device, irp);
    if (status != STATUS_PENDING) finish_deferred(irp);
    release_irp(irp);
    if (status == STATUS_PENDING && synchronous) {
        KeWaitForSingleObject(&file->Event, Executive, request.mode,
                              (file->Flags & FO_ALERTABLE_IO) != 0, nullptr);
        status = file->FinalStatus;
    }
    if (transfer && synchronous && NT_SUCCESS(status) && status != STATUS_PENDING)
        file->CurrentByteOffset.QuadPart = offset + request.iosb->Information;
    return status;
}

}  // namespace ntoskrnl::io
