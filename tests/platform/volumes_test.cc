// Drive letters defined onto a disk and the file system in front of it, as Windows has them: the
// letter reaches the disk from user mode, RAW (the file system of a volume no other recognises)
// answers the volume's locks and dismount and passes the rest to the disk, and a letter's names
// are the volume's, not the host's.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "platform/testing/shell_controls.h"
#include "platform/win32.h"
#include "tests/platform/memory_disk.h"
#include "tests/support/test_folder.h"

namespace {

class Volumes : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(DefineDosDeviceA(DDD_RAW_TARGET_PATH, "Q:", MemoryDisk::kDeviceName));
    }
    void TearDown() override {
        for (HANDLE handle : handles_) CloseHandle(handle);
        DefineDosDeviceA(DDD_REMOVE_DEFINITION, "Q:", nullptr);
    }
    // "\\.\Q:" as the volume functions open it; closed at the end of the test.
    HANDLE open(DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE,
                DWORD access = GENERIC_READ | GENERIC_WRITE, const char* name = "\\\\.\\Q:") {
        HANDLE handle = CreateFileA(name, access, share, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_NO_BUFFERING, nullptr);
        if (handle != INVALID_HANDLE_VALUE) handles_.push_back(handle);
        return handle;
    }
    void close(HANDLE handle) {
        handles_.erase(std::find(handles_.begin(), handles_.end(), handle));
        EXPECT_TRUE(CloseHandle(handle));
    }
    // 0, or the error of a volume control code sent on handle.
    static DWORD fsctl(HANDLE handle, DWORD code) {
        DWORD returned = 0;
        return DeviceIoControl(handle, code, nullptr, 0, nullptr, 0, &returned, nullptr)
                   ? 0
                   : GetLastError();
    }
    static bool saw(const std::vector<ULONG>& codes, ULONG code) {
        return std::find(codes.begin(), codes.end(), code) != codes.end();
    }

    TestFolder folder_;
    MemoryDisk disk_{1 << 20, 0};
    std::vector<HANDLE> handles_;
};

TEST_F(Volumes, TheLetterReachesTheDiskThroughTheFileSystem) {
    EXPECT_TRUE(GetLogicalDrives() & (1u << ('Q' - 'A')));
    HANDLE drive = open();
    ASSERT_NE(drive, INVALID_HANDLE_VALUE);
    alignas(512) uint8_t sector[512];
    std::memset(sector, 0x3C, sizeof sector);
    OVERLAPPED at{};
    at.Offset = 4096;
    DWORD done = 0;
    ASSERT_TRUE(WriteFile(drive, sector, sizeof sector, &done, &at));
    EXPECT_EQ(done, sizeof sector);
    EXPECT_EQ(disk_.bytes()[4096], 0x3C);
    DISK_GEOMETRY geometry{};
    EXPECT_TRUE(DeviceIoControl(drive, IOCTL_DISK_GET_DRIVE_GEOMETRY, nullptr, 0, &geometry,
                                sizeof geometry, &done, nullptr));
    EXPECT_EQ(geometry.BytesPerSector, 512u);
    // Opened for its data, the disk is opened through the file system mounted on it: the disk
    // sees no open, and the volume's control codes never reach it.
    EXPECT_EQ(fsctl(drive, FSCTL_LOCK_VOLUME), 0u);
    EXPECT_EQ(fsctl(drive, FSCTL_UNLOCK_VOLUME), 0u);
    const auto majors = disk_.majors();
    EXPECT_EQ(std::count(majors.begin(), majors.end(), IRP_MJ_CREATE), 0);
    EXPECT_EQ(std::count(majors.begin(), majors.end(), IRP_MJ_FILE_SYSTEM_CONTROL), 0);
    EXPECT_EQ(disk_.control_codes(), std::vector<ULONG>{IOCTL_DISK_GET_DRIVE_GEOMETRY});
    // Whole sectors only, as on any disk opened without buffering.
    EXPECT_FALSE(WriteFile(drive, sector, 100, &done, &at));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST_F(Volumes, AnOpenForNoDataReachesTheDiskItself) {
    HANDLE device = open(FILE_SHARE_READ | FILE_SHARE_WRITE, 0);
    ASSERT_NE(device, INVALID_HANDLE_VALUE);
    EXPECT_EQ(disk_.majors(), std::vector<UCHAR>{IRP_MJ_CREATE});
    EXPECT_EQ(fsctl(device, FSCTL_LOCK_VOLUME), static_cast<DWORD>(ERROR_INVALID_FUNCTION));
    EXPECT_EQ(disk_.control_codes(), std::vector<ULONG>{FSCTL_LOCK_VOLUME});
}

TEST_F(Volumes, TheLockIsRefusedWhileOtherHandlesAreOpen) {
    HANDLE first = open(), second = open();
    ASSERT_NE(first, INVALID_HANDLE_VALUE);
    ASSERT_NE(second, INVALID_HANDLE_VALUE);
    EXPECT_EQ(fsctl(first, FSCTL_LOCK_VOLUME), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    close(second);
    ASSERT_EQ(fsctl(first, FSCTL_LOCK_VOLUME), 0u);
    EXPECT_EQ(fsctl(first, FSCTL_LOCK_VOLUME), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    // Locked: nothing else opens the volume.
    EXPECT_EQ(open(), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(fsctl(first, FSCTL_UNLOCK_VOLUME), 0u);
    EXPECT_EQ(fsctl(first, FSCTL_UNLOCK_VOLUME), static_cast<DWORD>(ERROR_NOT_LOCKED));
    second = open();
    EXPECT_NE(second, INVALID_HANDLE_VALUE);
    // Closing the handle that holds the lock releases it.
    close(second);
    ASSERT_EQ(fsctl(first, FSCTL_LOCK_VOLUME), 0u);
    close(first);
    EXPECT_NE(open(), INVALID_HANDLE_VALUE);
}

TEST_F(Volumes, DismountLeavesItsFilesAndTheNextOpenMountsAnew) {
    HANDLE first = open();
    ASSERT_EQ(fsctl(first, FSCTL_LOCK_VOLUME), 0u);
    ASSERT_EQ(fsctl(first, FSCTL_DISMOUNT_VOLUME), 0u);
    // A new volume, not locked, while the old one keeps its file and its lock.
    HANDLE second = open();
    ASSERT_NE(second, INVALID_HANDLE_VALUE);
    EXPECT_EQ(fsctl(second, FSCTL_LOCK_VOLUME), 0u);
    DWORD done = 0;
    GET_LENGTH_INFORMATION length{};
    EXPECT_TRUE(DeviceIoControl(first, IOCTL_DISK_GET_LENGTH_INFO, nullptr, 0, &length,
                                sizeof length, &done, nullptr));
    EXPECT_EQ(length.Length.QuadPart, 1 << 20);
    EXPECT_EQ(fsctl(first, FSCTL_UNLOCK_VOLUME), 0u);
    // Dismounting needs no lock.
    EXPECT_EQ(fsctl(second, FSCTL_UNLOCK_VOLUME), 0u);
    HANDLE third = open();
    EXPECT_EQ(fsctl(third, FSCTL_DISMOUNT_VOLUME), 0u);
    EXPECT_FALSE(saw(disk_.control_codes(), FSCTL_DISMOUNT_VOLUME));
}

TEST_F(Volumes, TheVolumeKeepsShareModes) {
    HANDLE exclusive = open(0);
    ASSERT_NE(exclusive, INVALID_HANDLE_VALUE);
    EXPECT_EQ(open(), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    close(exclusive);
    HANDLE reader = open(FILE_SHARE_READ, GENERIC_READ);
    ASSERT_NE(reader, INVALID_HANDLE_VALUE);
    EXPECT_EQ(open(FILE_SHARE_READ | FILE_SHARE_WRITE), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    EXPECT_NE(open(FILE_SHARE_READ | FILE_SHARE_WRITE, GENERIC_READ), INVALID_HANDLE_VALUE);
}

// The files of a defined letter are the volume's: RAW knows no file on it, and the host's folder
// of that letter is not reached until the letter is removed.
TEST_F(Volumes, NamesOnTheLetterAreTheVolumesNotTheHosts) {
    std::filesystem::create_directories(folder_.drive_root('Q'));
    std::ofstream(folder_.drive_root('Q') / "host.txt") << "host";
    for (const char* name : {"Q:\\host.txt", "Q:/new.txt", "\\\\.\\Q:\\host.txt"}) {
        HANDLE file =
            CreateFileA(name, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_ALWAYS, 0, nullptr);
        EXPECT_EQ(file, INVALID_HANDLE_VALUE) << name;
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_UNRECOGNIZED_VOLUME)) << name;
    }
    EXPECT_FALSE(std::filesystem::exists(folder_.drive_root('Q') / "new.txt"));
    errno = 0;
    EXPECT_EQ(fopen("Q:/host.txt", "rb"), nullptr);
    EXPECT_EQ(errno, ENOENT);
    EXPECT_FALSE(DeleteFileA("Q:\\host.txt"));
    EXPECT_TRUE(std::filesystem::exists(folder_.drive_root('Q') / "host.txt"));

    ASSERT_TRUE(DefineDosDeviceA(DDD_REMOVE_DEFINITION, "Q:", nullptr));
    HANDLE file = CreateFileA("Q:\\host.txt", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              0, nullptr);
    EXPECT_NE(file, INVALID_HANDLE_VALUE);
    CloseHandle(file);
    ASSERT_TRUE(DefineDosDeviceA(DDD_RAW_TARGET_PATH, "Q:", MemoryDisk::kDeviceName));
}

TEST_F(Volumes, StackedDefinitionsReachTheNewestTarget) {
    ASSERT_TRUE(DefineDosDeviceA(DDD_RAW_TARGET_PATH, "Q:", "\\Device\\HaldenNoDisk"));
    EXPECT_EQ(open(), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    ASSERT_TRUE(DefineDosDeviceA(DDD_REMOVE_DEFINITION, "Q:", nullptr));
    EXPECT_NE(open(), INVALID_HANDLE_VALUE);
}

TEST_F(Volumes, ShellNotificationsAreRecorded) {
    sim::clear_shell_notifications();
    SHChangeNotify(SHCNE_DRIVEADD, SHCNF_PATHA, "Q:\\", nullptr);
    SHChangeNotify(SHCNE_DRIVEREMOVED, SHCNF_PATHA, "Q:\\", nullptr);
    const auto sent = sim::shell_notifications();
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[0].event, SHCNE_DRIVEADD);
    EXPECT_EQ(sent[0].flags, SHCNF_PATHA);
    EXPECT_EQ(sent[0].item1, "Q:\\");
    EXPECT_EQ(sent[0].item2, "");
    EXPECT_EQ(sent[1].event, SHCNE_DRIVEREMOVED);
}

}  // namespace
