// The system's message texts.
#include "platform/core/not_built.h"
#include "platform/win32.h"

extern "C" DWORD WINAPI FormatMessageA(DWORD, LPCVOID, DWORD, DWORD, LPSTR, DWORD, va_list*) {
    platform::not_built("FormatMessageA");
}
