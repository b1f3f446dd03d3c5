// One control-code request to the simulated vendor driver, whoever sends it: user mode's
// DeviceIoControl or, later, kernel mode's IRPs. The caller side decides how the buffers reach
// the driver (a system buffer shared by input and output for METHOD_BUFFERED codes, the caller's
// own buffers for METHOD_NEITHER); the buffers stay valid until the request is completed.
#pragma once

#include <atomic>
#include <cstdint>
#include <span>

namespace usbsim {

class Request {
  public:
    Request(uint32_t code, std::span<uint8_t> input, std::span<uint8_t> output)
        : code_(code), input_(input), output_(output) {}
    virtual ~Request() = default;
    Request(const Request&) = delete;
    Request& operator=(const Request&) = delete;

    // Who sent it (a handle's object, a file object); the driver cancels an owner's requests
    // when the owner goes away.
    void set_owner(const void* owner) { owner_ = owner; }
    const void* owner() const { return owner_; }

    uint32_t code() const { return code_; }
    std::span<uint8_t> input() const { return input_; }
    std::span<uint8_t> output() const { return output_; }

    // Ends the request with an NT status and the number of bytes returned; only the first call
    // counts.
    void complete(uint32_t nt_status, uint32_t information) {
        bool expected = false;
        if (!claimed_.compare_exchange_strong(expected, true)) return;
        status_ = nt_status;
        information_ = information;
        on_complete(nt_status, information);
        done_.store(true, std::memory_order_release);
    }
    bool completed() const { return done_.load(std::memory_order_acquire); }
    uint32_t status() const { return status_; }
    uint32_t information() const { return information_; }

  protected:
    virtual void on_complete(uint32_t nt_status, uint32_t information) = 0;

  private:
    uint32_t code_;
    const void* owner_ = nullptr;
    std::span<uint8_t> input_, output_;
    std::atomic<bool> claimed_{false}, done_{false};
    uint32_t status_ = 0, information_ = 0;
};

}  // namespace usbsim
