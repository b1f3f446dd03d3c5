// The service loader: drivers loaded under a service name, from a shared library or by their
// entry point, and unloaded, with the checks a bug check would make. The test controls drive it;
// platform/testing/kernel_controls.h tells what each step does.
#pragma once

#include <string>

#include "platform/wdm.h"

namespace ntoskrnl::io {

NTSTATUS load_driver(const std::string& service, const std::string& library_path);
NTSTATUS load_driver(const std::string& service, PDRIVER_INITIALIZE entry);
NTSTATUS unload_driver(const std::string& service);

// The driver object of a loaded service; null when it is not loaded.
PDRIVER_OBJECT loaded_driver(const std::string& service);

}  // namespace ntoskrnl::io
