// The system's format program as the format step starts it ("FORMAT.com X: /FS:NTFS /Q /Y"), on
// a disk of the test: every sector it writes goes through "\\.\X:", and the host's NTFS tools
// (ntfs-3g) find a valid NTFS volume on the disk's bytes. Also the test controls' file write onto a
// mounted volume.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "platform/testing/volume_controls.h"
#include "platform/win32.h"
#include "tests/platform/memory_disk.h"
#include "tests/support/programs.h"
#include "tests/support/test_folder.h"

namespace {

constexpr uint64_t kDiskSize = 16 << 20;
constexpr uint8_t kFill = 0xA5;

class Format : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(DefineDosDeviceA(DDD_RAW_TARGET_PATH, "Q:", MemoryDisk::kDeviceName));
    }
    void TearDown() override { DefineDosDeviceA(DDD_REMOVE_DEFINITION, "Q:", nullptr); }
    // The disk's bytes in a host file.
    std::string image() {
        const std::string path = folder_.host("disk.img").string();
        const auto bytes = disk_.bytes();
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
        return path;
    }

    TestFolder folder_;
    MemoryDisk disk_{kDiskSize, kFill};
};

TEST_F(Format, QuickFormatsNtfsThroughTheDrive) {
    ASSERT_EQ(run_program("FORMAT.com Q: /FS:NTFS /Q /Y"), 0);
    std::string output;
    ASSERT_EQ(host_tool("ntfsinfo -m " + image(), &output), 0) << output;
    EXPECT_NE(output.find("Cluster Size: 4096"), std::string::npos) << output;
    EXPECT_NE(output.find("Sector Size: 512"), std::string::npos) << output;
    ASSERT_EQ(host_tool("ntfsls -s " + image(), &output), 0) << output;
    EXPECT_NE(output.find("$MFT"), std::string::npos) << output;
    // A quick format writes the file system's structures only: most of the disk keeps its bytes.
    const auto bytes = disk_.bytes();
    EXPECT_GT(std::count(bytes.begin(), bytes.end(), kFill), static_cast<long>(kDiskSize / 2));
    // The disk's queries, then the partition's new type.
    const auto codes = disk_.control_codes();
    for (ULONG code : {IOCTL_DISK_GET_DRIVE_GEOMETRY, IOCTL_DISK_GET_PARTITION_INFO_EX,
                       IOCTL_DISK_GET_LENGTH_INFO, IOCTL_DISK_SET_PARTITION_INFO})
        EXPECT_NE(std::find(codes.begin(), codes.end(), code), codes.end()) << code;
    EXPECT_EQ(disk_.partition_type(), PARTITION_IFS);
    // The volume was left dismounted and unlocked: it opens and locks again.
    HANDLE drive =
        CreateFileA("\\\\.\\Q:", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(drive, INVALID_HANDLE_VALUE);
    DWORD returned = 0;
    EXPECT_TRUE(
        DeviceIoControl(drive, FSCTL_LOCK_VOLUME, nullptr, 0, nullptr, 0, &returned, nullptr));
    CloseHandle(drive);
}

TEST_F(Format, AVolumeInUseIsDismountedFirst) {
    HANDLE other = CreateFileA("\\\\.\\Q:", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                               nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(other, INVALID_HANDLE_VALUE);
    EXPECT_EQ(run_program("format.com q: /y /q /fs:ntfs"), 0);
    std::string output;
    EXPECT_EQ(host_tool("ntfsinfo -m " + image(), &output), 0) << output;
    CloseHandle(other);
}

TEST_F(Format, FailuresEndWithFormatsExitCodes) {
    const auto untouched = disk_.bytes();
    EXPECT_EQ(run_program("FORMAT.com Q: /FS:FAT32 /Q /Y"), 1);
    EXPECT_EQ(run_program("FORMAT.com Q: /FS:NTFS /Y"), 1);
    EXPECT_EQ(run_program("FORMAT.com /FS:NTFS /Q /Y"), 1);
    EXPECT_EQ(run_program("FORMAT.com R: /FS:NTFS /Q /Y"), 4);  // no such drive
    EXPECT_EQ(disk_.bytes(), untouched);
}

TEST(FormatProcess, HandlesOfTheProcessAndItsThread) {
    TestFolder folder;
    char line[] = "FORMAT.com R: /FS:NTFS /Q /Y";  // no such drive: ends at once
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    ASSERT_TRUE(CreateProcessA(nullptr, line, nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                               &process));
    EXPECT_NE(process.hProcess, process.hThread);
    EXPECT_NE(process.dwProcessId, process.dwThreadId);
    EXPECT_EQ(WaitForSingleObject(process.hThread, INFINITE), WAIT_OBJECT_0);
    DWORD code = 0;
    EXPECT_FALSE(GetExitCodeProcess(process.hThread, &code));  // not a process
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_EQ(WaitForSingleObject(process.hProcess, 0), WAIT_OBJECT_0);
    EXPECT_TRUE(GetExitCodeProcess(process.hProcess, &code));
    EXPECT_EQ(code, 4u);
    EXPECT_TRUE(CloseHandle(process.hThread));
    EXPECT_TRUE(CloseHandle(process.hProcess));
    EXPECT_FALSE(GetExitCodeProcess(process.hProcess, &code));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

TEST(FormatSmallDisk, TooSmallAVolumeIsNotFormatted) {
    TestFolder folder;
    MemoryDisk disk(1 << 20, kFill);  // NTFS needs 2 MiB at least
    ASSERT_TRUE(DefineDosDeviceA(DDD_RAW_TARGET_PATH, "Q:", MemoryDisk::kDeviceName));
    EXPECT_EQ(run_program("FORMAT.com Q: /FS:NTFS /Q /Y"), 4);
    EXPECT_EQ(disk.bytes(), std::vector<uint8_t>(1 << 20, kFill));
    EXPECT_TRUE(DefineDosDeviceA(DDD_REMOVE_DEFINITION, "Q:", nullptr));
}

TEST_F(Format, AFileWrittenOntoTheVolumeIsFoundOnTheDisk) {
    ASSERT_EQ(run_program("FORMAT.com Q: /FS:NTFS /Q /Y"), 0);
    const auto formatted = disk_.bytes();
    folder_.write("note.txt", "written through the drive\n");
    std::string error;
    ASSERT_TRUE(sim::volume::copy_in('Q', folder_.host("note.txt").string(), "/note.txt", &error))
        << error;
    std::string output;
    ASSERT_EQ(host_tool("ntfscat " + image() + " /note.txt", &output), 0) << output;
    EXPECT_EQ(output, "written through the drive\n");
    // Only the sectors the file system changed were written.
    const auto now = disk_.bytes();
    size_t changed = 0;
    for (size_t i = 0; i < now.size(); i += 512)
        changed += !std::equal(now.begin() + i, now.begin() + i + 512, formatted.begin() + i);
    EXPECT_GT(changed, 0u);
    EXPECT_LT(changed, kDiskSize / 512 / 100);

    const std::string copy = folder_.host("snapshot.img").string();
    ASSERT_TRUE(sim::volume::snapshot('Q', copy, &error)) << error;
    ASSERT_EQ(host_tool("ntfsls " + copy, &output), 0) << output;
    EXPECT_EQ(output, "note.txt\n");
    EXPECT_FALSE(sim::volume::copy_in('Q', folder_.host("missing.txt").string(), "/x", &error));
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(disk_.bytes(), now);
}

}  // namespace
