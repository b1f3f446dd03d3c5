// Test controls of the shell: the change notifications programs sent (SHChangeNotify), in order.
#pragma once

#include <string>
#include <vector>

#include "platform/shell32/change_notify.h"

namespace sim {

using ShellNotification = platform::ShellNotification;

std::vector<ShellNotification> shell_notifications();
void clear_shell_notifications();

}  // namespace sim
