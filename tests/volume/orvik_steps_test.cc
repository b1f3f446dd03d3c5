// The device build's volume functions against Orvik itself in the simulated kernel: the images
// that the image probe takes but the disk cannot serve are refused at mount with the text of any
// refused mount and leave nothing behind, a path with forward slashes is the image the driver
// opens, a card path is taken up to what the driver holds, and a volume whose dismount was refused
// stays usable on the handle that kept it busy.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>

#include "base/byte_access.h"
#include "sim/card/card_controls.h"
#include "tests/support/orvik_test.h"
#include "tests/support/volume_test.h"
#include "volume/exports.h"
#include "volume/steps.h"
#include "wire/orvik_interface.h"

namespace {

const Key32 kKey = test_key(7);

class VolumeOnOrvik : public Orvik {
  protected:
    void SetUp() override {
        Orvik::SetUp();
        ASSERT_EQ(load(2), STATUS_SUCCESS);
        letter_ = free_letter();
    }
    void TearDown() override {
        while (letter_defined(letter_))
            DefineDosDeviceA(DDD_REMOVE_DEFINITION, std::string{letter_, ':'}.c_str(), nullptr);
        Orvik::TearDown();
        sim::usb::unplug_all();
    }

    // An image of size bytes, all zero, in the test folder; its Windows name.
    std::string image(size_t size) {
        folder_.write("vol.img", std::string(size, '\0'));
        return folder_.win("vol.img");
    }
    // key null: card mode.
    uint32_t mount(const std::string& path, const uint8_t* key, ErrorText& out) {
        const VolumeMountArgs args{path.c_str(), 1, letter_};
        return QeltMountVolume(&args, out.text, ErrorText::kSize, key ? 1 : 0, key);
    }
    uint32_t dismount(ErrorText& out) {
        const VolumeDismountArgs args{letter_, 0};
        return QeltDismountVolume(&args, out.text, ErrorText::kSize);
    }
    std::string drive_path() const { return std::string("\\\\.\\") + letter_ + ":"; }
    // The length disk 1 reports; 0 without media.
    uint64_t disk_length() {
        HANDLE d = disk(1);
        std::vector<uint8_t> out;
        const DWORD error = control(d, IOCTL_DISK_GET_LENGTH_INFO, &out, 8);
        close(d);
        EXPECT_TRUE(error == 0 || error == error_of(STATUS_NO_MEDIA_IN_DEVICE)) << error;
        return error == 0 ? bytes::load_le64(out.data()) : 0;
    }

    char letter_ = 'Q';
};

// Less than a sector, or part of one at the end: the driver refuses the image, so the mount fails
// as any refused mount does, and the disk and the letter stay free.
TEST_F(VolumeOnOrvik, AnImageOfPartSectorsIsRefusedAtMount) {
    for (size_t size : {size_t{0}, size_t{511}, size_t{1000}, size_t{4096 + 100}}) {
        SCOPED_TRACE(size);
        const std::string path = image(size);
        ErrorText out;
        EXPECT_EQ(mount(path, kKey.data(), out), 1u);
        EXPECT_EQ(out.str(), "[MountVolume]failed " + system_message(ERROR_INVALID_PARAMETER));
        EXPECT_FALSE(letter_defined(letter_));
        EXPECT_EQ(disk_length(), 0u);
        EXPECT_EQ(folder_.read("vol.img"), std::string(size, '\0'));
    }
}

// The read-only attribute refuses the driver's open for writing, as it refuses everyone's.
TEST_F(VolumeOnOrvik, AReadOnlyImageIsRefusedAtMount) {
    const std::string path = image(1 << 20);
    namespace fs = std::filesystem;
    fs::permissions(folder_.host("vol.img"),
                    fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove);
    ErrorText out;
    EXPECT_EQ(mount(path, kKey.data(), out), 1u);
    EXPECT_EQ(out.str(), "[MountVolume]failed " + system_message(ERROR_ACCESS_DENIED));
    EXPECT_FALSE(letter_defined(letter_));
    EXPECT_EQ(disk_length(), 0u);
    EXPECT_EQ(folder_.read("vol.img"), std::string(1 << 20, '\0'));
}

// The probe takes '/' as a separator, and so does the image the driver opens.
TEST_F(VolumeOnOrvik, AnImagePathWithForwardSlashesMounts) {
    std::string path = image(1 << 20);
    std::replace(path.begin(), path.end(), '\\', '/');
    ErrorText out;
    ASSERT_EQ(mount(path, kKey.data(), out), 0u) << out.str();
    EXPECT_EQ(disk_length(), uint64_t{1} << 20);
    EXPECT_EQ(dismount(out), 0u) << out.str();
}

// A card whose interface path (less "\\?\") has n characters, made so by its instance part.
std::shared_ptr<sim::card::Card> card_with_path_length(size_t n) {
    auto probe = sim::card::plug(sim::card::random_card(), false, "x");
    const size_t others = probe->path().size() - 4 - 1;  // all but the instance part
    probe->unplug();
    auto card = sim::card::plug(sim::card::random_card(), false, std::string(n - others, 'x'));
    EXPECT_EQ(card->path().size(), n + 4);
    return card;
}

// The driver holds "\GLOBAL??\" and 109 characters of card path: a longer one is refused before
// anything is defined or sent, with the text of a path too long.
TEST_F(VolumeOnOrvik, ACardPathIsTakenUpToWhatTheDriverHolds) {
    ASSERT_EQ(wire::file_descriptor::kMaxDriverCardDevicePath, 109u);
    const std::string path = image(1 << 20);
    auto fits = card_with_path_length(wire::file_descriptor::kMaxDriverCardDevicePath);
    ErrorText out;
    ASSERT_EQ(mount(path, nullptr, out), 0u) << out.str();
    EXPECT_FALSE(fits->device()->transfers().empty()) << "the driver opened the card";
    ASSERT_EQ(dismount(out), 0u) << out.str();
    fits->unplug();

    auto too_long = card_with_path_length(wire::file_descriptor::kMaxDriverCardDevicePath + 1);
    EXPECT_EQ(mount(path, nullptr, out), 1u);
    EXPECT_EQ(out.str(), "[MountVolume]failed " + system_message(ERROR_FILENAME_EXCED_RANGE));
    EXPECT_FALSE(letter_defined(letter_));
    EXPECT_TRUE(too_long->device()->transfers().empty());
    EXPECT_EQ(disk_length(), 0u);
}

// Another handle keeps the lock from being taken: without force the volume stays mounted, and
// that handle reads and writes it as before.
TEST_F(VolumeOnOrvik, ABusyVolumeStaysUsableWhenItsDismountIsRefused) {
    const std::string path = image(1 << 20);
    ErrorText out;
    ASSERT_EQ(mount(path, kKey.data(), out), 0u) << out.str();
    HANDLE other =
        CreateFileA(drive_path().c_str(), GENERIC_READ | GENERIC_WRITE,
                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(other, INVALID_HANDLE_VALUE);
    const std::vector<uint8_t> before = pattern(4096, 1), after = pattern(4096, 2);
    ASSERT_EQ(write(other, 8192, before), 0u);

    EXPECT_FALSE(Dismount(letter_, false, out.text, ErrorText::kSize));
    std::vector<uint8_t> back(4096);
    EXPECT_EQ(read(other, 8192, back), 0u);
    EXPECT_EQ(back, before);
    EXPECT_EQ(write(other, 8192, after), 0u);
    EXPECT_EQ(read(other, 8192, back), 0u);
    EXPECT_EQ(back, after);
    EXPECT_TRUE(CloseHandle(other));
    EXPECT_EQ(dismount(out), 0u) << out.str();
    EXPECT_EQ(decrypt_sectors(folder_.read("vol.img"), kKey.data(), 8192, 4096), after);
}

}  // namespace
