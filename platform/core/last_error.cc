// The calling thread's last error (GetLastError, SetLastError): thread state below every DLL that
// sets it, as Windows keeps it in the thread's environment block.
#include "platform/win32.h"

namespace {
thread_local DWORD last_error = ERROR_SUCCESS;
}

extern "C" DWORD WINAPI GetLastError() {
    return last_error;
}
extern "C" void WINAPI SetLastError(DWORD error) {
    last_error = error;
}
