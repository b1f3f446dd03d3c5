// Keeps the thread's last error across clean-up and logging, so that an error text written after
// them still describes the failure.
#pragma once

#include "platform/win32.h"

class KeepLastError {
  public:
    KeepLastError() : error_(GetLastError()) {}
    ~KeepLastError() { SetLastError(error_); }
    KeepLastError(const KeepLastError&) = delete;
    KeepLastError& operator=(const KeepLastError&) = delete;

  private:
    DWORD error_;
};
