#include "tests/support/orvik_test.h"

#include <cstring>

#include "base/byte_access.h"
#include "oracles/openssl_sm4_xts.h"
#include "platform/testing/registry_controls.h"

namespace fd = wire::file_descriptor;

std::vector<uint8_t> MountRecord::bytes() const {
    std::vector<uint8_t> out(fd::kSize, 0);
    std::memcpy(out.data() + fd::kFileName, file_name.data(),
                std::min<size_t>(file_name.size(), fd::kFileNameSize));
    bytes::store_le32(out.data() + fd::kGuard1, guard1);
    std::memcpy(out.data() + fd::kDevicePath, device_path.data(),
                std::min<size_t>(device_path.size(), fd::kDevicePathSize));
    bytes::store_le32(out.data() + fd::kGuard2, guard2);
    bytes::store_le16(out.data() + fd::kFileNameLength,
                      file_name_length.value_or(static_cast<uint16_t>(file_name.size())));
    bytes::store_le16(out.data() + fd::kDevicePathLength,
                      static_cast<uint16_t>(device_path.size()));
    bytes::store_le32(out.data() + fd::kChunkSize, chunk_size);
    bytes::store_le64(out.data() + fd::kFileSize, static_cast<uint64_t>(file_size));
    out[fd::kSoft] = soft ? 1 : 0;
    std::memcpy(out.data() + fd::kKey1, key.data(), key.size());
    return out;
}

Key32 test_key(uint8_t seed) {
    Key32 key;
    for (size_t i = 0; i < key.size(); ++i) key[i] = static_cast<uint8_t>(seed * 37 + i * 11 + 5);
    return key;
}

std::vector<uint8_t> pattern(size_t size, uint8_t seed) {
    std::vector<uint8_t> data(size);
    for (size_t i = 0; i < size; ++i)
        data[i] = static_cast<uint8_t>(seed + i * 7 + (i >> 9) * 13 + (i >> 17));
    return data;
}

std::vector<uint8_t> decrypt_sectors(const std::string& stored, const uint8_t* key, uint64_t offset,
                                     size_t length) {
    EXPECT_GE(stored.size(), offset + length);
    std::vector<uint8_t> plain(length);
    const size_t sectors =
        offset >= stored.size() ? 0 : std::min<size_t>(length, stored.size() - offset) / 512;
    oracles::OpensslSm4Xts oracle;
    EXPECT_TRUE(oracle.crypt_sectors(key, offset / 512,
                                     reinterpret_cast<const uint8_t*>(stored.data()) + offset,
                                     sectors * 512, plain.data(), false));
    return plain;
}

void Orvik::SetUp() {
    sim::registry_delete_key(kServiceKey);
    sim::kernel::clear_debug_output();
    kernel_handles_at_start_ = sim::kernel::kernel_handles();
}

void Orvik::TearDown() {
    if (loaded_) unload();
    sim::kernel::pool_clear_faults();
    sim::kernel::fail_extended_state_saves(0);
    sim::kernel::hide_system_routines({});
}

NTSTATUS Orvik::load(std::optional<uint32_t> max_devices) {
    if (max_devices) sim::registry_set_dword(kServiceKey, "MaxDevices", *max_devices);
    const NTSTATUS status = sim::kernel::load_driver(kService, ORVIK_LIBRARY);
    loaded_ = NT_SUCCESS(status);
    return status;
}

void Orvik::unload() {
    for (HANDLE handle : handles_) EXPECT_TRUE(CloseHandle(handle));
    handles_.clear();
    for (const auto& name : links_) {
        UNICODE_STRING link{static_cast<USHORT>(name.size() * 2),
                            static_cast<USHORT>(name.size() * 2),
                            const_cast<char16_t*>(name.data())};
        IoDeleteSymbolicLink(&link);
    }
    links_.clear();
    ASSERT_TRUE(loaded_);
    loaded_ = false;
    ASSERT_EQ(sim::kernel::unload_driver(kService), STATUS_SUCCESS);
    EXPECT_TRUE(sim::kernel::system_threads().empty());
    EXPECT_EQ(sim::kernel::pool_live_bytes("Orvk"), 0u);
    EXPECT_EQ(sim::kernel::live_irps(), 0u);
    EXPECT_EQ(sim::kernel::kernel_handles(), kernel_handles_at_start_);
    EXPECT_FALSE(sim::kernel::object_exists("\\Device\\orvik"));
}

HANDLE Orvik::disk(unsigned n, DWORD flags) {
    const std::string name = "OrvikDisk" + std::to_string(n) + "." + std::to_string(links_.size());
    std::u16string link = u"\\??\\" + std::u16string(name.begin(), name.end());
    std::string target_text = "\\Device\\orvik\\device" + std::to_string(n);
    std::u16string target(target_text.begin(), target_text.end());
    UNICODE_STRING link_string{static_cast<USHORT>(link.size() * 2),
                               static_cast<USHORT>(link.size() * 2), link.data()};
    UNICODE_STRING target_string{static_cast<USHORT>(target.size() * 2),
                                 static_cast<USHORT>(target.size() * 2), target.data()};
    EXPECT_EQ(IoCreateSymbolicLink(&link_string, &target_string), STATUS_SUCCESS);
    links_.push_back(link);
    HANDLE handle =
        CreateFileA(("\\\\.\\" + name).c_str(), GENERIC_READ | GENERIC_WRITE,
                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, flags, nullptr);
    if (handle != INVALID_HANDLE_VALUE) handles_.push_back(handle);
    return handle;
}

void Orvik::close(HANDLE handle) {
    std::erase(handles_, handle);
    EXPECT_TRUE(CloseHandle(handle));
}

DWORD Orvik::attach(HANDLE disk, const MountRecord& record, std::optional<size_t> size) {
    std::vector<uint8_t> bytes = record.bytes();
    if (size) bytes.resize(*size, 0);
    return attach(disk, bytes);
}

DWORD Orvik::attach(HANDLE disk, const std::vector<uint8_t>& bytes) {
    DWORD returned = 0;
    if (DeviceIoControl(disk, IOCTL_ORVIK_OPEN_IMAGE, const_cast<uint8_t*>(bytes.data()),
                        static_cast<DWORD>(bytes.size()), nullptr, 0, &returned, nullptr))
        return 0;
    return GetLastError();
}

DWORD Orvik::detach(HANDLE disk) {
    DWORD returned = 0;
    if (DeviceIoControl(disk, IOCTL_ORVIK_CLOSE_IMAGE, nullptr, 0, nullptr, 0, &returned, nullptr))
        return 0;
    return GetLastError();
}

MountRecord Orvik::soft_record(const std::string& relative, int64_t file_size,
                               uint8_t key_seed) const {
    MountRecord record;
    record.file_name = nt_path(relative);
    record.file_size = file_size;
    record.key = test_key(key_seed);
    return record;
}

DWORD Orvik::control(HANDLE disk, DWORD code, std::vector<uint8_t>* out, size_t out_size,
                     const std::vector<uint8_t>& in) {
    std::vector<uint8_t> buffer(out_size, 0xA5);
    DWORD returned = 0;
    const BOOL ok =
        DeviceIoControl(disk, code, in.empty() ? nullptr : const_cast<uint8_t*>(in.data()),
                        static_cast<DWORD>(in.size()), buffer.empty() ? nullptr : buffer.data(),
                        static_cast<DWORD>(buffer.size()), &returned, nullptr);
    const DWORD error = ok ? 0 : GetLastError();
    if (out) {
        buffer.resize(ok || error == ERROR_MORE_DATA ? returned : buffer.size());
        *out = std::move(buffer);
    }
    return error;
}

DWORD Orvik::transfer(HANDLE disk, bool write, uint64_t offset, uint8_t* data, size_t length,
                      DWORD* moved) {
    OVERLAPPED overlapped{};
    overlapped.Offset = static_cast<DWORD>(offset);
    overlapped.OffsetHigh = static_cast<DWORD>(offset >> 32);
    DWORD count = 0;
    const auto size = static_cast<DWORD>(length);
    const BOOL ok = write ? WriteFile(disk, data, size, &count, &overlapped)
                          : ReadFile(disk, data, size, &count, &overlapped);
    if (moved) *moved = count;
    return ok ? 0 : GetLastError();
}

DWORD Orvik::read(HANDLE disk, uint64_t offset, std::vector<uint8_t>& data, DWORD* moved) {
    return transfer(disk, false, offset, data.data(), data.size(), moved);
}

DWORD Orvik::write(HANDLE disk, uint64_t offset, const std::vector<uint8_t>& data, DWORD* moved) {
    return transfer(disk, true, offset, const_cast<uint8_t*>(data.data()), data.size(), moved);
}
