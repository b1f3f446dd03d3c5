// kernel32's calls on any handle: closing it, and device I/O control.
#include "platform/core/object.h"
#include "platform/core/trace.h"

using namespace platform;

extern "C" BOOL WINAPI CloseHandle(HANDLE handle) {
    TRACE("kernel32", "CloseHandle(%p)", handle);
    auto object = handle_lookup(handle);
    if (!object) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (!object->close()) return FALSE;
    handle_erase(handle);
    return TRUE;
}

extern "C" BOOL WINAPI DeviceIoControl(HANDLE device, DWORD code, LPVOID in, DWORD in_size,
                                       LPVOID out, DWORD out_size, LPDWORD returned,
                                       LPOVERLAPPED overlapped) {
    TRACE("kernel32", "DeviceIoControl(%p, %#x, %p, %u, %p, %u, %p, %p)", device, code, in, in_size,
          out, out_size, static_cast<void*>(returned), static_cast<void*>(overlapped));
    auto target = handle_get<IoTarget>(device);
    if (!target) return FALSE;
    return target->device_io_control(code, in, in_size, out, out_size, returned, overlapped);
}
