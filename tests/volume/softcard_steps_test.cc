// The software card's volume entry points where no disk is reached: the key dump, the stored key
// missing, a missing image, and the error text that this build does not log. Runs on Linux and
// under Wine.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "softcard/volume_exports.h"
#include "tests/support/log_capture.h"
#include "tests/support/softcard_fixture.h"
#include "tests/support/volume_test.h"
#include "volume/exports.h"
#include "volume/steps.h"

namespace {

std::vector<LoggedLine> dump(const char* name, const std::vector<uint8_t>& data) {
    LogCapture log;
    LogSetLevel(LOG_DEBUG);
    DumpKeyHex(name, data.data(), data.size());
    return log.all();
}

TEST(KeyDump, OneLineOfNameHexAndColons) {
    std::vector<uint8_t> key(32);
    for (size_t i = 0; i < key.size(); ++i) key[i] = static_cast<uint8_t>(0xE0 + i);
    const auto lines = dump("SWkey", key);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].message,
              "SWkey:e0e1e2e3e4e5e6e7e8e9eaebecedeeeff0f1f2f3f4f5f6f7f8f9fafbfcfdfeff:");
    EXPECT_EQ(lines[0].level, LOG_TRACE);
    EXPECT_EQ(lines[0].file, "api");

    const auto longest = dump("k", std::vector<uint8_t>(1024, 0xAB));
    ASSERT_EQ(longest.size(), 1u);
    std::string hex;
    for (int i = 0; i < 1024; ++i) hex += "ab";
    EXPECT_EQ(longest[0].message, "k:" + hex + ":");
}

TEST(KeyDump, NothingForNoDataOrTooMuch) {
    const std::vector<uint8_t> key(32, 1);
    EXPECT_TRUE(dump("SWkey", {}).empty());
    EXPECT_TRUE(dump("SWkey", std::vector<uint8_t>(1025, 1)).empty());
    EXPECT_TRUE(dump(nullptr, key).empty());
    LogCapture log;
    DumpKeyHex("SWkey", nullptr, 32);
    EXPECT_TRUE(log.all().empty());
}

TEST(ErrorText, NotLoggedInTheSoftwareCardBuild) {
    LogCapture log;
    LogSetLevel(LOG_DEBUG);
    ErrorText out;
    SetLastError(ERROR_ACCESS_DENIED);
    ReportLastError("LockVolume", "Failed", out.text, ErrorText::kSize);
    EXPECT_EQ(out.str(), "[LockVolume]Failed " + system_message(ERROR_ACCESS_DENIED));
    EXPECT_TRUE(log.all().empty());
}

class SoftcardVolume : public SoftcardTest {
  protected:
    std::string image_path(const char* name) const {
        return std::string("C:\\Halden\\files\\") + name;
    }
};

// No volume key stored (or no store at all): 7 before anything is defined or created.
TEST_F(SoftcardVolume, WithoutAStoredKeyResult7) {
    const char letter = free_letter();
    for (bool store : {false, true}) {
        if (store) {
            ASSERT_EQ(init_cfg(), 0u);
        }
        const std::string path = image_path("new.img");
        const VolumeFormatArgs format_args{path.c_str(), 1 << 20, 1, letter};
        ErrorText format_out;
        EXPECT_EQ(QeltFormatVolume(&format_args, format_out.text, ErrorText::kSize), 7u);
        EXPECT_EQ(format_out.str().rfind("[CreateVolume]Get key failed ", 0), 0u)
            << format_out.str();
        const VolumeMountArgs mount_args{path.c_str(), 1, letter};
        ErrorText mount_out;
        EXPECT_EQ(QeltMountVolume(&mount_args, mount_out.text, ErrorText::kSize, 0, nullptr), 7u);
        EXPECT_EQ(mount_out.str().rfind("[MountVolume]Get key failed ", 0), 0u) << mount_out.str();
        EXPECT_FALSE(letter_defined(letter));
        EXPECT_FALSE(std::filesystem::exists(root.path("C:/Halden/files/new.img")));
    }
}

// The key is dumped before the image is probed.
TEST_F(SoftcardVolume, AMissingImageIsResult5) {
    LogCapture log;
    LogSetLevel(LOG_DEBUG);
    const std::string path = image_path("missing.img");
    const VolumeMountArgs args{path.c_str(), 1, free_letter()};
    const uint8_t key[32] = {0xAA};
    ErrorText out;
    EXPECT_EQ(QeltMountVolume(&args, out.text, ErrorText::kSize, 1, key), 5u);
    EXPECT_EQ(out.str(),
              "[MountVolume]Raw file not exists " + system_message(ERROR_FILE_NOT_FOUND));
    const std::vector<std::string> lines = log.messages(LOG_TRACE);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], " === QeltMountVolume ==  entry " + path + " 1 " + args.letter + " \n");
    EXPECT_EQ(lines[1], "SWkey:aa" + std::string(62, '0') + ":");
    EXPECT_FALSE(letter_defined(args.letter));
}

}  // namespace
