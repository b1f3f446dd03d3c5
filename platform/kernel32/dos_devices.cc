// MS-DOS device names and drive letters.
#include "platform/core/not_built.h"
#include "platform/win32.h"

extern "C" BOOL WINAPI DefineDosDeviceA(DWORD, LPCSTR, LPCSTR) {
    platform::not_built("DefineDosDeviceA");
}

extern "C" DWORD WINAPI QueryDosDeviceA(LPCSTR, LPSTR, DWORD) {
    platform::not_built("QueryDosDeviceA");
}

extern "C" DWORD WINAPI GetLogicalDrives() {
    platform::not_built("GetLogicalDrives");
}
