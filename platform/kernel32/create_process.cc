// Processes started by command line.
#include "platform/core/not_built.h"
#include "platform/win32.h"

extern "C" BOOL WINAPI CreateProcessA(LPCSTR, LPSTR, LPSECURITY_ATTRIBUTES, LPSECURITY_ATTRIBUTES,
                                      BOOL, DWORD, LPVOID, LPCSTR, LPSTARTUPINFOA,
                                      LPPROCESS_INFORMATION) {
    platform::not_built("CreateProcessA");
}

extern "C" BOOL WINAPI GetExitCodeProcess(HANDLE, LPDWORD) {
    platform::not_built("GetExitCodeProcess");
}
