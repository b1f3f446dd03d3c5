// The platform's file-name calls and simulated free space that the store file's writes rest on.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "platform/sim/disk.h"
#include "platform/win32.h"
#include "tests/card/temp_machine_root.h"

namespace {

class FileNames : public ::testing::Test {
  protected:
    void SetUp() override { root.make_folder("C:/dir"); }
    void TearDown() override { sim::disk_clear_free_space_limits(); }
    void write(const char* drive_path, const char* text) const {
        std::ofstream(root.path(drive_path)) << text;
    }
    std::string read(const char* drive_path) const {
        std::ifstream in(root.path(drive_path));
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    TempMachineRoot root;
};

TEST_F(FileNames, MoveReplacesOnlyWhenAsked) {
    write("C:/dir/a", "new");
    write("C:/dir/b", "old");
    EXPECT_FALSE(MoveFileExA("C:/dir/a", "C:/dir/b", 0));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    EXPECT_TRUE(
        MoveFileExA("C:\\dir\\a", "C:/dir/b", MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH));
    EXPECT_EQ(read("C:/dir/b"), "new");
    EXPECT_FALSE(std::filesystem::exists(root.path("C:/dir/a")));
    EXPECT_FALSE(MoveFileExA("C:/dir/a", "C:/dir/c", 0));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST_F(FileNames, Delete) {
    write("C:/dir/a", "x");
    EXPECT_TRUE(DeleteFileA("C:/dir/a"));
    EXPECT_FALSE(DeleteFileA("C:/dir/a"));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_FALSE(DeleteFileA(nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

// Writes beyond the drive's free space fail as on a full disk; other drives are not limited.
TEST_F(FileNames, FullDisk) {
    sim::disk_set_free_space('c', 10);
    FILE* file = fopen("C:/dir/full", "wb");
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(std::fwrite("0123456789abcdef", 1, 16, file), 16u);  // buffered so far
    EXPECT_NE(std::fflush(file), 0);
    std::fclose(file);
    EXPECT_EQ(read("C:/dir/full"), "0123456789");

    root.make_folder("D:/");
    file = fopen("D:/free", "wb");
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(std::fwrite("0123456789abcdef", 1, 16, file), 16u);
    EXPECT_EQ(std::fclose(file), 0);
    EXPECT_EQ(read("D:/free"), "0123456789abcdef");
}

}  // namespace
