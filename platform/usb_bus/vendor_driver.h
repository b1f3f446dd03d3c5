// The USB bridge vendor's function driver for one simulated device: it answers every control
// code of the vendor's interface on the device's behalf, whoever sent the request (user mode or
// kernel mode, both through IRPs).
#pragma once

#include <chrono>
#include <condition_variable>
#include <list>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

#include "platform/usb_bus/hardware.h"
#include "platform/usb_bus/request.h"

namespace sim::usb {

// The vendor's control codes (device type 0x22).
namespace code {
constexpr uint32_t kDriverVersion = 0x220000, kUsbdiVersion = 0x220004;
constexpr uint32_t kGetAltSetting = 0x220008, kSetAltSetting = 0x22000C;
constexpr uint32_t kGetAddress = 0x220010, kGetPowerState = 0x220018, kSetPowerState = 0x22001C;
constexpr uint32_t kControlTransfer = 0x220020, kBufferedTransfer = 0x220024;
constexpr uint32_t kCyclePort = 0x220028, kResetPipe = 0x22002C, kResetPort = 0x220030;
constexpr uint32_t kGetTransferSize = 0x220034, kSetTransferSize = 0x220038;
constexpr uint32_t kDriverName = 0x22003C, kFriendlyName = 0x220040, kAbortPipe = 0x220044;
constexpr uint32_t kDirectTransfer = 0x22004B, kGetSpeed = 0x22004C;
}  // namespace code

class VendorDriver {
  public:
    explicit VendorDriver(std::shared_ptr<Hardware> hardware);
    ~VendorDriver();
    VendorDriver(const VendorDriver&) = delete;
    VendorDriver& operator=(const VendorDriver&) = delete;

    // Takes one request; it is completed before this returns, or marked pending and completed
    // later, from the worker thread, by an abort, a cleanup, or the device's removal.
    void dispatch(const std::shared_ptr<Request>& request);
    // Ends the pending requests of one owner as cancelled, as closing a handle does.
    void cancel_owner(const void* owner);
    // The device is gone: pending transfers end, later requests fail, the worker stops.
    void remove();
    size_t pending() const;

  private:
    struct Transfer {
        std::shared_ptr<Request> request;
        uint8_t endpoint = 0;
        bool in = false;
        bool control = false;
        SetupPacket setup;
        std::span<uint8_t> envelope;  // where the status words go
        std::span<uint8_t> data;      // the host's data (OUT) or the room for the answer (IN)
        std::span<uint8_t> packets;   // isochronous packet records, or empty
        uint32_t data_offset = 0;     // counted in the bytes returned
        bool staging = false;         // an IN answer waits in staged until the transfer ends
        std::vector<uint8_t> staged;
        Reply reply;
        EndpointFault fault;
        std::optional<std::chrono::steady_clock::time_point> due;
        bool waiting = false;  // parked until an abort (or, after a NAK, a retry)
        uint32_t aborts_left = 0;
        TransferRecord record;
    };

    void start_transfer(const std::shared_ptr<Request>& request);
    void ask_device(Transfer& transfer);
    bool queued_behind_not_ready(uint8_t endpoint) const;
    void schedule(Transfer transfer);
    void finish(Transfer& transfer, uint32_t irp_status, uint32_t nt_word, uint32_t usbd_word,
                uint32_t bytes, bool aborted);
    void finish_normally(Transfer& transfer);
    void retry_not_ready();
    void abort_endpoint(uint8_t endpoint);
    void run_worker();
    void answer_simple(const std::shared_ptr<Request>& request);

    std::shared_ptr<Hardware> hardware_;
    mutable std::mutex lock_;
    std::condition_variable wake_;
    std::list<Transfer> pending_;
    bool removed_ = false;
    std::thread worker_;
};

}  // namespace sim::usb
