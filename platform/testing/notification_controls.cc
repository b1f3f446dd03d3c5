#include "platform/testing/notification_controls.h"

#include "platform/user32/notifications.h"

namespace sim {

void notifications_fail_register(bool fail) {
    platform::notifications_fail_register(fail);
}

void notifications_fail_unregister(bool fail) {
    platform::notifications_fail_unregister(fail);
}

size_t notifications_interface_registrations() {
    return platform::notifications_interface_registrations();
}

size_t notifications_handle_registrations() {
    return platform::notifications_handle_registrations();
}

}  // namespace sim
