// The mount manager's queries to a volume device.
#pragma once

#include "platform/api/winioctl.h"

#define MOUNTDEVCONTROLTYPE 0x0000004D
#define IOCTL_MOUNTDEV_QUERY_DEVICE_NAME \
    CTL_CODE(MOUNTDEVCONTROLTYPE, 2, METHOD_BUFFERED, FILE_ANY_ACCESS)

typedef struct _MOUNTDEV_NAME {
    USHORT NameLength;  // bytes
    WCHAR Name[1];
} MOUNTDEV_NAME, *PMOUNTDEV_NAME;

static_assert(IOCTL_MOUNTDEV_QUERY_DEVICE_NAME == 0x4D0008);
static_assert(sizeof(MOUNTDEV_NAME) == 4);
