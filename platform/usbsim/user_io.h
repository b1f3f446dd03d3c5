// User mode's way to the vendor driver: the object behind a CreateFileA handle on a device's
// interface path, turning DeviceIoControl calls into driver requests.
#pragma once

#include <atomic>
#include <memory>

#include "platform/core/object.h"
#include "platform/usbsim/hardware.h"
#include "platform/usbsim/vendor_driver.h"

namespace usbsim {

class DriverHandle : public platform::IoTarget {
  public:
    DriverHandle(std::shared_ptr<VendorDriver> driver, std::shared_ptr<Hardware> hardware,
                 std::shared_ptr<std::atomic<size_t>> open_count);
    ~DriverHandle() override;
    BOOL close() override;
    BOOL device_io_control(DWORD code, LPVOID in, DWORD in_size, LPVOID out, DWORD out_size,
                           LPDWORD returned, LPOVERLAPPED overlapped) override;

  private:
    std::shared_ptr<VendorDriver> driver_;
    std::shared_ptr<Hardware> hardware_;
    std::shared_ptr<std::atomic<size_t>> open_count_;
};

}  // namespace usbsim
