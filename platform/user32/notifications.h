// The faults and counts of device notifications (RegisterDeviceNotificationA,
// UnregisterDeviceNotification), as the test controls set and read them:
// platform/testing/notification_controls.h tells what each does.
#pragma once

#include <cstddef>

namespace platform {

void notifications_fail_register(bool fail);
void notifications_fail_unregister(bool fail);
size_t notifications_interface_registrations();
size_t notifications_handle_registrations();

}  // namespace platform
