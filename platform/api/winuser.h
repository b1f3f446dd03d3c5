// user32: device notifications.
#pragma once

#include "platform/api/windef.h"

typedef PVOID HDEVNOTIFY;

#define DEVICE_NOTIFY_WINDOW_HANDLE 0x00000000u
#define DEVICE_NOTIFY_SERVICE_HANDLE 0x00000001u
#define DEVICE_NOTIFY_ALL_INTERFACE_CLASSES 0x00000004u

extern "C" {

// Registers recipient for the device events that filter (a DEV_BROADCAST_DEVICEINTERFACE_A or
// DEV_BROADCAST_HANDLE record) selects. This machine has no window system: registrations are
// kept and checked, and no message is ever posted.
HDEVNOTIFY WINAPI RegisterDeviceNotificationA(HANDLE recipient, LPVOID filter, DWORD flags);
BOOL WINAPI UnregisterDeviceNotification(HDEVNOTIFY notification);

}  // extern "C"
