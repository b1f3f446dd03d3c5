// The volume functions of the device build where no disk is reached: drive letters, error texts,
// the mount record's layout, the refusals before a disk is opened, the exports without a card or
// a driver, and the hex dump. Runs on Linux and under Wine.
#include "volume/steps.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "base/byte_access.h"
#include "tests/support/log_capture.h"
#include "tests/support/temp_machine_root.h"
#include "tests/support/test_folder.h"
#include "tests/support/volume_test.h"
#include "volume/exports.h"
#include "volume/trace.h"
#include "wire/orvik_interface.h"

namespace {

namespace fd = wire::file_descriptor;

const uint8_t kKey[32] = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88, 0x99, 0xaa,
                          0xbb, 0xcc, 0xdd, 0xee, 0xff, 0x0f, 0x1e, 0x2d, 0x3c, 0x4b, 0x5a,
                          0x69, 0x78, 0x87, 0x96, 0xa5, 0xb4, 0xc3, 0xd2, 0xe1, 0xf0};

// ---- Drive letters ----

TEST(DriveLetters, NeverOfferedWhetherFreeOrNot) {
    for (char letter : {'A', 'B', 'D', 'a', 'b', 'd', '0', '9', '@', '[', '`', '{', ' ', ':', '\0',
                        static_cast<char>(0xC1)})
        EXPECT_FALSE(IsDriveLetterAvailable(letter)) << static_cast<int>(letter);
}

TEST(DriveLetters, CPassesTheMaskButIsInUse) {
    EXPECT_NE(kFreeLetterMask & (1u << 2), 0u);
    EXPECT_NE(GetLogicalDrives() & (1u << 2), 0u);
    EXPECT_FALSE(IsDriveLetterAvailable('C'));
    EXPECT_FALSE(IsDriveLetterAvailable('c'));
}

TEST(DriveLetters, AFreeLetterInEitherCaseUntilItIsDefined) {
    const char letter = free_letter();
    const char lower = static_cast<char>(letter - 'A' + 'a');
    EXPECT_TRUE(IsDriveLetterAvailable(letter));
    EXPECT_TRUE(IsDriveLetterAvailable(lower));
    const char name[3] = {letter, ':', '\0'};
    ASSERT_TRUE(DefineDosDeviceA(DDD_RAW_TARGET_PATH, name, "\\Device\\Null"));
    EXPECT_FALSE(IsDriveLetterAvailable(letter));
    EXPECT_FALSE(IsDriveLetterAvailable(lower));
    ASSERT_TRUE(DefineDosDeviceA(DDD_REMOVE_DEFINITION, name, nullptr));
    EXPECT_TRUE(IsDriveLetterAvailable(letter));
}

TEST(DriveLetters, TracesEachStep) {
    LogCapture log;
    LogSetLevel(LOG_TRACE);
    EXPECT_FALSE(IsDriveLetterAvailable('d'));
    const std::vector<LoggedLine> lines = log.all();
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines[0].message, " === IsDriveLetterAvailable == chUpperLetter D\n");
    EXPECT_EQ(lines[1].message, " === IsDriveLetterAvailable == chBitIndex 3\n");
    char logical[64];
    std::snprintf(logical, sizeof logical, " === IsDriveLetterAvailable == dwLogical %x\n",
                  static_cast<unsigned>(GetLogicalDrives()));
    EXPECT_EQ(lines[2].message, logical);
    EXPECT_EQ(lines[4].message, " === IsDriveLetterAvailable == dwBitMask 8\n");
    for (const LoggedLine& line : lines) {
        EXPECT_EQ(line.level, LOG_TRACE);
        EXPECT_EQ(line.file, "Kelvane");
    }
    log.clear();
    EXPECT_FALSE(IsDriveLetterAvailable('7'));
    ASSERT_EQ(log.messages(LOG_TRACE).size(), 1u);
}

// ---- Error texts ----

TEST(ErrorText, OperationDetailAndTheSystemsMessage) {
    ErrorText out;
    SetLastError(ERROR_FILE_NOT_FOUND);
    ReportLastError("CreateFile", "\\\\.\\Q:", out.text, ErrorText::kSize);
    EXPECT_EQ(out.str(), "[CreateFile]\\\\.\\Q: " + system_message(ERROR_FILE_NOT_FOUND));
    if (!under_wine()) {  // Wine has texts of its own
        EXPECT_EQ(out.str(),
                  "[CreateFile]\\\\.\\Q: The system cannot find the file specified.\r\n");
    }
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST(ErrorText, ACodeWithoutAMessageIsNamed) {
    ErrorText out;
    SetLastError(0x20000001);  // customer code: the system has no text for it
    ReportLastError("LockVolume", "Failed", out.text, ErrorText::kSize);
    EXPECT_EQ(out.str(), "[LockVolume]Failed system error 536870913");
}

TEST(ErrorText, WrittenWithinTheCallersSize) {
    ErrorText out;
    SetLastError(ERROR_ACCESS_DENIED);
    ReportLastError("LockVolume", "Failed", out.text, 8);
    EXPECT_EQ(std::string(out.text), "[LockVo");
    for (size_t i = 8; i < ErrorText::kSize; ++i) ASSERT_EQ(out.text[i], '#') << i;
    ErrorText none;
    ReportLastError("LockVolume", "Failed", none.text, 0);
    EXPECT_TRUE(none.untouched());
    ReportLastError("LockVolume", "Failed", nullptr, 100);
}

TEST(ErrorText, LoggedInTheDeviceBuild) {
    LogCapture log;
    LogSetLevel(LOG_TRACE);
    ErrorText out;
    SetLastError(ERROR_ACCESS_DENIED);
    ReportLastError("LockVolume", "Failed", out.text, ErrorText::kSize);
    const auto lines = log.all();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].message, out.str() + "\n");
    EXPECT_EQ(lines[0].file, "Kelvane");
}

// ---- The mount record ----

std::vector<uint8_t> record_of(const fd::Contents& contents) {
    uint8_t record[fd::kSize];
    std::memset(record, 0xA5, sizeof record);
    fd::Encode(contents, record);
    return std::vector<uint8_t>(record, record + sizeof record);
}

std::string text_at(const std::vector<uint8_t>& record, size_t offset, size_t size) {
    return std::string(reinterpret_cast<const char*>(record.data() + offset),
                       strnlen(reinterpret_cast<const char*>(record.data() + offset), size));
}

// Every byte of [from, to) is zero.
void expect_zero(const std::vector<uint8_t>& record, size_t from, size_t to) {
    for (size_t i = from; i < to; ++i) ASSERT_EQ(record[i], 0) << "byte " << i;
}

TEST(MountRecord, SoftwareKeyFieldByField) {
    const std::string image = "C:\\v\\images\\vol1.img";
    ASSERT_EQ(image.size(), 20u);
    const std::vector<uint8_t> r =
        record_of({image.c_str(), "", int64_t{5} << 30, 0x10000, true, kKey});
    ASSERT_EQ(r.size(), 537u);
    EXPECT_EQ(text_at(r, 0, 240), "\\??\\" + image);
    expect_zero(r, 24, 240);
    EXPECT_EQ(bytes::load_le32(r.data() + 240), 0xCCCCCCCCu);
    EXPECT_EQ(text_at(r, 244, 240), "\\GLOBAL??\\");
    expect_zero(r, 254, 484);
    EXPECT_EQ(bytes::load_le32(r.data() + 484), 0xCCCCCCCCu);
    EXPECT_EQ(bytes::load_le16(r.data() + 488), 24u);
    EXPECT_EQ(bytes::load_le16(r.data() + 490), 10u);
    EXPECT_EQ(bytes::load_le32(r.data() + 492), 0x10000u);
    EXPECT_EQ(bytes::load_le64(r.data() + 496), uint64_t{5} << 30);
    EXPECT_EQ(r[504], 1);
    EXPECT_EQ(std::vector<uint8_t>(r.begin() + 505, r.begin() + 537),
              std::vector<uint8_t>(kKey, kKey + 32));
}

TEST(MountRecord, CardModeWithTheLongestPaths) {
    const std::string image = "C:\\" + std::string(fd::kMaxImagePath - 3, 'i');
    const std::string card = "usb#" + std::string(fd::kMaxCardDevicePath - 4, 'c');
    const uint8_t zero[32] = {};
    const std::vector<uint8_t> r =
        record_of({image.c_str(), card.c_str(), 0, 0x10000, false, zero});
    EXPECT_EQ(text_at(r, 0, 240), "\\??\\" + image);
    EXPECT_EQ(r[239], 0);
    EXPECT_EQ(text_at(r, 244, 240), "\\GLOBAL??\\" + card);
    EXPECT_EQ(r[483], 0);
    EXPECT_EQ(bytes::load_le16(r.data() + 488), 239u);
    EXPECT_EQ(bytes::load_le16(r.data() + 490), 239u);
    EXPECT_EQ(bytes::load_le64(r.data() + 496), 0u);
    EXPECT_EQ(r[504], 0);
    expect_zero(r, 505, 537);
}

// ---- Refusals before a disk is opened ----

class VolumeSteps : public ::testing::Test {
  protected:
    // An image of 1 MiB at "C:\Halden\<name>".
    std::string image(const std::string& name = "vol.img") {
        root_.make_folder("C:/Halden");
        std::ofstream(root_.path("C:/Halden/" + name), std::ios::binary)
            << std::string(1 << 20, '\0');
        return "C:\\Halden\\" + name;
    }
    bool mount(const std::string& path, char letter, ErrorText& out, const std::string& card = "") {
        return Mount({{path.c_str(), card.c_str(), 0, kVolumeChunkSize, true, kKey}, 1, letter},
                     out.text, ErrorText::kSize);
    }

    TempMachineRoot root_;
};

TEST_F(VolumeSteps, ALetterThatIsNotOfferedDefinesNothing) {
    for (char letter : {'A', 'b', 'D', '1', 'C', 'c'}) {
        ErrorText out;
        EXPECT_FALSE(mount(image(), letter, out));
        EXPECT_EQ(out.str(), std::string("Drive ") + letter + ": is not available");
        if (letter != 'C' && letter != 'c') {
            EXPECT_FALSE(letter_defined(letter));
        }
    }
}

struct RefusedLetter {
    char letter;
    DWORD error;
};

// The export's text says why a letter is refused: in use, or never offered.
TEST_F(VolumeSteps, ARefusedLetterSaysWhy) {
    const char defined = free_letter();
    const char name[3] = {defined, ':', '\0'};
    ASSERT_TRUE(DefineDosDeviceA(DDD_RAW_TARGET_PATH, name, "\\Device\\Null"));
    ASSERT_EQ(GetLogicalDrives() & (1u << ('B' - 'A')), 0u) << "B: is free";
    const RefusedLetter cases[] = {
        {'C', ERROR_ALREADY_EXISTS}, {'c', ERROR_ALREADY_EXISTS}, {defined, ERROR_ALREADY_EXISTS},
        {'B', ERROR_INVALID_DRIVE},  {'1', ERROR_INVALID_DRIVE},  {'[', ERROR_INVALID_DRIVE},
    };
    const std::string path = image();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.letter);
        SetLastError(ERROR_SUCCESS);
        EXPECT_FALSE(IsDriveLetterAvailable(c.letter));
        EXPECT_EQ(GetLastError(), c.error);
        const VolumeMountArgs args{path.c_str(), 1, c.letter};
        ErrorText out;
        EXPECT_EQ(QeltMountVolume(&args, out.text, ErrorText::kSize, 1, kKey), 1u);
        EXPECT_EQ(out.str(), "[MountVolume]failed " + system_message(c.error));
    }
    EXPECT_TRUE(DefineDosDeviceA(DDD_REMOVE_DEFINITION, name, nullptr));
}

TEST_F(VolumeSteps, APathTooLongForTheRecordIsRefusedBeforeAnythingIsDefined) {
    const char letter = free_letter();
    const std::string long_image = "C:\\" + std::string(fd::kMaxImagePath - 2, 'i');
    ErrorText out;
    EXPECT_FALSE(mount(long_image, letter, out));
    EXPECT_EQ(out.str(), "[Mount]" + long_image + " " + system_message(ERROR_FILENAME_EXCED_RANGE));
    EXPECT_FALSE(letter_defined(letter));

    const std::string long_card(fd::kMaxCardDevicePath + 1, 'c');
    ErrorText card_out;
    EXPECT_FALSE(mount(image(), letter, card_out, long_card));
    EXPECT_EQ(card_out.str(),
              "[Mount]" + long_card + " " + system_message(ERROR_FILENAME_EXCED_RANGE));
    EXPECT_FALSE(letter_defined(letter));
}

// The driver's directory does not exist: the letter is defined, the drive does not open, and the
// definition goes again. The text describes the open. The longest paths are taken.
TEST_F(VolumeSteps, WithoutTheDriverTheOpenFailsAndTheLetterGoes) {
    const char letter = free_letter();
    const std::string longest = "C:\\" + std::string(fd::kMaxImagePath - 3, 'i');
    ErrorText out;
    EXPECT_FALSE(mount(longest, letter, out, std::string(fd::kMaxCardDevicePath, 'c')));
    const std::string drive = std::string("\\\\.\\") + letter + ":";
    EXPECT_EQ(out.str(), "[CreateFile]" + drive + " " + system_message(ERROR_PATH_NOT_FOUND));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
    EXPECT_FALSE(letter_defined(letter));
    EXPECT_TRUE(IsDriveLetterAvailable(letter));
}

TEST_F(VolumeSteps, DismountOfALetterThatNamesNothing) {
    const char letter = free_letter();
    ErrorText out;
    EXPECT_FALSE(Dismount(letter, true, out.text, ErrorText::kSize));
    EXPECT_EQ(out.str(), std::string("[CreateFile]\\\\.\\") + letter + ": " +
                             system_message(ERROR_FILE_NOT_FOUND));
}

// ---- The exports without a card and without a driver ----

TEST_F(VolumeSteps, MountWithoutTheDriverFailsUnderItsOwnText) {
    const char letter = free_letter();
    const std::string path = image();
    const VolumeMountArgs args{path.c_str(), 1, letter};
    ErrorText out;
    EXPECT_EQ(QeltMountVolume(&args, out.text, ErrorText::kSize, 1, kKey), 1u);
    EXPECT_EQ(out.str(), "[MountVolume]failed " + system_message(ERROR_PATH_NOT_FOUND));
    EXPECT_FALSE(letter_defined(letter));
}

// The mount step's own text ("Drive D: is not available") gives way to the export's.
TEST_F(VolumeSteps, TheExportsTextReplacesTheSteps) {
    const std::string path = image();
    const VolumeMountArgs args{path.c_str(), 1, 'D'};
    ErrorText out;
    EXPECT_EQ(QeltMountVolume(&args, out.text, ErrorText::kSize, 1, kKey), 1u);
    EXPECT_EQ(out.str().rfind("[MountVolume]failed ", 0), 0u) << out.str();
}

TEST_F(VolumeSteps, AMissingImageIsResult5AndNothingIsDefined) {
    const char letter = free_letter();
    const std::string path = "C:\\Halden\\missing.img";
    root_.make_folder("C:/Halden");
    const VolumeMountArgs args{path.c_str(), 1, letter};
    ErrorText out;
    EXPECT_EQ(QeltMountVolume(&args, out.text, ErrorText::kSize, 1, kKey), 5u);
    EXPECT_EQ(out.str(),
              "[MountVolume]Raw file not exists " + system_message(ERROR_FILE_NOT_FOUND));
    EXPECT_FALSE(letter_defined(letter));
}

// Without a software key the card is looked for first: no card is 17, before the image is probed.
TEST_F(VolumeSteps, WithoutACardCardModeIsResult17) {
    const char letter = free_letter();
    const VolumeMountArgs mount_args{"C:\\Halden\\missing.img", 1, letter};
    ErrorText mount_out;
    EXPECT_EQ(QeltMountVolume(&mount_args, mount_out.text, ErrorText::kSize, 0, nullptr), 17u);
    EXPECT_EQ(mount_out.str().rfind("[MountVolume]Card error ", 0), 0u) << mount_out.str();

    const VolumeFormatArgs format_args{"C:\\Halden\\new.img", 1 << 20, 1, letter};
    ErrorText format_out;
    EXPECT_EQ(QeltFormatVolume(&format_args, format_out.text, ErrorText::kSize), 17u);
    EXPECT_EQ(format_out.str().rfind("[CreateVolume]Card error ", 0), 0u) << format_out.str();
    EXPECT_FALSE(letter_defined(letter));
    EXPECT_FALSE(std::filesystem::exists(root_.path("C:/Halden/new.img")));
}

TEST_F(VolumeSteps, DismountExportOfALetterThatNamesNothing) {
    const VolumeDismountArgs args{free_letter(), 0};
    ErrorText out;
    EXPECT_EQ(QeltDismountVolume(&args, out.text, ErrorText::kSize), 1u);
    EXPECT_EQ(out.str(), "[DismountVolume]failed " + system_message(ERROR_FILE_NOT_FOUND));
}

TEST_F(VolumeSteps, NullRecordsPathsAndKeysAreResult3) {
    ErrorText out;
    EXPECT_EQ(QeltFormatVolume(nullptr, out.text, ErrorText::kSize), 3u);
    EXPECT_EQ(out.str(), "[CreateVolume]invalid arg " + system_message(ERROR_INVALID_PARAMETER));
    const VolumeFormatArgs no_path{nullptr, 1 << 20, 1, 'Q'};
    EXPECT_EQ(QeltFormatVolume(&no_path, out.text, ErrorText::kSize), 3u);
    EXPECT_EQ(QeltMountVolume(nullptr, out.text, ErrorText::kSize, 1, kKey), 3u);
    const std::string path = image();
    const VolumeMountArgs args{path.c_str(), 1, 'Q'};
    EXPECT_EQ(QeltMountVolume(&args, out.text, ErrorText::kSize, 1, nullptr), 3u);
    EXPECT_EQ(out.str(), "[MountVolume]invalid arg " + system_message(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(QeltDismountVolume(nullptr, out.text, ErrorText::kSize), 3u);
    EXPECT_EQ(QeltMountVolume(&args, nullptr, 0, 1, nullptr), 3u);
}

// ---- The hex dump ----

std::vector<std::string> hex_dump(const char* title, size_t length) {
    LogCapture log;
    LogSetLevel(LOG_TRACE);
    std::vector<uint8_t> data(length);
    for (size_t i = 0; i < length; ++i) data[i] = static_cast<uint8_t>(0xF0 + i);
    LogHexDump(title, data.data(), data.size());
    for (const LoggedLine& line : log.all()) EXPECT_EQ(line.file, "api");
    return log.messages(LOG_TRACE);
}

TEST(HexDump, EveryPieceIsALine) {
    const std::vector<std::string> key = hex_dump("SWkey", 32);
    ASSERT_EQ(key.size(), 38u);
    EXPECT_EQ(key[0], "SWkey: \n");
    EXPECT_EQ(key[1], "0x00000: ");
    EXPECT_EQ(key[2], "f0 ");
    EXPECT_EQ(key[18], "\n");
    EXPECT_EQ(key[19], "0x00010: ");
    EXPECT_EQ(key[36], "\n");
    EXPECT_EQ(key[37], "\n");

    EXPECT_EQ(hex_dump("empty", 0), (std::vector<std::string>{"empty: \n", "\n"}));

    const std::vector<std::string> odd = hex_dump(nullptr, 17);
    ASSERT_EQ(odd.size(), 21u);
    EXPECT_EQ(odd[0], "0x00000: ");
    EXPECT_EQ(odd[18], "0x00010: ");
    EXPECT_EQ(odd[19], "00 ");
    EXPECT_EQ(odd[20], "\n");
}

}  // namespace
