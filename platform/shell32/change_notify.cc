// The shell's change notifications. No shell runs here to refresh what it shows: each
// notification is recorded for the test controls (platform/testing/shell_controls.h).
#include "platform/shell32/change_notify.h"

#include <mutex>

#include "platform/core/trace.h"

namespace {

struct Notifications {
    std::mutex lock;
    std::vector<platform::ShellNotification> sent;
};

Notifications& notifications() {
    static Notifications* instance = new Notifications;
    return *instance;
}

std::string path_item(UINT flags, LPCVOID item) {
    return (flags & SHCNF_TYPE) == SHCNF_PATHA && item ? static_cast<const char*>(item) : "";
}

}  // namespace

extern "C" void WINAPI SHChangeNotify(LONG event_id, UINT flags, LPCVOID item1, LPCVOID item2) {
    const std::string first = path_item(flags, item1), second = path_item(flags, item2);
    TRACE("shell32", "SHChangeNotify(%#lx, %#x, \"%s\", \"%s\")", static_cast<long>(event_id),
          flags, first.c_str(), second.c_str());
    auto& n = notifications();
    std::lock_guard guard(n.lock);
    n.sent.push_back({event_id, flags, first, second});
}

namespace platform {

std::vector<ShellNotification> shell_notifications() {
    auto& n = notifications();
    std::lock_guard guard(n.lock);
    return n.sent;
}

void clear_shell_notifications() {
    auto& n = notifications();
    std::lock_guard guard(n.lock);
    n.sent.clear();
}

}  // namespace platform
