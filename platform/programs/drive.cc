#include "platform/programs/drive.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>

namespace platform {
namespace {

// Transfers go in pieces of at most this, through one sector-aligned buffer.
constexpr DWORD kChunk = 1 << 20;

struct FreeAligned {
    void operator()(void* block) const { std::free(block); }
};

std::unique_ptr<char, FreeAligned> aligned_buffer() {
    return std::unique_ptr<char, FreeAligned>(static_cast<char*>(std::aligned_alloc(4096, kChunk)));
}

std::string failed(const std::string& what) {
    return what + " failed with error " + std::to_string(GetLastError());
}

}  // namespace

Drive::~Drive() {
    if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
}

bool Drive::open(char letter, std::string* error) {
    name_ = std::string("\\\\.\\") + letter + ':';
    handle_ =
        CreateFileA(name_.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_EXISTING, FILE_FLAG_NO_BUFFERING, nullptr);
    if (handle_ == INVALID_HANDLE_VALUE) *error = failed("CreateFile " + name_);
    return handle_ != INVALID_HANDLE_VALUE;
}

bool Drive::control(DWORD code, const void* in, DWORD in_size, void* out, DWORD out_size,
                    std::string* error) {
    DWORD returned = 0;
    if (DeviceIoControl(handle_, code, const_cast<void*>(in), in_size, out, out_size, &returned,
                        nullptr) &&
        returned == out_size)
        return true;
    char code_text[16];
    std::snprintf(code_text, sizeof code_text, "%#x", static_cast<unsigned>(code));
    *error = failed(std::string("DeviceIoControl ") + code_text + " on " + name_);
    return false;
}

bool Drive::length(uint64_t* bytes, std::string* error) {
    GET_LENGTH_INFORMATION length{};
    if (!control(IOCTL_DISK_GET_LENGTH_INFO, nullptr, 0, &length, sizeof length, error))
        return false;
    *bytes = static_cast<uint64_t>(length.Length.QuadPart);
    return true;
}

bool Drive::transfer(bool write, uint64_t offset, void* data, DWORD length, std::string* error) {
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    DWORD done = 0;
    const BOOL ok = write ? WriteFile(handle_, data, length, &done, &at)
                          : ReadFile(handle_, data, length, &done, &at);
    if (ok && done == length) return true;
    *error = failed(std::string(write ? "WriteFile" : "ReadFile") + " on " + name_ + " at " +
                    std::to_string(offset));
    return false;
}

bool Drive::read_into(host::TemporaryImage& image, std::string* error) {
    auto buffer = aligned_buffer();
    const uint64_t end = image.size() / kDriveSectorSize * kDriveSectorSize;
    for (uint64_t offset = 0; offset < end;) {
        const auto length = static_cast<DWORD>(std::min<uint64_t>(kChunk, end - offset));
        if (!transfer(false, offset, buffer.get(), length, error)) return false;
        if (!image.write(offset, buffer.get(), length)) {
            *error = "the temporary image " + image.path() + " cannot be written";
            return false;
        }
        offset += length;
    }
    return true;
}

bool Drive::write_from(const host::TemporaryImage& image, const std::vector<host::Range>& ranges,
                       std::string* error) {
    auto buffer = aligned_buffer();
    const uint64_t limit = image.size() / kDriveSectorSize * kDriveSectorSize;
    for (const auto& range : ranges) {
        uint64_t offset = range.offset / kDriveSectorSize * kDriveSectorSize;
        const uint64_t end = std::min(limit, (range.offset + range.length + kDriveSectorSize - 1) /
                                                 kDriveSectorSize * kDriveSectorSize);
        while (offset < end) {
            const auto length = static_cast<DWORD>(std::min<uint64_t>(kChunk, end - offset));
            if (!image.read(offset, buffer.get(), length)) {
                *error = "the temporary image " + image.path() + " cannot be read";
                return false;
            }
            if (!transfer(true, offset, buffer.get(), length, error)) return false;
            offset += length;
        }
    }
    return true;
}

}  // namespace platform
