// Plain files that the user may not open, which tests running as root get only from the
// simulation (platform/testing/file_controls.h), and the size of a large image file as the probe
// takes it.
#include <gtest/gtest.h>

#include "platform/testing/file_controls.h"
#include "platform/wdm.h"
#include "platform/win32.h"
#include "tests/support/test_folder.h"

namespace {

HANDLE probe(const std::string& name) {
    return CreateFileA(name.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                       nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

TEST(FileFaults, ADeniedFileRefusesUserModeOpensOnly) {
    TestFolder folder;
    folder.write("image.bin", "x");
    sim::deny_file_access(folder.win("image.bin"));
    // The same file by another spelling.
    std::string other = folder.win("IMAGE.BIN");
    for (char& c : other)
        if (c == '\\') c = '/';
    for (const std::string& name : {folder.win("image.bin"), other}) {
        EXPECT_EQ(probe(name), INVALID_HANDLE_VALUE) << name;
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED)) << name;
    }
    const std::string nt_name = "\\??\\" + folder.win("image.bin");
    std::u16string wide(nt_name.begin(), nt_name.end());
    UNICODE_STRING string{static_cast<USHORT>(wide.size() * 2),
                          static_cast<USHORT>(wide.size() * 2), wide.data()};
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &string, OBJ_CASE_INSENSITIVE, nullptr, nullptr);
    IO_STATUS_BLOCK iosb;
    HANDLE kernel = nullptr;
    EXPECT_EQ(ZwCreateFile(&kernel, GENERIC_READ | SYNCHRONIZE, &attributes, &iosb, nullptr, 0,
                           FILE_SHARE_READ, FILE_OPEN, FILE_SYNCHRONOUS_IO_NONALERT, nullptr, 0),
              STATUS_SUCCESS);
    ZwClose(kernel);
    sim::allow_all_file_access();
    HANDLE file = probe(folder.win("image.bin"));
    EXPECT_NE(file, INVALID_HANDLE_VALUE);
    CloseHandle(file);
}

TEST(FileFaults, TheProbeTakesAllSixtyFourBitsOfTheSize) {
    TestFolder folder;
    std::filesystem::resize_file((folder.write("large.img", ""), folder.host("large.img")),
                                 5ull << 30);
    HANDLE file = probe(folder.win("large.img"));
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    LARGE_INTEGER size{};
    EXPECT_TRUE(GetFileSizeEx(file, &size));
    EXPECT_EQ(size.QuadPart, 5ll << 30);
    CloseHandle(file);
}

}  // namespace
