// Windows' rules for file names, the same for CreateFileA, the C runtime and the file-name calls.
// Runs against the Linux layer and, in the Windows build, against Wine's kernel32.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include "platform/win32.h"
#include "tests/support/test_folder.h"
#include "tests/support/working_folder.h"

namespace {

class Paths : public ::testing::Test {
  protected:
    void SetUp() override {
        folder.make_folder("Sub");
        folder.write("Data.bin", "data");
    }

    // What opening name for reading gives: the file's first bytes, or the error.
    std::string open_and_read(const std::string& name) const {
        HANDLE file = CreateFileA(name.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) return "error " + std::to_string(GetLastError());
        char bytes[8] = {};
        DWORD read = 0;
        ReadFile(file, bytes, sizeof bytes, &read, nullptr);
        CloseHandle(file);
        return std::string(bytes, read);
    }

    // A drive letter that this machine does not have.
    char missing_drive() const {
        for (char letter = 'Q'; letter < 'Z'; ++letter)
            if (!std::filesystem::exists(folder.drive_root(letter))) return letter;
        return 0;
    }

    TestFolder folder;
};

std::string upper(std::string text) {
    for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

TEST_F(Paths, SpellingsOfOneFile) {
    const std::string& f = folder.name();
    const std::string spellings[] = {
        "C:\\" + f + "\\Data.bin",
        "c:/" + upper(f) + "/DATA.BIN",               // names compare without case
        "C:\\" + f + "\\data.bin. .",                 // trailing dots and spaces go
        "C:\\" + f + ".\\Data.bin",                   // a folder name loses one trailing dot
        "C:\\" + f + "\\Sub\\..\\.\\Data.bin",        // "." and ".." are resolved
        "C:/" + f + "//Data.bin",                     // runs of separators fold
        "C:" + f + "\\Data.bin",                      // drive-relative: from the drive's root
        "\\\\?\\C:\\" + f + "\\DATA.BIN",             // verbatim, still without case
        "\\??\\C:\\" + f + "\\Data.bin",              // the NT form
        "\\\\.\\C:\\" + f + "\\Sub\\..\\Data.bin. ",  // the device form is normalised
    };
    for (const auto& name : spellings) EXPECT_EQ(open_and_read(name), "data") << name;
}

TEST_F(Paths, NamesThatReachNoFile) {
    const std::string& f = folder.name();
    const std::string too_long = "C:\\" + f + "\\" + std::string(MAX_PATH, 'x');
    const struct {
        std::string name;
        DWORD error;
    } cases[] = {
        {"C:\\" + f + "\\Missing.bin", ERROR_FILE_NOT_FOUND},
        {"C:\\" + f + "\\NoFolder\\Data.bin", ERROR_PATH_NOT_FOUND},
        {"C:\\" + f + "\\Data.bin\\x", ERROR_PATH_NOT_FOUND},       // a file is no folder
        {"\\\\?\\C:\\" + f + "\\Data.bin.", ERROR_FILE_NOT_FOUND},  // verbatim keeps the dot
        {"\\\\?\\C:\\" + f + "\\Sub\\..\\Data.bin", ERROR_INVALID_NAME},
        {"C:\\" + f + "\\Data.bin\\", ERROR_INVALID_NAME},  // a file named as a folder
        {"C:\\" + f + "\\Da*a.bin", ERROR_INVALID_NAME},
        {"C:\\" + f + "\\Da?a.bin", ERROR_INVALID_NAME},
        {"", ERROR_PATH_NOT_FOUND},
        {"C:", ERROR_ACCESS_DENIED},  // the drive's root folder
        {too_long, ERROR_FILENAME_EXCED_RANGE},
    };
    for (const auto& c : cases)
        EXPECT_EQ(open_and_read(c.name), "error " + std::to_string(c.error)) << c.name;
    EXPECT_EQ(CreateFileA(nullptr, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
}

TEST_F(Paths, NewNamesKeepTheirCaseWithoutTrailingDotsAndSpaces) {
    const struct {
        std::string name;  // as created
        std::string stored;
    } cases[] = {
        {folder.win("MixedCase.TXT"), "MixedCase.TXT"},
        {folder.win("Dotted. . "), "Dotted"},
        {"\\\\?\\" + folder.win("Verbatim.bin"), "Verbatim.bin"},
        {"C:" + folder.name() + "\\Relative.bin", "Relative.bin"},
    };
    for (const auto& c : cases) {
        HANDLE file = CreateFileA(c.name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(file, INVALID_HANDLE_VALUE) << c.name;
        CloseHandle(file);
        EXPECT_TRUE(folder.exists(c.stored)) << c.name;
    }
    const auto names = folder.entries("");
    EXPECT_NE(std::find(names.begin(), names.end(), "MixedCase.TXT"), names.end());
    // Another spelling of a taken name is the same name.
    HANDLE again = CreateFileA(upper(folder.win("mixedcase.txt")).c_str(), GENERIC_WRITE, 0,
                               nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    EXPECT_EQ(again, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_EXISTS));
#if !defined(_WIN32)
    // The verbatim form is mapped like any other: nothing is left in the working folder.
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::current_path() /
                                         ("\\\\?\\" + folder.win("Verbatim.bin"))));
#endif
}

// Names without a drive (from the current folder; on Linux also the host's own absolute paths)
// compare without case too: the name as given first, then one that differs only in case.
TEST_F(Paths, NamesWithoutADriveCompareWithoutCase) {
    folder.write("pt.txt", "lower");
    const WorkingFolder in_folder(folder.host(""));
    for (const char* name : {"pt.txt", "PT.TXT", "./Pt.Txt", ".\\SUB\\..\\pT.tXT"})
        EXPECT_EQ(open_and_read(name), "lower") << name;
    FILE* stream = fopen("./PT.TXT", "rb");
    ASSERT_NE(stream, nullptr);
    std::fclose(stream);

    HANDLE created = CreateFileA("./New.TXT", GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(created, INVALID_HANDLE_VALUE);
    CloseHandle(created);
    const auto names = folder.entries("");
    EXPECT_NE(std::find(names.begin(), names.end(), "New.TXT"), names.end());
    EXPECT_EQ(CreateFileA("NEW.txt", GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                          nullptr),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_EXISTS));
#if !defined(_WIN32)
    EXPECT_EQ(open_and_read(folder.host("").string() + "/PT.TXT"), "lower");
    // A host folder may hold names that differ only in case: each opens as given.
    folder.write("PT.TXT", "upper");
    EXPECT_EQ(open_and_read("PT.TXT"), "upper");
    EXPECT_EQ(open_and_read("pt.txt"), "lower");
#endif
}

TEST_F(Paths, MissingDriveIsAMissingPath) {
    const char letter = missing_drive();
    ASSERT_NE(letter, 0);
    const std::string name = std::string(1, letter) + ":\\halden.bin";
    HANDLE file = CreateFileA(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    EXPECT_EQ(file, INVALID_HANDLE_VALUE);
    // Wine reports a drive it does not have as a missing file.
    EXPECT_EQ(GetLastError(),
              static_cast<DWORD>(under_wine() ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND));
    EXPECT_FALSE(std::filesystem::exists(folder.drive_root(letter)));
    errno = 0;
    EXPECT_EQ(fopen(name.c_str(), "wb"), nullptr);
    EXPECT_EQ(errno, ENOENT);
}

#if !defined(_WIN32)
// On the machine root a drive is a folder: one that exists is a drive; C: always is one.
TEST_F(Paths, DriveFolderMakesADrive) {
    std::filesystem::create_directories(folder.drive_root('D'));
    HANDLE file = CreateFileA("d:\\On-D.bin", GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    CloseHandle(file);
    EXPECT_TRUE(std::filesystem::exists(folder.drive_root('D') / "On-D.bin"));

    std::filesystem::remove_all(folder.drive_root('C'));
    FILE* stream = fopen("C:/On-C.bin", "wb");
    ASSERT_NE(stream, nullptr);
    std::fclose(stream);
    EXPECT_TRUE(std::filesystem::exists(folder.drive_root('C') / "On-C.bin"));
}
#endif

TEST_F(Paths, RuntimeAndFileNameCallsFollowTheSameRules) {
    const std::string& f = folder.name();
    FILE* stream = fopen(("c:/" + upper(f) + "/data.BIN. ").c_str(), "rb");
    ASSERT_NE(stream, nullptr);
    char bytes[4];
    EXPECT_EQ(std::fread(bytes, 1, 4, stream), 4u);
    std::fclose(stream);

    errno = 0;
    EXPECT_EQ(fopen(folder.win("Sub").c_str(), "rb"), nullptr);  // a folder is no file
    EXPECT_EQ(errno, EACCES);
    errno = 0;
    EXPECT_EQ(fopen(folder.win("NoFolder\\x").c_str(), "wb"), nullptr);
    EXPECT_EQ(errno, ENOENT);

    EXPECT_EQ(rename(("C:/" + upper(f) + "/DATA.bin").c_str(), folder.win("Moved. ").c_str()), 0);
    EXPECT_EQ(folder.read("Moved"), "data");
    EXPECT_TRUE(MoveFileExA(("\\\\?\\" + folder.win("MOVED")).c_str(),
                            ("C:" + f + "\\Sub\\Again..").c_str(), 0));
    EXPECT_EQ(folder.read("Sub\\Again"), "data");
    EXPECT_TRUE(DeleteFileA(("c:/" + upper(f) + "/sub/again.").c_str()));
    EXPECT_FALSE(folder.exists("Sub\\Again"));
}

}  // namespace
