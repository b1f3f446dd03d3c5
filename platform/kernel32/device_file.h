// The handle of an open device: CreateFileA on a device name opens its file object through the
// I/O manager; ReadFile, WriteFile and DeviceIoControl become its requests, as NtReadFile,
// NtWriteFile and NtDeviceIoControlFile make them; CloseHandle is the file's last handle
// (IRP_MJ_CLEANUP, then IRP_MJ_CLOSE once no request holds it). The handle is waitable: it is
// signalled when a request without an event of its own ends.
#pragma once

#include <string>

#include "platform/core/object.h"
#include "platform/ntoskrnl/ke/event.h"
#include "platform/wdm.h"

namespace platform {

class DeviceFile : public IoTarget, public ntoskrnl::Waitable {
  public:
    // Takes over the caller's reference to file, and is its handle.
    explicit DeviceFile(PFILE_OBJECT file);
    ~DeviceFile() override;
    BOOL close() override;
    BOOL device_io_control(DWORD code, LPVOID in, DWORD in_size, LPVOID out, DWORD out_size,
                           LPDWORD returned, LPOVERLAPPED overlapped) override;
    // ReadFile (write false) or WriteFile (write true; buffer is only read).
    BOOL transfer(bool write, LPVOID buffer, DWORD length, LPDWORD transferred,
                  LPOVERLAPPED overlapped);
    bool wait(DWORD timeout_ms) override;

  private:
    PFILE_OBJECT file_;
    bool closed_ = false;
};

// CreateFileA on a name that is not a file ("\??\usb#...", "\??\Q:"): a handle to the device it
// names, or INVALID_HANDLE_VALUE with the last error set (ERROR_FILE_NOT_FOUND for a name that
// names nothing, ERROR_PATH_NOT_FOUND for a link to a missing directory, ...).
HANDLE open_device(const std::string& nt_path, DWORD access, DWORD share, DWORD disposition,
                   DWORD flags);

}  // namespace platform
