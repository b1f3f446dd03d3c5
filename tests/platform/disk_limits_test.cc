// The simulated limits of a drive (platform/testing/disk_controls.h): a full disk and a disk that
// fails reads.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "platform/testing/disk_controls.h"
#include "platform/win32.h"
#include "tests/support/test_folder.h"

namespace {

class DiskLimits : public ::testing::Test {
  protected:
    void TearDown() override {
        sim::disk_clear_free_space_limits();
        sim::disk_clear_read_limits();
    }
    TestFolder folder;
};

// Writes beyond the drive's free space fail as on a full disk; other drives are not limited.
TEST_F(DiskLimits, FullDisk) {
    sim::disk_set_free_space('c', 10);
    FILE* file = fopen(folder.win("full").c_str(), "wb");
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(std::fwrite("0123456789abcdef", 1, 16, file), 16u);  // buffered so far
    EXPECT_NE(std::fflush(file), 0);
    std::fclose(file);
    EXPECT_EQ(folder.read("full"), "0123456789");

    // Unbuffered, a write that finds the disk already full writes nothing and says so.
    sim::disk_set_free_space('C', 10);
    file = fopen(folder.win("unbuffered").c_str(), "wb");
    ASSERT_NE(file, nullptr);
    std::setvbuf(file, nullptr, _IONBF, 0);
    EXPECT_EQ(std::fwrite("0123456789abcdef", 1, 16, file), 10u);
    EXPECT_EQ(std::fwrite("0123456789abcdef", 1, 16, file), 0u);
    EXPECT_NE(std::ferror(file), 0);
    std::fclose(file);
    EXPECT_EQ(folder.read("unbuffered"), "0123456789");

    std::filesystem::create_directories(folder.drive_root('D'));
    file = fopen("D:/free", "wb");
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(std::fwrite("0123456789abcdef", 1, 16, file), 16u);
    EXPECT_EQ(std::fclose(file), 0);
    EXPECT_EQ(std::filesystem::file_size(folder.drive_root('D') / "free"), 16u);

    sim::disk_set_free_space('C', 3);
    HANDLE handle = CreateFileA(folder.win("handle").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                0, nullptr);
    DWORD written = 0;
    EXPECT_FALSE(WriteFile(handle, "abcdef", 6, &written, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DISK_FULL));
    EXPECT_EQ(written, 3u);
    CloseHandle(handle);
    EXPECT_EQ(folder.read("handle"), "abc");
}

// Files opened after the limit is set share what the drive still returns; then reads fail.
TEST_F(DiskLimits, ReadFaults) {
    folder.write("a", "0123456789");
    folder.write("b", "abcdefghij");
    FILE* before = fopen(folder.win("a").c_str(), "rb");
    sim::disk_set_read_limit('C', 6);

    HANDLE handle = CreateFileA(folder.win("a").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    char bytes[16] = {};
    DWORD done = 0;
    ASSERT_TRUE(ReadFile(handle, bytes, 4, &done, nullptr));
    EXPECT_EQ(done, 4u);
    FILE* after = fopen(folder.win("b").c_str(), "rb");
    ASSERT_NE(after, nullptr);
    EXPECT_EQ(std::fread(bytes, 1, 10, after), 2u);  // what was left of the drive's 6 bytes
    EXPECT_TRUE(std::ferror(after));
    std::fclose(after);
    EXPECT_FALSE(ReadFile(handle, bytes, 4, &done, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_IO_DEVICE));
    // The end of a file is no fault.
    LARGE_INTEGER end;
    end.QuadPart = 10;
    SetFilePointerEx(handle, end, nullptr, FILE_BEGIN);
    EXPECT_TRUE(ReadFile(handle, bytes, 4, &done, nullptr));
    EXPECT_EQ(done, 0u);
    CloseHandle(handle);

    EXPECT_EQ(std::fread(bytes, 1, 10, before), 10u);  // opened before the limit
    std::fclose(before);
    sim::disk_clear_read_limits();
    after = fopen(folder.win("b").c_str(), "rb");
    EXPECT_EQ(std::fread(bytes, 1, 10, after), 10u);
    std::fclose(after);
}

}  // namespace
