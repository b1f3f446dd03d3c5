// The format program and a file system write on a drive of Orvik in software mode, as the volume
// functions drive it: every sector reaches the image encrypted, and the image decrypted sector by
// sector with an independent SM4-XTS under the volume key is a valid NTFS volume holding the file.
#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "platform/testing/volume_controls.h"
#include "tests/support/orvik_test.h"
#include "tests/support/programs.h"

namespace {

constexpr int64_t kImageSize = 16 << 20;
constexpr uint8_t kKeySeed = 3;

class OrvikFormat : public Orvik {
  protected:
    // A host file with bytes.
    std::string host_file(const std::string& relative, const std::string& bytes) {
        folder_.write(relative, bytes);
        return folder_.host(relative).string();
    }
    // 0, or the error of a volume control code on handle.
    static DWORD fsctl(HANDLE handle, DWORD code) {
        DWORD returned = 0;
        return DeviceIoControl(handle, code, nullptr, 0, nullptr, 0, &returned, nullptr)
                   ? 0
                   : GetLastError();
    }
};

TEST_F(OrvikFormat, AFormattedVolumeIsEncryptedNtfsOnTheImage) {
    ASSERT_EQ(load(1), STATUS_SUCCESS);
    ASSERT_TRUE(DefineDosDeviceA(DDD_RAW_TARGET_PATH, "Q:", "\\Device\\orvik\\device1"));
    HANDLE drive =
        CreateFileA("\\\\.\\Q:", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_EXISTING, FILE_FLAG_NO_BUFFERING, nullptr);
    ASSERT_NE(drive, INVALID_HANDLE_VALUE);
    ASSERT_EQ(attach(drive, soft_record("volume.img", kImageSize, kKeySeed)), 0u);
    EXPECT_TRUE(CloseHandle(drive));

    ASSERT_EQ(run_program("FORMAT.com Q: /FS:NTFS /Q /Y"), 0);
    std::string error;
    ASSERT_TRUE(
        sim::volume::copy_in('Q', host_file("note.txt", "through Orvik\n"), "/note.txt", &error))
        << error;

    // Dismounted as the volume functions dismount it.
    drive =
        CreateFileA("\\\\.\\Q:", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_EXISTING, FILE_FLAG_NO_BUFFERING, nullptr);
    ASSERT_NE(drive, INVALID_HANDLE_VALUE);
    EXPECT_EQ(fsctl(drive, FSCTL_LOCK_VOLUME), 0u);
    EXPECT_EQ(fsctl(drive, FSCTL_DISMOUNT_VOLUME), 0u);
    EXPECT_EQ(detach(drive), 0u);
    EXPECT_EQ(fsctl(drive, FSCTL_UNLOCK_VOLUME), 0u);
    EXPECT_TRUE(CloseHandle(drive));
    EXPECT_TRUE(DefineDosDeviceA(DDD_REMOVE_DEFINITION, "Q:", nullptr));

    const std::string stored = folder_.read("volume.img");
    ASSERT_EQ(stored.size(), static_cast<size_t>(kImageSize));
    std::string output;
    EXPECT_NE(host_tool("ntfsinfo -m " + folder_.host("volume.img").string(), &output), 0)
        << "the image holds plain NTFS";
    const auto plain = decrypt_sectors(stored, test_key(kKeySeed).data(), 0, stored.size());
    const std::string decrypted =
        host_file("decrypted.img", std::string(plain.begin(), plain.end()));
    ASSERT_EQ(host_tool("ntfsinfo -m " + decrypted, &output), 0) << output;
    ASSERT_EQ(host_tool("ntfscat " + decrypted + " /note.txt", &output), 0) << output;
    EXPECT_EQ(output, "through Orvik\n");
    unload();
}

}  // namespace
