// One control-code request to the simulated function driver: an IRP_MJ_DEVICE_CONTROL that user
// mode's DeviceIoControl or kernel mode's ZwDeviceIoControlFile sent. METHOD_BUFFERED codes see one
// system buffer as their input and output; METHOD_NEITHER codes (the direct transfer) the caller's
// own buffers. The buffers stay valid until the request is completed.
#pragma once

#include <atomic>
#include <cstdint>
#include <span>

#include "platform/wdm.h"

namespace sim::usb {

class Request {
  public:
    explicit Request(PIRP irp) : irp_(irp) {
        PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
        const auto& p = stack->Parameters.DeviceIoControl;
        code_ = p.IoControlCode;
        owner_ = stack->FileObject;
        auto* system = static_cast<uint8_t*>(irp->AssociatedIrp.SystemBuffer);
        if (METHOD_FROM_CTL_CODE(code_) == METHOD_NEITHER) {
            auto* in = static_cast<uint8_t*>(p.Type3InputBuffer);
            auto* out = static_cast<uint8_t*>(irp->UserBuffer);
            input_ = std::span(in, in ? p.InputBufferLength : 0);
            output_ = std::span(out, out ? p.OutputBufferLength : 0);
        } else if (system) {
            input_ = std::span(system, p.InputBufferLength);
            output_ = std::span(system, irp->UserBuffer ? p.OutputBufferLength : 0);
        }
    }
    Request(const Request&) = delete;
    Request& operator=(const Request&) = delete;

    // The file object that sent it; the driver cancels a file's requests at its cleanup.
    const void* owner() const { return owner_; }
    uint32_t code() const { return code_; }
    std::span<uint8_t> input() const { return input_; }
    std::span<uint8_t> output() const { return output_; }

    // Called before the request is kept past its dispatch routine (IoMarkIrpPending).
    void mark_pending() {
        if (!pending_.exchange(true)) IoMarkIrpPending(irp_);
    }
    bool pending() const { return pending_; }

    // Ends the request with an NT status and the number of bytes returned; only the first call
    // counts, and the IRP is not touched after it.
    void complete(uint32_t nt_status, uint32_t information) {
        if (claimed_.exchange(true)) return;
        status_ = nt_status;
        irp_->IoStatus.Status = static_cast<NTSTATUS>(nt_status);
        irp_->IoStatus.Information = information;
        IoCompleteRequest(irp_, IO_NO_INCREMENT);
    }
    uint32_t status() const { return status_; }

  private:
    PIRP irp_;
    uint32_t code_ = 0;
    const void* owner_ = nullptr;
    std::span<uint8_t> input_, output_;
    std::atomic<bool> pending_{false}, claimed_{false};
    uint32_t status_ = 0;
};

}  // namespace sim::usb
