// The software card's volume entry points against a stand-in for Orvik that records what reaches
// it: every request in software mode with the caller's or the stored key and no card path, the
// stored key taken while logged out and while locked, the key lines of the log, and the refused
// request's text in the log.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "base/byte_access.h"
#include "crypto/hex.h"
#include "tests/support/log_capture.h"
#include "tests/support/softcard_fixture.h"
#include "tests/support/volume_test.h"
#include "tests/volume/record_driver.h"
#include "volume/exports.h"

namespace {

using Bytes = std::vector<uint8_t>;

class SoftcardRecord : public SoftcardTest {
  protected:
    void SetUp() override {
        SoftcardTest::SetUp();
        ASSERT_TRUE(record_driver::load(1));
        letter_ = free_letter();
        for (size_t i = 0; i < 32; ++i) stored_[i] = static_cast<uint8_t>(0xA0 + i);
        ASSERT_EQ(init_cfg(), 0u);
        ASSERT_EQ(StoreVolumeKey(stored_), 0u);
        log_.clear();
        LogSetLevel(LOG_DEBUG);
    }
    void TearDown() override {
        while (letter_defined(letter_))
            DefineDosDeviceA(DDD_REMOVE_DEFINITION, std::string(1, letter_).append(":").c_str(),
                             nullptr);
        record_driver::unload();
        SoftcardTest::TearDown();
    }

    std::string image() {
        std::ofstream(root.path("C:/Halden/files/vol.img"), std::ios::binary)
            << std::string(1 << 20, '\0');
        return "C:\\Halden\\files\\vol.img";
    }
    uint32_t mount(const uint8_t* key, ErrorText& out) {
        const std::string path = image();
        const VolumeMountArgs args{path.c_str(), 1, letter_};
        return QeltMountVolume(&args, out.text, ErrorText::kSize, key ? 1 : 0, key);
    }
    uint32_t dismount(ErrorText& out) {
        const VolumeDismountArgs args{letter_, 0};
        return QeltDismountVolume(&args, out.text, ErrorText::kSize);
    }
    // The record's device path field, bSoft and keys.
    static void expect_software_mode(const Bytes& record, const uint8_t* key) {
        ASSERT_EQ(record.size(), 537u);
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(record.data() + 244)), "\\GLOBAL??\\");
        EXPECT_EQ(bytes::load_le16(record.data() + 490), 10u);
        EXPECT_EQ(record[504], 1);
        EXPECT_EQ(Bytes(record.begin() + 505, record.end()), Bytes(key, key + 32));
    }
    static std::string key_line(const char* name, const uint8_t* key) {
        char hex[65];
        bytes_to_hex(key, 32, hex);
        return std::string(name) + ":" + hex + ":";
    }
    bool logged(const std::string& message) const {
        const auto lines = log_.messages(LOG_TRACE);
        return std::find(lines.begin(), lines.end(), message) != lines.end();
    }

    LogCapture log_;
    uint8_t stored_[32];
    char letter_ = 'Q';
};

TEST_F(SoftcardRecord, TheStoredKeyLoggedOutAndLocked) {
    ErrorText out;
    ASSERT_EQ(mount(nullptr, out), 0u) << out.str();
    expect_software_mode(record_driver::last_open(), stored_);
    EXPECT_TRUE(logged(key_line("HWkey", stored_)));
    ASSERT_EQ(dismount(out), 0u) << out.str();

    lock_card();
    ASSERT_EQ(mount(nullptr, out), 0u) << out.str();
    expect_software_mode(record_driver::last_open(), stored_);
}

TEST_F(SoftcardRecord, TheCallersKey) {
    uint8_t key[32];
    for (size_t i = 0; i < 32; ++i) key[i] = static_cast<uint8_t>(3 * i);
    ErrorText out;
    ASSERT_EQ(mount(key, out), 0u) << out.str();
    expect_software_mode(record_driver::last_open(), key);
    EXPECT_TRUE(logged(key_line("SWkey", key)));
    EXPECT_FALSE(logged(key_line("HWkey", stored_)));
}

// The format creates the image in software mode under the stored key; the format program fails
// on the stand-in, the dismount succeeds: 0. The stored key is not logged.
TEST_F(SoftcardRecord, FormatUnderTheStoredKey) {
    const VolumeFormatArgs args{"C:\\Halden\\files\\new.img", 4 << 20, 1, letter_};
    ErrorText out;
    ASSERT_EQ(QeltFormatVolume(&args, out.text, ErrorText::kSize), 0u) << out.str();
    const Bytes record = record_driver::requests().front().input;
    expect_software_mode(record, stored_);
    EXPECT_EQ(bytes::load_le64(record.data() + 496), uint64_t{4} << 20);
    EXPECT_FALSE(letter_defined(letter_));
    EXPECT_FALSE(logged(key_line("HWkey", stored_)));
    EXPECT_TRUE(logged(" === QeltFormatVolume ==  entry " + std::string(args.path) + " 4194304 1 " +
                       letter_ + " \n"));
}

// This build logs the text of a refused request (and no other error text).
TEST_F(SoftcardRecord, ARefusedRequestsTextIsLogged) {
    record_driver::answer_open_with(0xC000000D);  // STATUS_INVALID_PARAMETER
    ErrorText out;
    EXPECT_EQ(mount(stored_, out), 1u);
    const std::string refused =
        "[DeviceIoControl]\\Device\\orvik\\device1 " + system_message(ERROR_INVALID_PARAMETER);
    size_t seen = 0;
    for (const LoggedLine& line : log_.all()) {
        if (line.message != refused) continue;
        ++seen;
        EXPECT_EQ(line.file, "Kelvane");
    }
    EXPECT_EQ(seen, 1u);
    EXPECT_FALSE(logged("[MountVolume]failed " + system_message(ERROR_INVALID_PARAMETER)));
    EXPECT_FALSE(letter_defined(letter_));
}

}  // namespace
