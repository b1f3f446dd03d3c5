// The shell's change notifications that programs sent (SHChangeNotify), in order, as the test
// controls read them.
#pragma once

#include <string>
#include <vector>

#include "platform/win32.h"

namespace platform {

struct ShellNotification {
    LONG event;                // SHCNE_DRIVEADD, ...
    UINT flags;                // SHCNF_PATHA, ...
    std::string item1, item2;  // the paths given with SHCNF_PATHA ("" for none or another kind)
};

std::vector<ShellNotification> shell_notifications();
void clear_shell_notifications();

}  // namespace platform
