// advapi32: the registry calls the system reads with.
#pragma once

#include "platform/api/winbase.h"

typedef HANDLE HKEY;
typedef HKEY* PHKEY;
typedef LONG LSTATUS;

// Predefined keys are sign-extended 32-bit values, as in the SDK.
#define HKEY_LOCAL_MACHINE \
    (reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(static_cast<LONG>(0x80000002))))

#define REG_NONE 0u
#define REG_SZ 1u
#define REG_BINARY 3u
#define REG_DWORD 4u

extern "C" {

// Results are Win32 error codes (ERROR_SUCCESS, ERROR_FILE_NOT_FOUND, ERROR_MORE_DATA, ...).
LSTATUS WINAPI RegOpenKeyA(HKEY key, LPCSTR sub_key, PHKEY result);
LSTATUS WINAPI RegEnumKeyExA(HKEY key, DWORD index, LPSTR name, LPDWORD name_size, LPDWORD reserved,
                             LPSTR class_name, LPDWORD class_size, PFILETIME last_write_time);
LSTATUS WINAPI RegQueryValueExA(HKEY key, LPCSTR value_name, LPDWORD reserved, LPDWORD type,
                                LPBYTE data, LPDWORD data_size);
LSTATUS WINAPI RegCloseKey(HKEY key);

}  // extern "C"
