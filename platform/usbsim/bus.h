// The simulated bus as the rest of the platform layer sees it.
#pragma once

#include <memory>
#include <string>

#include "platform/usbsim/vendor_driver.h"

namespace usbsim {

// The function driver of the plugged device whose interface path is path (compared without
// regard to case), or null. Kernel-mode callers reach the same driver through it.
std::shared_ptr<VendorDriver> driver_for_path(const std::string& path);

}  // namespace usbsim
