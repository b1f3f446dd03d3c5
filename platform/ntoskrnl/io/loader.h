// The service loader: drivers loaded under a service name, from a shared library or by their
// entry point, and unloaded; what the test controls (platform/testing/kernel_controls.h) drive.
#pragma once

#include <string>

#include "platform/wdm.h"

namespace ntoskrnl::io {

// Loads a driver as the service named service: its key
// "\Registry\Machine\System\CurrentControlSet\Services\<service>" is made when missing, a driver
// object "\Driver\<service>" is created, and DriverEntry (exported by the shared library, or
// given) runs on a system thread with the key's path. The result is DriverEntry's status
// (STATUS_IMAGE_ALREADY_LOADED when the service is loaded already). A failed DriverEntry leaves
// nothing loaded; that it also left no device behind is checked.
NTSTATUS load_driver(const std::string& service, const std::string& library_path);
NTSTATUS load_driver(const std::string& service, PDRIVER_INITIALIZE entry);

// Unloads a loaded driver: new opens of its devices fail from now on, then, once no file is open
// on any of them (this waits), its unload routine runs on a system thread. Afterwards the driver
// must have deleted its devices and ended its system threads; otherwise the process stops, as a
// bug check would. STATUS_INVALID_DEVICE_REQUEST when the driver has no unload routine.
NTSTATUS unload_driver(const std::string& service);

// The driver object of a loaded service; null when it is not loaded.
PDRIVER_OBJECT loaded_driver(const std::string& service);

}  // namespace ntoskrnl::io
