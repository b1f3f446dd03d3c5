// The device build's volume exports against a stand-in for Orvik that records what reaches it:
// the mount record byte for byte, in card mode and with a software key, the card's path while
// another thread looks for the card, the image probe, the drive letters and shell notifications,
// the dismount and its volume controls with and without force on a busy volume, and the format's
// results when the format program or a dismount fails.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "base/byte_access.h"
#include "platform/testing/file_controls.h"
#include "platform/testing/kernel_controls.h"
#include "platform/testing/shell_controls.h"
#include "sim/card/card_controls.h"
#include "tests/support/log_capture.h"
#include "tests/support/temp_machine_root.h"
#include "tests/support/volume_test.h"
#include "tests/volume/record_driver.h"
#include "volume/card_path.h"
#include "volume/exports.h"
#include "volume/steps.h"

namespace {

using Bytes = std::vector<uint8_t>;
using Controls = std::vector<sim::kernel::VolumeControl>;

const uint8_t kKey[32] = {0x10, 0x21, 0x32, 0x43, 0x54, 0x65, 0x76, 0x87, 0x98, 0xa9, 0xba,
                          0xcb, 0xdc, 0xed, 0xfe, 0x0f, 0xf0, 0xe1, 0xd2, 0xc3, 0xb4, 0xa5,
                          0x96, 0x87, 0x78, 0x69, 0x5a, 0x4b, 0x3c, 0x2d, 0x1e, 0x0f};

// The record a mount should send, laid out here byte by byte at the offsets of its description.
Bytes expected_record(const std::string& image, const std::string& card, int64_t size, bool soft,
                      const uint8_t* key) {
    Bytes r(537, 0);
    const std::string name = "\\??\\" + image, device = "\\GLOBAL??\\" + card;
    std::copy(name.begin(), name.end(), r.begin());
    bytes::store_le32(r.data() + 240, 0xCCCCCCCC);
    std::copy(device.begin(), device.end(), r.begin() + 244);
    bytes::store_le32(r.data() + 484, 0xCCCCCCCC);
    bytes::store_le16(r.data() + 488, static_cast<uint16_t>(name.size()));
    bytes::store_le16(r.data() + 490, static_cast<uint16_t>(device.size()));
    bytes::store_le32(r.data() + 492, 0x10000);
    bytes::store_le64(r.data() + 496, static_cast<uint64_t>(size));
    r[504] = soft ? 1 : 0;
    if (key) std::copy(key, key + 32, r.begin() + 505);
    return r;
}

class VolumeRecord : public ::testing::Test {
  protected:
    void SetUp() override {
        root_.make_folder("C:/Halden");
        ASSERT_TRUE(record_driver::load(2));
        sim::clear_shell_notifications();
        letter_ = free_letter();
    }
    void TearDown() override {
        for (char letter : {letter_, static_cast<char>(letter_ - 'A' + 'a')})
            while (letter_defined(letter))
                DefineDosDeviceA(DDD_REMOVE_DEFINITION, std::string{letter, ':'}.c_str(), nullptr);
        record_driver::unload();
        sim::usb::unplug_all();
        sim::allow_all_file_access();
    }

    // An image of size bytes (sparse) at "C:\Halden\<name>"; its Windows name.
    std::string image(int64_t size = 1 << 20, const std::string& name = "vol.img") {
        const auto host = root_.path("C:/Halden/" + name);
        std::ofstream{host};
        std::filesystem::resize_file(host, static_cast<uintmax_t>(size));
        return "C:\\Halden\\" + name;
    }
    // The mount step under kKey on disk device, an image of size bytes to create.
    bool mount_step(const std::string& path, int64_t size, uint32_t device, ErrorText& out) {
        return Mount({{path.c_str(), "", size, kVolumeChunkSize, true, kKey}, device, letter_},
                     out.text, ErrorText::kSize);
    }
    uint32_t mount(const std::string& path, const uint8_t* key, ErrorText& out,
                   uint32_t device = 1) {
        const VolumeMountArgs args{path.c_str(), device, letter_};
        return QeltMountVolume(&args, out.text, ErrorText::kSize, key ? 1 : 0, key);
    }
    uint32_t dismount(uint8_t force, ErrorText& out) {
        const VolumeDismountArgs args{letter_, force};
        return QeltDismountVolume(&args, out.text, ErrorText::kSize);
    }
    std::string drive_path() const { return std::string("\\\\.\\") + letter_ + ":"; }
    std::string notify_path() const { return std::string(1, letter_) + ":\\"; }
    std::string target() const {
        char targets[1024] = {};
        QueryDosDeviceA(std::string{letter_, ':'}.c_str(), targets, sizeof targets);
        return targets;
    }
    static size_t count(uint32_t code) {
        size_t n = 0;
        for (const auto& request : record_driver::requests()) n += request.code == code;
        return n;
    }

    TempMachineRoot root_;
    char letter_ = 'Q';
};

// ---- The mount record ----

TEST_F(VolumeRecord, SoftwareKeyMountSendsTheKeyAndTheImageSize) {
    const std::string path = image(3 << 20);
    ErrorText out;
    ASSERT_EQ(mount(path, kKey, out), 0u) << out.str();
    const Bytes sent = record_driver::last_open();
    ASSERT_EQ(sent.size(), 537u);
    // Which card device path rides along unused with a software key depends on the process's
    // earlier card lookups: compare the rest.
    Bytes expected = expected_record(path, "", 3 << 20, true, kKey);
    std::copy(sent.begin() + 244, sent.begin() + 484, expected.begin() + 244);
    std::copy(sent.begin() + 490, sent.begin() + 492, expected.begin() + 490);
    EXPECT_EQ(sent, expected);
    EXPECT_EQ(record_driver::requests().front().disk, 1u);
    EXPECT_EQ(target(), "\\Device\\orvik\\device1");
    const auto notes = sim::shell_notifications();
    ASSERT_EQ(notes.size(), 1u);
    EXPECT_EQ(notes[0].event, SHCNE_DRIVEADD);
    EXPECT_EQ(notes[0].flags, static_cast<UINT>(SHCNF_PATHA));
    EXPECT_EQ(notes[0].item1, notify_path());

    sim::kernel::clear_volume_controls();
    ASSERT_EQ(dismount(0, out), 0u) << out.str();
    EXPECT_EQ(count(IOCTL_ORVIK_CLOSE_IMAGE), 1u);
    // Locked, dismounted, unlocked.
    EXPECT_EQ(sim::kernel::volume_controls(), (Controls{{FSCTL_LOCK_VOLUME, STATUS_SUCCESS},
                                                        {FSCTL_DISMOUNT_VOLUME, STATUS_SUCCESS},
                                                        {FSCTL_UNLOCK_VOLUME, STATUS_SUCCESS}}));
    EXPECT_FALSE(letter_defined(letter_));
    ASSERT_EQ(sim::shell_notifications().size(), 2u);
    EXPECT_EQ(sim::shell_notifications()[1].event, SHCNE_DRIVEREMOVED);
    EXPECT_EQ(sim::shell_notifications()[1].item1, notify_path());
}

// Card mode: the card's interface path without "\\?\", no key, bSoft 0; looked up afresh.
TEST_F(VolumeRecord, CardModeSendsTheFirstCardsPath) {
    auto first = sim::card::plug(sim::card::random_card());
    auto second = sim::card::plug(sim::card::random_card());
    const std::string path = image();
    LogCapture log;
    LogSetLevel(LOG_TRACE);
    ErrorText out;
    ASSERT_EQ(mount(path, nullptr, out), 0u) << out.str();
    const std::string card = first->path().substr(4);
    EXPECT_EQ(record_driver::last_open(), expected_record(path, card, 1 << 20, false, nullptr));
    EXPECT_EQ(std::string(CurrentCardDevicePath().text), card);
    const auto traces = log.messages(LOG_TRACE);
    EXPECT_NE(
        std::find(traces.begin(), traces.end(), " === QeltInit ==  dev name \"" + card + "\" \n"),
        traces.end());
    ASSERT_EQ(dismount(0, out), 0u) << out.str();

    // The first card goes: the second one's path is found.
    first->unplug();
    ASSERT_EQ(mount(path, nullptr, out), 0u) << out.str();
    EXPECT_EQ(record_driver::last_open(),
              expected_record(path, second->path().substr(4), 1 << 20, false, nullptr));
    ASSERT_EQ(dismount(0, out), 0u) << out.str();

    // No card any more: 17, also after earlier calls found one; nothing is mounted.
    second->unplug();
    record_driver::clear();
    EXPECT_EQ(mount(path, nullptr, out), 17u);
    EXPECT_EQ(out.str().rfind("[MountVolume]Card error ", 0), 0u) << out.str();
    EXPECT_TRUE(record_driver::requests().empty());
    EXPECT_FALSE(letter_defined(letter_));
}

// The path of 255 characters at most: one that does not fit the buffer is refused.
TEST_F(VolumeRecord, ACardPathIsTakenOnlyWhenItFits) {
    char buffer[kCardDevicePathSize];
    EXPECT_FALSE(FindCardDevicePath(buffer, sizeof buffer));
    auto card = sim::card::plug(sim::card::random_card());
    const std::string path = card->path();
    ASSERT_EQ(path.rfind("\\\\?\\", 0), 0u);
    EXPECT_FALSE(FindCardDevicePath(buffer, static_cast<uint32_t>(path.size())));
    ASSERT_TRUE(FindCardDevicePath(buffer, static_cast<uint32_t>(path.size() + 1)));
    EXPECT_EQ(std::string(buffer), path.substr(4));
}

// QeltInit looking for the card again and again on one thread while another mounts: every
// record carries the card's whole path, never the cleared or half-written path of a look still
// going on.
TEST_F(VolumeRecord, ALookForTheCardOnAnotherThreadLeavesMountsTheWholePath) {
    auto card = sim::card::plug(sim::card::random_card());
    ASSERT_EQ(QeltInit(), 0);
    const std::string path = image();
    const Bytes expected = expected_record(path, card->path().substr(4), 1 << 20, true, kKey);
    std::atomic<bool> done{false};
    std::atomic<int> looks{0};
    std::thread looker([&] {
        for (; !done; ++looks) EXPECT_EQ(QeltInit(), 0);
    });
    while (looks == 0) std::this_thread::yield();  // the mounts meet looks in progress
    for (int i = 0; i < 100 && !HasFailure(); ++i) {
        ErrorText out;
        EXPECT_EQ(mount(path, kKey, out), 0u) << out.str();
        EXPECT_EQ(record_driver::last_open(), expected) << i;
        EXPECT_EQ(dismount(0, out), 0u) << out.str();
    }
    done = true;
    looker.join();
}

// Win32 takes '/' as a separator, the driver's NT name does not: the record names the image
// with '\' alone.
TEST_F(VolumeRecord, ForwardSlashesReachTheDriverAsBackslashes) {
    const std::string path = image();
    ErrorText out;
    ASSERT_EQ(mount("C:/Halden\\vol.img", kKey, out), 0u) << out.str();
    const Bytes sent = record_driver::last_open(),
                expected = expected_record(path, "", 0, true, kKey);
    ASSERT_EQ(sent.size(), 537u);
    EXPECT_EQ(Bytes(sent.begin(), sent.begin() + 240),
              Bytes(expected.begin(), expected.begin() + 240));
    EXPECT_EQ(Bytes(sent.begin() + 488, sent.begin() + 490),
              Bytes(expected.begin() + 488, expected.begin() + 490));
}

TEST_F(VolumeRecord, AFiveGibImageIsDescribedWithItsFullSize) {
    const std::string path = image(int64_t{5} << 30);
    ErrorText out;
    ASSERT_EQ(mount(path, kKey, out), 0u) << out.str();
    EXPECT_EQ(bytes::load_le64(record_driver::last_open().data() + 496), uint64_t{5} << 30);
}

// An image that exists but may not be opened for the probe is mounted with the size 0.
TEST_F(VolumeRecord, AnImageTheProbeMayNotOpenIsMountedWithSize0) {
    const std::string path = image();
    sim::deny_file_access(path);
    ErrorText out;
    ASSERT_EQ(mount(path, kKey, out), 0u) << out.str();
    EXPECT_EQ(bytes::load_le64(record_driver::last_open().data() + 496), 0u);
}

// bSoft is 1 for any nonzero useSoftwareKey: 256, whose low byte is 0, and the highest bit alone.
TEST_F(VolumeRecord, AnyNonzeroSoftIsSoftwareMode) {
    const std::string path = image();
    ErrorText out;
    const VolumeMountArgs args{path.c_str(), 1, letter_};
    for (uint32_t use_software_key : {0x100u, 0x80000000u}) {
        ASSERT_EQ(QeltMountVolume(&args, out.text, ErrorText::kSize, use_software_key, kKey), 0u)
            << out.str();
        EXPECT_EQ(record_driver::last_open().at(504), 1);
        ASSERT_EQ(dismount(0, out), 0u) << out.str();
    }
}

// ---- Failures of the mount step ----

TEST_F(VolumeRecord, ARefusedRequestLeavesNoLetter) {
    const std::string path = image();
    record_driver::answer_open_with(0xC000000D);  // STATUS_INVALID_PARAMETER
    ErrorText step_out;
    EXPECT_FALSE(mount_step(path, 1 << 20, 2, step_out));
    EXPECT_EQ(step_out.str(), "[DeviceIoControl]\\Device\\orvik\\device2 " +
                                  system_message(ERROR_INVALID_PARAMETER));
    EXPECT_FALSE(letter_defined(letter_));
    ErrorText out;
    EXPECT_EQ(mount(path, kKey, out), 1u);
    EXPECT_EQ(out.str(), "[MountVolume]failed " + system_message(ERROR_INVALID_PARAMETER));
    EXPECT_FALSE(letter_defined(letter_));
    EXPECT_TRUE(sim::shell_notifications().empty());
}

// A device number beyond the driver's count fails like a missing driver, with "not found".
TEST_F(VolumeRecord, ADeviceBeyondTheCountIsNotFound) {
    const std::string path = image();
    ErrorText step_out;
    EXPECT_FALSE(mount_step(path, 0, 3, step_out));
    EXPECT_EQ(step_out.str(),
              "[CreateFile]" + drive_path() + " " + system_message(ERROR_FILE_NOT_FOUND));
    EXPECT_FALSE(letter_defined(letter_));
    ErrorText out;
    EXPECT_EQ(mount(path, kKey, out, 3), 1u);
    EXPECT_EQ(out.str(), "[MountVolume]failed " + system_message(ERROR_FILE_NOT_FOUND));
    EXPECT_TRUE(record_driver::requests().empty());
}

TEST_F(VolumeRecord, ALetterInUseIsNotAvailable) {
    const std::string path = image();
    ErrorText out;
    ASSERT_EQ(mount(path, kKey, out), 0u);
    ErrorText step_out;
    EXPECT_FALSE(mount_step(path, 0, 2, step_out));
    EXPECT_EQ(step_out.str(), std::string("Drive ") + letter_ + ": is not available");
    EXPECT_EQ(mount(path, kKey, out, 2), 1u);
    EXPECT_EQ(target(), "\\Device\\orvik\\device1");
    EXPECT_EQ(count(IOCTL_ORVIK_OPEN_IMAGE), 1u);
}

// The letter enters every name as the caller passed it.
TEST_F(VolumeRecord, ALowerCaseLetterStaysLowerCase) {
    const std::string path = image();
    letter_ = static_cast<char>(letter_ - 'A' + 'a');
    ErrorText out;
    ASSERT_EQ(mount(path, kKey, out), 0u) << out.str();
    EXPECT_EQ(sim::shell_notifications().at(0).item1, notify_path());
    ASSERT_EQ(dismount(0, out), 0u) << out.str();
    EXPECT_EQ(sim::shell_notifications().at(1).item1, notify_path());
    EXPECT_FALSE(letter_defined(letter_));
    letter_ = static_cast<char>(letter_ - 'a' + 'A');
}

// ---- Dismount ----

// Another handle open on the volume keeps the lock from being taken: three tries, a second apart.
TEST_F(VolumeRecord, ABusyVolumeStaysMountedWithoutForceAndGoesWithIt) {
    const std::string path = image();
    ErrorText out;
    ASSERT_EQ(mount(path, kKey, out), 0u);
    HANDLE other =
        CreateFileA(drive_path().c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                    OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(other, INVALID_HANDLE_VALUE);

    const Controls refused_locks(3, {FSCTL_LOCK_VOLUME, STATUS_ACCESS_DENIED});
    sim::kernel::clear_volume_controls();
    auto start = std::chrono::steady_clock::now();
    ErrorText step_out;
    EXPECT_FALSE(Dismount(letter_, false, step_out.text, ErrorText::kSize));
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(3000));
    EXPECT_EQ(step_out.str(), "[LockVolume]Failed " + system_message(ERROR_ACCESS_DENIED));
    EXPECT_EQ(count(IOCTL_ORVIK_CLOSE_IMAGE), 0u);
    EXPECT_EQ(target(), "\\Device\\orvik\\device1");
    EXPECT_EQ(sim::kernel::volume_controls(), refused_locks);

    // With force: dismounted unlocked, and no unlock is asked for.
    sim::kernel::clear_volume_controls();
    start = std::chrono::steady_clock::now();
    EXPECT_EQ(dismount(1, out), 0u) << out.str();
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(3000));
    EXPECT_EQ(count(IOCTL_ORVIK_CLOSE_IMAGE), 1u);
    Controls forced = refused_locks;
    forced.push_back({FSCTL_DISMOUNT_VOLUME, STATUS_SUCCESS});
    EXPECT_EQ(sim::kernel::volume_controls(), forced);
    EXPECT_FALSE(letter_defined(letter_));
    EXPECT_TRUE(CloseHandle(other));
}

// ---- Format ----

// The format program cannot format this stand-in (it answers no disk query): the format still
// succeeds, since the dismount does, and leaves no letter behind.
TEST_F(VolumeRecord, AFailedFormatRunStillSucceedsWhenTheDismountDoes) {
    auto card = sim::card::plug(sim::card::random_card());
    const VolumeFormatArgs args{"C:\\Halden\\new.img", 8 << 20, 2, letter_};
    ErrorText out;
    ASSERT_EQ(QeltFormatVolume(&args, out.text, ErrorText::kSize), 0u) << out.str();
    const auto requests = record_driver::requests();
    ASSERT_GE(requests.size(), 3u);
    EXPECT_EQ(requests.front().disk, 2u);
    EXPECT_EQ(requests.front().input,
              expected_record(args.path, card->path().substr(4), 8 << 20, false, nullptr));
    EXPECT_EQ(count(IOCTL_DISK_GET_DRIVE_GEOMETRY), 1u) << "the format program asked and failed";
    EXPECT_EQ(requests.back().code, IOCTL_ORVIK_CLOSE_IMAGE);
    EXPECT_FALSE(letter_defined(letter_));
}

// Both dismounts fail (the letter is gone when the first removes it): "Clean volume failed".
TEST_F(VolumeRecord, FormatWhoseDismountsFailIsCleanVolumeFailed) {
    sim::card::plug(sim::card::random_card());
    record_driver::remove_letter_on_close(letter_);
    ErrorText step_out;
    ASSERT_TRUE(mount_step("C:\\Halden\\first.img", 1 << 20, 1, step_out));
    EXPECT_FALSE(Dismount(letter_, true, step_out.text, ErrorText::kSize));
    EXPECT_EQ(step_out.str().rfind("[DefineDosDevice]Failed ", 0), 0u) << step_out.str();

    const VolumeFormatArgs args{"C:\\Halden\\new.img", 8 << 20, 1, letter_};
    ErrorText out;
    EXPECT_EQ(QeltFormatVolume(&args, out.text, ErrorText::kSize), 1u);
    EXPECT_EQ(out.str().rfind("[CreateVolume]Clean volume failed ", 0), 0u) << out.str();
}

}  // namespace
