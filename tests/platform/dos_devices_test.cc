// MS-DOS device names and drive letters as Windows keeps them: DefineDosDeviceA, QueryDosDeviceA
// and GetLogicalDrives, and where "\\.\X:" leads. Runs against the Linux layer and, in the Windows
// build, against Wine's kernel32.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#if defined(_WIN32)
#include <windows.h>
#else
#include "platform/win32.h"
#endif
#include "tests/support/test_folder.h"

namespace {

// A letter no drive has (the test's own: S:), and a target whose directory does not exist.
constexpr char kName[] = "S:";
constexpr DWORD kBit = 1u << ('S' - 'A');
constexpr char kMissing[] = "\\Device\\HaldenNoDriver\\disk1";

class DosDevices : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_FALSE(GetLogicalDrives() & kBit); }
    void TearDown() override {
        while (DefineDosDeviceA(DDD_REMOVE_DEFINITION, kName, nullptr)) {
        }
    }
    // QueryDosDeviceA's list with its NULs made visible as '|'; "" with the error in error_.
    std::string query(const char* name, DWORD size = 1024) {
        std::string buffer(size, '\x7f');
        const DWORD stored = QueryDosDeviceA(name, buffer.data(), size);
        error_ = stored ? 0 : GetLastError();
        buffer.resize(stored);
        for (char& c : buffer)
            if (c == '\0') c = '|';
        return buffer;
    }
    DWORD error_ = 0;
    TestFolder folder_;
};

TEST_F(DosDevices, ALetterDefinedToAMissingTargetIsADriveThatDoesNotOpen) {
    ASSERT_TRUE(DefineDosDeviceA(DDD_RAW_TARGET_PATH, kName, kMissing));
    EXPECT_TRUE(GetLogicalDrives() & kBit);
    EXPECT_TRUE(GetLogicalDrives() & (1u << ('C' - 'A')));
    EXPECT_EQ(query(kName), std::string(kMissing) + "||");
    EXPECT_EQ(query("s:"), std::string(kMissing) + "||");
    EXPECT_EQ(query(kName, sizeof kMissing), "");  // one NUL short
    EXPECT_EQ(error_, static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    // The whole list holds the name.
    EXPECT_NE(query(nullptr, 65536).find(std::string("|") + kName + "|"), std::string::npos);
    HANDLE drive =
        CreateFileA("\\\\.\\S:", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_EQ(drive, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));

    ASSERT_TRUE(DefineDosDeviceA(DDD_REMOVE_DEFINITION, kName, nullptr));
    EXPECT_FALSE(GetLogicalDrives() & kBit);
    EXPECT_EQ(query(kName), "");
    EXPECT_EQ(error_, static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_FALSE(DefineDosDeviceA(DDD_REMOVE_DEFINITION, kName, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    drive =
        CreateFileA("\\\\.\\S:", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_EQ(drive, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST_F(DosDevices, BadDefinitionsAreRefused) {
    struct Case {
        DWORD flags;
        const char* name;
        const char* target;
        DWORD error;
    };
    const Case cases[] = {
        {DDD_RAW_TARGET_PATH, "", kMissing, ERROR_INVALID_NAME},
        {DDD_RAW_TARGET_PATH, nullptr, kMissing, ERROR_INVALID_NAME},
        {DDD_RAW_TARGET_PATH, kName, nullptr, ERROR_INVALID_PARAMETER},
        {DDD_RAW_TARGET_PATH, kName, "", ERROR_INVALID_PARAMETER},
    };
    for (const auto& c : cases) {
        SetLastError(0);
        EXPECT_FALSE(DefineDosDeviceA(c.flags, c.name, c.target)) << c.error;
        EXPECT_EQ(GetLastError(), c.error);
    }
    EXPECT_FALSE(GetLogicalDrives() & kBit);
}

// Windows pushes a definition onto the name's earlier ones and a removal uncovers the one before;
// a removal with a target takes the definition it matches (exactly, with
// DDD_EXACT_MATCH_ON_REMOVE, else by its beginning).
TEST_F(DosDevices, DefinitionsStack) {
    if (under_wine()) GTEST_SKIP() << "Wine 8 refuses a second definition of a name";
    ASSERT_TRUE(DefineDosDeviceA(DDD_RAW_TARGET_PATH, kName, "\\Device\\HaldenFirst"));
    ASSERT_TRUE(DefineDosDeviceA(DDD_RAW_TARGET_PATH, kName, "\\Device\\HaldenSecond"));
    ASSERT_TRUE(DefineDosDeviceA(DDD_RAW_TARGET_PATH, kName, "\\Device\\HaldenThird"));
    EXPECT_EQ(query(kName), "\\Device\\HaldenThird|\\Device\\HaldenSecond|\\Device\\HaldenFirst||");
    EXPECT_FALSE(
        DefineDosDeviceA(DDD_REMOVE_DEFINITION | DDD_RAW_TARGET_PATH | DDD_EXACT_MATCH_ON_REMOVE,
                         kName, "\\Device\\HaldenSec"));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    ASSERT_TRUE(DefineDosDeviceA(DDD_REMOVE_DEFINITION | DDD_RAW_TARGET_PATH, kName,
                                 "\\Device\\HaldenSec"));
    EXPECT_EQ(query(kName), "\\Device\\HaldenThird|\\Device\\HaldenFirst||");
    ASSERT_TRUE(DefineDosDeviceA(DDD_REMOVE_DEFINITION, kName, nullptr));
    EXPECT_EQ(query(kName), "\\Device\\HaldenFirst||");
    EXPECT_TRUE(GetLogicalDrives() & kBit);
    ASSERT_TRUE(DefineDosDeviceA(DDD_REMOVE_DEFINITION, kName, nullptr));
    EXPECT_FALSE(GetLogicalDrives() & kBit);
}

#if !defined(_WIN32)
// On the machine root a drive is a folder named by its letter; C: always is one.
TEST_F(DosDevices, DriveFoldersAreDrives) {
    const DWORD before = GetLogicalDrives();
    EXPECT_EQ(before, 1u << ('C' - 'A'));
    std::filesystem::create_directories(folder_.drive_root('E'));
    EXPECT_EQ(GetLogicalDrives(), before | 1u << ('E' - 'A'));
    std::filesystem::remove(folder_.drive_root('E'));
    EXPECT_EQ(GetLogicalDrives(), before);
}
#endif

#if defined(_WIN32)
// A letter defined to a device the system has reaches it.
TEST_F(DosDevices, ALetterReachesTheDeviceItNames) {
    ASSERT_TRUE(DefineDosDeviceA(DDD_RAW_TARGET_PATH, kName, "\\Device\\Null"));
    EXPECT_EQ(query(kName), "\\Device\\Null||");
    HANDLE device =
        CreateFileA("\\\\.\\s:", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(device, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    EXPECT_TRUE(WriteFile(device, "abc", 3, &written, nullptr));
    EXPECT_TRUE(CloseHandle(device));
}
#endif

}  // namespace
