#include "platform/testing/shell_controls.h"

namespace sim {

std::vector<ShellNotification> shell_notifications() {
    return platform::shell_notifications();
}

void clear_shell_notifications() {
    platform::clear_shell_notifications();
}

}  // namespace sim
