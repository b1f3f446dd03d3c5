// Device notifications (RegisterDeviceNotificationA / UnregisterDeviceNotification): the faults
// and counts of the test controls (platform/testing/notification_controls.h).
#pragma once

#include <cstddef>

namespace platform {

// While set, RegisterDeviceNotificationA fails (ERROR_NOT_ENOUGH_MEMORY).
void notifications_fail_register(bool fail);
// While set, UnregisterDeviceNotification refuses (ERROR_INVALID_HANDLE) and keeps the
// registration.
void notifications_fail_unregister(bool fail);
// Registrations that are currently held, of each filter kind.
size_t notifications_interface_registrations();
size_t notifications_handle_registrations();

}  // namespace platform
