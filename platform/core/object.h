// The platform library's object model: every HANDLE names one Object in the process-wide table.
#pragma once

#include <memory>

#include "platform/win32.h"

namespace platform {

class Object {
  public:
    virtual ~Object() = default;
    // Called by CloseHandle before the table drops its reference; FALSE with the last error set
    // refuses the close (the handle stays valid).
    virtual BOOL close() { return TRUE; }
};

// An object that takes device I/O: devices and files.
class IoTarget : public virtual Object {
  public:
    // As DeviceIoControl: TRUE on success; FALSE with the last error set. With an OVERLAPPED the
    // target may return FALSE with ERROR_IO_PENDING and complete the record later.
    virtual BOOL device_io_control(DWORD code, LPVOID in, DWORD in_size, LPVOID out, DWORD out_size,
                                   LPDWORD returned, LPOVERLAPPED overlapped) {
        (void)code, (void)in, (void)in_size, (void)out, (void)out_size, (void)returned,
            (void)overlapped;
        SetLastError(ERROR_INVALID_FUNCTION);
        return FALSE;
    }
};

HANDLE handle_insert(std::shared_ptr<Object> object);
// Drops the handle from the table; false when it names nothing.
bool handle_erase(HANDLE handle);

// The object behind handle if it is of kind T; otherwise null with ERROR_INVALID_HANDLE set.
std::shared_ptr<Object> handle_lookup(HANDLE handle);
template <class T>
std::shared_ptr<T> handle_get(HANDLE handle) {
    auto object = std::dynamic_pointer_cast<T>(handle_lookup(handle));
    if (!object) SetLastError(ERROR_INVALID_HANDLE);
    return object;
}

}  // namespace platform
