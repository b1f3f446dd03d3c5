// Test controls of device notifications (RegisterDeviceNotificationA /
// UnregisterDeviceNotification).
#pragma once

#include <cstddef>

namespace sim {

// While set, RegisterDeviceNotificationA fails (ERROR_NOT_ENOUGH_MEMORY).
void notifications_fail_register(bool fail);
// While set, UnregisterDeviceNotification refuses (ERROR_INVALID_HANDLE) and keeps the
// registration.
void notifications_fail_unregister(bool fail);
// Registrations that are currently held, of each filter kind.
size_t notifications_interface_registrations();
size_t notifications_handle_registrations();

}  // namespace sim
