// Orvik in the simulated kernel, driven from user mode as Kelvane drives it: each disk reached by
// CreateFileA on a name linked to "\Device\orvik\device<n>", image files under a temporary
// machine root, the mount record built field by field. At the end of each test the driver is
// unloaded and nothing of it may be left: no system thread, no "Orvk" pool, no IRP, no kernel
// handle, no directory.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/testing/kernel_controls.h"
#include "platform/win32.h"
#include "tests/support/test_folder.h"
#include "wire/orvik_interface.h"

using Key32 = std::array<uint8_t, 32>;

// The fields of fileDescriptor that a test sets; bytes() lays them out.
struct MountRecord {
    std::string file_name;  // "\??\C:\..."
    std::string device_path = "\\GLOBAL??\\";
    uint32_t chunk_size = 0x10000;
    int64_t file_size = 0;
    bool soft = true;
    Key32 key{};
    uint32_t guard1 = wire::file_descriptor::kGuardValue;
    uint32_t guard2 = wire::file_descriptor::kGuardValue;
    std::optional<uint16_t> file_name_length;  // the text's length when not given

    std::vector<uint8_t> bytes() const;
};

// A volume key with distinct halves.
Key32 test_key(uint8_t seed);

class Orvik : public ::testing::Test {
  protected:
    static constexpr char kService[] = "Orvik";
    static constexpr char kServiceKey[] = "SYSTEM\\CurrentControlSet\\Services\\Orvik";

    void SetUp() override;
    void TearDown() override;

    // Loads the driver, with "MaxDevices" set to max_devices or absent.
    NTSTATUS load(std::optional<uint32_t> max_devices = 3);
    // Closes every handle the test opened, unloads the driver and checks that nothing is left.
    void unload();

    // A handle to disk n (from 1), opened as the volume functions open it; closed by unload.
    // INVALID_HANDLE_VALUE (and the error in GetLastError) when the disk cannot be opened.
    HANDLE disk(unsigned n, DWORD flags = FILE_FLAG_NO_BUFFERING);
    void close(HANDLE handle);

    // IOCTL_ORVIK_OPEN_IMAGE with the record's bytes (cut or padded to size when given); 0 on
    // success, else the thread's last error.
    DWORD attach(HANDLE disk, const MountRecord& record, std::optional<size_t> size = {});
    DWORD attach(HANDLE disk, const std::vector<uint8_t>& bytes);
    DWORD detach(HANDLE disk);
    // A software-mode record for the image named relative in the test folder.
    MountRecord soft_record(const std::string& relative, int64_t file_size = 0,
                            uint8_t key_seed = 1) const;

    // DeviceIoControl with a buffer of out_size bytes (filled with 0xA5 first); 0 or the error.
    DWORD control(HANDLE disk, DWORD code, std::vector<uint8_t>* out, size_t out_size,
                  const std::vector<uint8_t>& in = {});
    // ReadFile and WriteFile at offset; 0 or the error, bytes moved in *moved.
    DWORD read(HANDLE disk, uint64_t offset, std::vector<uint8_t>& data, DWORD* moved = nullptr);
    DWORD write(HANDLE disk, uint64_t offset, const std::vector<uint8_t>& data,
                DWORD* moved = nullptr);

    // The Windows name in NT form ("\??\C:\...") of relative in the test folder.
    std::string nt_path(const std::string& relative) const {
        return "\\??\\" + folder_.win(relative);
    }

    TestFolder folder_;

  private:
    DWORD transfer(HANDLE disk, bool write, uint64_t offset, uint8_t* data, size_t length,
                   DWORD* moved);

    std::vector<HANDLE> handles_;
    std::vector<std::u16string> links_;
    size_t kernel_handles_at_start_ = 0;
    bool loaded_ = false;
};

// Bytes that differ from sector to sector.
std::vector<uint8_t> pattern(size_t size, uint8_t seed);

// The sectors at offset of an image file's bytes, decrypted by the OpenSSL-based XTS under key:
// sector k with the tweak k as u64 little-endian followed by 8 zero bytes.
std::vector<uint8_t> decrypt_sectors(const std::string& stored, const uint8_t* key, uint64_t offset,
                                     size_t length);

// The Win32 error a user-mode call reports for a request that ended with status.
inline DWORD error_of(NTSTATUS status) {
    return RtlNtStatusToDosError(status);
}
