#include "platform/usbsim/user_io.h"

#include <condition_variable>
#include <cstring>
#include <mutex>
#include <vector>

#include "platform/kernel32/overlapped.h"
#include "platform/ntdll/ntstatus.h"

namespace usbsim {
namespace {

constexpr DWORD kMethodMask = 3, kMethodBuffered = 0, kMethodNeither = 3;

// A request from DeviceIoControl. METHOD_BUFFERED codes get a system buffer that holds the input
// and receives the output, copied back to the caller when the request ends without an error
// status; METHOD_NEITHER codes hand the driver the caller's own buffers.
class UserRequest : public Request {
  public:
    UserRequest(DWORD code, std::vector<uint8_t> system, std::span<uint8_t> input,
                std::span<uint8_t> output, uint8_t* caller_out, OVERLAPPED* overlapped)
        : Request(code, input, output),
          system_(std::move(system)),
          caller_out_(caller_out),
          overlapped_(overlapped) {}

    static std::shared_ptr<UserRequest> make(DWORD code, LPVOID in, DWORD in_size, LPVOID out,
                                             DWORD out_size, OVERLAPPED* overlapped) {
        auto* in_bytes = static_cast<uint8_t*>(in);
        auto* out_bytes = static_cast<uint8_t*>(out);
        if ((code & kMethodMask) == kMethodNeither) {
            return std::make_shared<UserRequest>(
                code, std::vector<uint8_t>(), std::span(in_bytes, in_bytes ? in_size : 0),
                std::span(out_bytes, out_bytes ? out_size : 0), nullptr, overlapped);
        }
        std::vector<uint8_t> system(std::max(in_size, out_size));
        if (in_bytes && in_size) std::memcpy(system.data(), in_bytes, in_size);
        std::span<uint8_t> whole(system);
        auto input = whole.first(in_bytes ? in_size : 0);
        auto output = whole.first(out_bytes ? out_size : 0);
        // The spans point into the vector's heap block, which moving the vector keeps.
        return std::make_shared<UserRequest>(code, std::move(system), input, output, out_bytes,
                                             overlapped);
    }

    void wait() {
        std::unique_lock guard(lock_);
        ended_.wait(guard, [this] { return done_; });
    }

  protected:
    void on_complete(uint32_t status, uint32_t information) override {
        bool error = (status >> 30) == 3;
        if (caller_out_ && !error) {
            size_t n = std::min<size_t>(information, output().size());
            if (n) std::memcpy(caller_out_, system_.data(), n);
        }
        if (overlapped_) platform::overlapped_complete(overlapped_, status, information);
        {
            std::lock_guard guard(lock_);
            done_ = true;
        }
        ended_.notify_all();
    }

  private:
    std::vector<uint8_t> system_;
    uint8_t* caller_out_;
    OVERLAPPED* overlapped_;
    std::mutex lock_;
    std::condition_variable ended_;
    bool done_ = false;
};

}  // namespace

DriverHandle::DriverHandle(std::shared_ptr<VendorDriver> driver, std::shared_ptr<Hardware> hardware,
                           std::shared_ptr<std::atomic<size_t>> open_count)
    : driver_(std::move(driver)),
      hardware_(std::move(hardware)),
      open_count_(std::move(open_count)) {
    ++*open_count_;
}

DriverHandle::~DriverHandle() {
    --*open_count_;
}

BOOL DriverHandle::close() {
    if (hardware_->faults().close_refused) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    // Closing the last handle cancels what it left pending, so that nothing completes into the
    // caller's buffers afterwards.
    driver_->cancel_owner(this);
    return TRUE;
}

BOOL DriverHandle::device_io_control(DWORD code, LPVOID in, DWORD in_size, LPVOID out,
                                     DWORD out_size, LPDWORD returned, LPOVERLAPPED overlapped) {
    DWORD method = code & kMethodMask;
    if (method != kMethodBuffered && method != kMethodNeither) {
        SetLastError(ERROR_INVALID_FUNCTION);
        return FALSE;
    }
    if (!overlapped && !returned) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    auto request = UserRequest::make(code, in, in_size, out, out_size, overlapped);
    request->set_owner(this);
    if (overlapped) platform::overlapped_begin(overlapped);
    driver_->dispatch(request);
    if (!overlapped)
        request->wait();
    else if (!request->completed()) {
        SetLastError(ERROR_IO_PENDING);
        return FALSE;
    }
    if (returned) *returned = request->information();
    if (platform::nt_failed(request->status())) {
        SetLastError(platform::nt_status_to_error(request->status()));
        return FALSE;
    }
    return TRUE;
}

}  // namespace usbsim
