// Device notifications. There is no window system here: a registration is checked and kept,
// and no WM_DEVICECHANGE is ever posted.
#include "platform/user32/notifications.h"

#include <atomic>
#include <mutex>

#include "platform/core/object.h"
#include "platform/core/trace.h"

namespace {

std::atomic<bool> failing_register{false};
std::atomic<bool> failing_unregister{false};
std::atomic<size_t> interface_registrations{0};
std::atomic<size_t> handle_registrations{0};

class Notification : public platform::Object {
  public:
    explicit Notification(DWORD kind) : kind_(kind) { counter()++; }
    ~Notification() override { counter()--; }
    BOOL close() override {
        if (failing_unregister) {
            SetLastError(ERROR_INVALID_HANDLE);
            return FALSE;
        }
        return TRUE;
    }

  private:
    std::atomic<size_t>& counter() {
        return kind_ == DBT_DEVTYP_HANDLE ? handle_registrations : interface_registrations;
    }
    DWORD kind_;
};

}  // namespace

namespace platform {

void notifications_fail_register(bool fail) {
    failing_register = fail;
}

void notifications_fail_unregister(bool fail) {
    failing_unregister = fail;
}

size_t notifications_interface_registrations() {
    return interface_registrations;
}

size_t notifications_handle_registrations() {
    return handle_registrations;
}

}  // namespace platform

extern "C" HDEVNOTIFY WINAPI RegisterDeviceNotificationA(HANDLE recipient, LPVOID filter,
                                                         DWORD flags) {
    TRACE("user32", "RegisterDeviceNotificationA(%p, %p, %#x)", recipient, filter, flags);
    if (!recipient || !filter || (flags & DEVICE_NOTIFY_SERVICE_HANDLE)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    const auto* header = static_cast<const DEV_BROADCAST_HDR*>(filter);
    DWORD kind = header->dbch_devicetype;
    bool valid =
        (kind == DBT_DEVTYP_DEVICEINTERFACE &&
         header->dbch_size >= sizeof(DEV_BROADCAST_DEVICEINTERFACE_A)) ||
        (kind == DBT_DEVTYP_HANDLE && header->dbch_size >= sizeof(DEV_BROADCAST_HANDLE) &&
         platform::handle_lookup(static_cast<const DEV_BROADCAST_HANDLE*>(filter)->dbch_handle));
    if (!valid) {
        SetLastError(ERROR_INVALID_DATA);
        return nullptr;
    }
    if (failing_register) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    return platform::handle_insert(std::make_shared<Notification>(kind));
}

extern "C" BOOL WINAPI UnregisterDeviceNotification(HDEVNOTIFY notification) {
    TRACE("user32", "UnregisterDeviceNotification(%p)", notification);
    if (!platform::handle_get<Notification>(notification)) return FALSE;
    return CloseHandle(notification);
}
