// A drive ("\\.\X:") opened through the Win32 calls, for the simulation's volume tools (the format
// program and the test controls' volume access): its size and geometry, and its sectors copied to
// and from a temporary host image.
#pragma once

#include <string>
#include <vector>

#include "platform/unix/host_image.h"
#include "platform/win32.h"

namespace platform {

class Drive {
  public:
    Drive() = default;
    ~Drive();
    Drive(const Drive&) = delete;
    Drive& operator=(const Drive&) = delete;

    // Opens "\\.\<letter>:" for reading and writing whole sectors, sharing both. On failure
    // *error says what failed and the system's error is GetLastError's.
    bool open(char letter, std::string* error);
    HANDLE handle() const { return handle_; }

    // DeviceIoControl with the drive's fixed records; false with *error set.
    bool control(DWORD code, const void* in, DWORD in_size, void* out, DWORD out_size,
                 std::string* error);
    bool length(uint64_t* bytes, std::string* error);

    // The drive's first image.size() bytes (whole sectors) into image.
    bool read_into(host::TemporaryImage& image, std::string* error);
    // The ranges of image, each rounded out to whole sectors, onto the drive at the same offsets.
    bool write_from(const host::TemporaryImage& image, const std::vector<host::Range>& ranges,
                    std::string* error);

  private:
    bool transfer(bool write, uint64_t offset, void* data, DWORD length, std::string* error);
    HANDLE handle_ = INVALID_HANDLE_VALUE;
    std::string name_;
};

// The sector size of every drive the tools work on.
constexpr uint64_t kDriveSectorSize = 512;

}  // namespace platform
