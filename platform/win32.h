// The user-mode Windows surface that the system's code is written against. On Windows this is
// the SDK; on Linux it is the subset we use, declared by us and supplied by the platform library.
#pragma once

// windows.h comes first, and each SDK header after what it needs.
// clang-format off
#if defined(_WIN32)
#include <windows.h>
#include <wincrypt.h>
#include <setupapi.h>
#include <dbt.h>
#include <winioctl.h>
#include <ntddndis.h>
#include <sddl.h>
#include <shlobj.h>
// The loader calls DllMain by itself.
#define HALDEN_DLL_ENTRY(entry)
#else
#include "platform/api/windef.h"
#include "platform/api/winerror.h"
#include "platform/api/winbase.h"
#include "platform/api/libloaderapi.h"
#include "platform/api/synchapi.h"
#include "platform/api/processthreadsapi.h"
#include "platform/api/winuser.h"
#include "platform/api/dbt.h"
#include "platform/api/shlobj.h"
#include "platform/api/setupapi.h"
#include "platform/api/wincrypt.h"
#include "platform/api/winreg.h"
#include "platform/api/winioctl.h"
#include "platform/api/ntddndis.h"
#include "platform/api/crt.h"
#include "platform/api/security.h"
#endif
// clang-format on
