// The Zw file services on files of the machine's drives, as Windows answers them: dispositions
// and what they did, end of file, sparseness and attributes kept with the file, positions,
// unbuffered transfers, and share access that user-mode and kernel-mode opens see alike.
#include <cstring>
#include <filesystem>

#include "platform/win32.h"
#include "tests/kernel/kernel_test.h"
#include "tests/support/test_folder.h"

namespace {

class ZwFiles : public ::testing::Test {
  protected:
    // "\??\C:\<folder>\<relative>".
    std::u16string nt_name(const std::string& relative) const {
        const std::string win = folder_.win(relative);
        return u"\\??\\" + std::u16string(win.begin(), win.end());
    }
    NTSTATUS create(const std::string& relative, ULONG disposition, HANDLE* handle,
                    ULONG_PTR* information = nullptr, ULONG options = FILE_SYNCHRONOUS_IO_NONALERT,
                    ULONG share = 0, ACCESS_MASK access = GENERIC_READ | GENERIC_WRITE,
                    ULONG attributes = FILE_ATTRIBUTE_NORMAL) {
        Attributes object(nt_name(relative));
        IO_STATUS_BLOCK iosb{};
        iosb.Information = 0xDEAD;
        const NTSTATUS status = ZwCreateFile(handle, access, object.get(), &iosb, nullptr,
                                             attributes, share, disposition, options, nullptr, 0);
        if (information) *information = iosb.Information;
        return status;
    }
    template <class Info>
    NTSTATUS query(HANDLE handle, FILE_INFORMATION_CLASS type, Info* info) {
        IO_STATUS_BLOCK iosb;
        return ZwQueryInformationFile(handle, &iosb, info, sizeof *info, type);
    }
    template <class Info>
    NTSTATUS set(HANDLE handle, FILE_INFORMATION_CLASS type, Info* info) {
        IO_STATUS_BLOCK iosb;
        return ZwSetInformationFile(handle, &iosb, info, sizeof *info, type);
    }

    TestFolder folder_;
};

TEST_F(ZwFiles, DispositionsSayWhatTheyDid) {
    HANDLE handle;
    ULONG_PTR information = 0;
    EXPECT_EQ(create("image.img", FILE_OPEN, &handle), STATUS_OBJECT_NAME_NOT_FOUND);
    EXPECT_EQ(create("missing\\image.img", FILE_OPEN_IF, &handle), STATUS_OBJECT_PATH_NOT_FOUND);
    struct Step {
        bool exists;  // "old" is there before the open
        ULONG disposition;
        NTSTATUS status;
        ULONG_PTR information;
        const char* content;  // afterwards
    };
    const Step steps[] = {
        {false, FILE_OPEN_IF, STATUS_SUCCESS, FILE_CREATED, ""},
        {true, FILE_OPEN_IF, STATUS_SUCCESS, FILE_OPENED, "old"},
        {true, FILE_OPEN, STATUS_SUCCESS, FILE_OPENED, "old"},
        {true, FILE_CREATE, STATUS_OBJECT_NAME_COLLISION, 0xDEAD, "old"},
        {true, FILE_OVERWRITE_IF, STATUS_SUCCESS, FILE_OVERWRITTEN, ""},
        {true, FILE_SUPERSEDE, STATUS_SUCCESS, FILE_SUPERSEDED, ""},
    };
    for (const auto& step : steps) {
        std::filesystem::remove(folder_.host("image.img"));
        if (step.exists) folder_.write("image.img", "old");
        EXPECT_EQ(create("image.img", step.disposition, &handle, &information), step.status)
            << step.disposition;
        EXPECT_EQ(information, step.information) << step.disposition;
        if (NT_SUCCESS(step.status)) ZwClose(handle);
        EXPECT_EQ(folder_.read("image.img"), step.content) << step.disposition;
    }
}

TEST_F(ZwFiles, EndOfFileSparsenessAndTheHiddenAttributeAreKept) {
    HANDLE handle;
    ULONG_PTR information = 0;
    ASSERT_EQ(create("image.img", FILE_OPEN_IF, &handle, &information), STATUS_SUCCESS);
    ASSERT_EQ(information, FILE_CREATED);
    IO_STATUS_BLOCK iosb;
    EXPECT_EQ(ZwFsControlFile(handle, nullptr, nullptr, nullptr, &iosb, FSCTL_SET_SPARSE, nullptr,
                              0, nullptr, 0),
              STATUS_SUCCESS);
    FILE_END_OF_FILE_INFORMATION end;
    end.EndOfFile.QuadPart = 1 << 20;
    EXPECT_EQ(set(handle, FileEndOfFileInformation, &end), STATUS_SUCCESS);
    FILE_STANDARD_INFORMATION standard;
    ASSERT_EQ(query(handle, FileStandardInformation, &standard), STATUS_SUCCESS);
    EXPECT_EQ(standard.EndOfFile.QuadPart, 1 << 20);
    EXPECT_LT(standard.AllocationSize.QuadPart, 1 << 20);  // nothing written yet
    EXPECT_FALSE(standard.Directory);
    FILE_BASIC_INFORMATION basic;
    ASSERT_EQ(query(handle, FileBasicInformation, &basic), STATUS_SUCCESS);
    EXPECT_EQ(basic.FileAttributes, ULONG{FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_SPARSE_FILE});
    basic.FileAttributes |= FILE_ATTRIBUTE_HIDDEN;
    EXPECT_EQ(set(handle, FileBasicInformation, &basic), STATUS_SUCCESS);
    FILE_ALIGNMENT_INFORMATION alignment{0xFF};
    ASSERT_EQ(query(handle, FileAlignmentInformation, &alignment), STATUS_SUCCESS);
    EXPECT_EQ(alignment.AlignmentRequirement, ULONG{FILE_BYTE_ALIGNMENT});
    EXPECT_EQ(ZwQueryInformationFile(handle, &iosb, &basic, 8, FileBasicInformation),
              STATUS_INFO_LENGTH_MISMATCH);
    ZwClose(handle);

    // Kept with the file: a later open, and user mode, see them.
    ASSERT_EQ(create("image.img", FILE_OPEN, &handle), STATUS_SUCCESS);
    ASSERT_EQ(query(handle, FileBasicInformation, &basic), STATUS_SUCCESS);
    EXPECT_EQ(basic.FileAttributes,
              ULONG{FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_SPARSE_FILE | FILE_ATTRIBUTE_HIDDEN});
    ZwClose(handle);
    HANDLE user = CreateFileA(folder_.win("image.img").c_str(), GENERIC_READ, FILE_SHARE_READ,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(user, INVALID_HANDLE_VALUE);
    BY_HANDLE_FILE_INFORMATION info;
    ASSERT_TRUE(GetFileInformationByHandle(user, &info));
    EXPECT_EQ(info.dwFileAttributes,
              DWORD{FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_SPARSE_FILE | FILE_ATTRIBUTE_HIDDEN});
    EXPECT_EQ(info.nFileSizeLow, 1u << 20);
    CloseHandle(user);

    // Created hidden.
    ASSERT_EQ(create("hidden.bin", FILE_CREATE, &handle, nullptr, FILE_SYNCHRONOUS_IO_NONALERT, 0,
                     GENERIC_READ | GENERIC_WRITE, FILE_ATTRIBUTE_HIDDEN),
              STATUS_SUCCESS);
    ASSERT_EQ(query(handle, FileBasicInformation, &basic), STATUS_SUCCESS);
    EXPECT_EQ(basic.FileAttributes, ULONG{FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_HIDDEN});
    ZwClose(handle);
}

TEST_F(ZwFiles, TransfersGoAtOffsetsOrAtTheHandlesPosition) {
    HANDLE handle;
    ASSERT_EQ(create("data.bin", FILE_OPEN_IF, &handle), STATUS_SUCCESS);
    IO_STATUS_BLOCK iosb;
    char abc[] = "abc", de[] = "de";
    EXPECT_EQ(ZwWriteFile(handle, nullptr, nullptr, nullptr, &iosb, abc, 3, nullptr, nullptr),
              STATUS_SUCCESS);
    EXPECT_EQ(iosb.Information, 3u);
    LARGE_INTEGER at_position;
    at_position.HighPart = -1;
    at_position.LowPart = FILE_USE_FILE_POINTER_POSITION;
    EXPECT_EQ(ZwWriteFile(handle, nullptr, nullptr, nullptr, &iosb, de, 2, &at_position, nullptr),
              STATUS_SUCCESS);
    FILE_POSITION_INFORMATION position;
    ASSERT_EQ(query(handle, FilePositionInformation, &position), STATUS_SUCCESS);
    EXPECT_EQ(position.CurrentByteOffset.QuadPart, 5);
    char back[8] = {};
    LARGE_INTEGER zero{};
    EXPECT_EQ(ZwReadFile(handle, nullptr, nullptr, nullptr, &iosb, back, 8, &zero, nullptr),
              STATUS_SUCCESS);
    EXPECT_EQ(iosb.Information, 5u);
    EXPECT_STREQ(back, "abcde");
    EXPECT_EQ(ZwReadFile(handle, nullptr, nullptr, nullptr, &iosb, back, 8, nullptr, nullptr),
              STATUS_END_OF_FILE);
    position.CurrentByteOffset.QuadPart = 1;
    EXPECT_EQ(set(handle, FilePositionInformation, &position), STATUS_SUCCESS);
    EXPECT_EQ(ZwReadFile(handle, nullptr, nullptr, nullptr, &iosb, back, 2, nullptr, nullptr),
              STATUS_SUCCESS);
    EXPECT_EQ(std::string(back, 2), "bc");
    ZwClose(handle);
    // An asynchronous handle has no position to go on from.
    ASSERT_EQ(create("data.bin", FILE_OPEN, &handle, nullptr, 0), STATUS_SUCCESS);
    EXPECT_EQ(ZwReadFile(handle, nullptr, nullptr, nullptr, &iosb, back, 2, nullptr, nullptr),
              STATUS_INVALID_PARAMETER);
    ZwClose(handle);
}

TEST_F(ZwFiles, UnbufferedTransfersAreWholeSectors) {
    HANDLE handle;
    ASSERT_EQ(create("image.img", FILE_OPEN_IF, &handle, nullptr,
                     FILE_NO_INTERMEDIATE_BUFFERING | FILE_SYNCHRONOUS_IO_NONALERT |
                         FILE_NON_DIRECTORY_FILE | FILE_RANDOM_ACCESS),
              STATUS_SUCCESS);
    static uint8_t data[1024 + 72];
    IO_STATUS_BLOCK iosb;
    LARGE_INTEGER offset;
    offset.QuadPart = 512;
    // Any buffer address: the file's alignment requirement is a byte.
    EXPECT_EQ(
        ZwWriteFile(handle, nullptr, nullptr, nullptr, &iosb, data + 72, 1024, &offset, nullptr),
        STATUS_SUCCESS);
    EXPECT_EQ(ZwWriteFile(handle, nullptr, nullptr, nullptr, &iosb, data, 100, &offset, nullptr),
              STATUS_INVALID_PARAMETER);
    offset.QuadPart = 100;
    EXPECT_EQ(ZwWriteFile(handle, nullptr, nullptr, nullptr, &iosb, data, 512, &offset, nullptr),
              STATUS_INVALID_PARAMETER);
    ZwClose(handle);
}

struct ReadOnlyOpen {
    ACCESS_MASK access;
    ULONG disposition;
    NTSTATUS status;
};

// Kernel mode as user mode: the read-only attribute (no write permission for anyone on the host)
// refuses every open that would write the file, though the tests run as root.
TEST_F(ZwFiles, AReadOnlyFileRefusesEveryOpenForWriting) {
    folder_.write("ro.img", "old");
    namespace fs = std::filesystem;
    fs::permissions(folder_.host("ro.img"),
                    fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove);
    const ReadOnlyOpen cases[] = {
        {GENERIC_READ, FILE_OPEN, STATUS_SUCCESS},
        {FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES, FILE_OPEN, STATUS_SUCCESS},
        {GENERIC_READ | GENERIC_WRITE, FILE_OPEN, STATUS_ACCESS_DENIED},
        {FILE_WRITE_DATA, FILE_OPEN_IF, STATUS_ACCESS_DENIED},
        {FILE_APPEND_DATA, FILE_OPEN, STATUS_ACCESS_DENIED},
        {GENERIC_READ, FILE_OVERWRITE, STATUS_ACCESS_DENIED},
        {GENERIC_READ, FILE_SUPERSEDE, STATUS_ACCESS_DENIED},
    };
    for (const auto& c : cases) {
        HANDLE handle;
        EXPECT_EQ(create("ro.img", c.disposition, &handle, nullptr, FILE_SYNCHRONOUS_IO_NONALERT,
                         FILE_SHARE_READ, c.access),
                  c.status)
            << std::hex << c.access << " " << c.disposition;
        if (NT_SUCCESS(c.status)) ZwClose(handle);
    }
    HANDLE handle;
    ASSERT_EQ(create("ro.img", FILE_OPEN, &handle, nullptr, FILE_SYNCHRONOUS_IO_NONALERT, 0,
                     GENERIC_READ),
              STATUS_SUCCESS);
    FILE_BASIC_INFORMATION basic;
    ASSERT_EQ(query(handle, FileBasicInformation, &basic), STATUS_SUCCESS);
    EXPECT_TRUE(basic.FileAttributes & FILE_ATTRIBUTE_READONLY);
    ZwClose(handle);
    EXPECT_EQ(folder_.read("ro.img"), "old");
}

TEST_F(ZwFiles, ShareAccessHoldsBetweenUserAndKernelMode) {
    folder_.write("image.img", "x");
    HANDLE kernel;
    ASSERT_EQ(create("image.img", FILE_OPEN, &kernel), STATUS_SUCCESS);  // share 0, data access
    const std::string win = folder_.win("image.img");
    HANDLE user = CreateFileA(win.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_EQ(user, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    // An open without data access (attributes only) is not refused.
    HANDLE attributes_only;
    EXPECT_EQ(create("image.img", FILE_OPEN, &attributes_only, nullptr, 0,
                     FILE_SHARE_READ | FILE_SHARE_WRITE, FILE_READ_ATTRIBUTES),
              STATUS_SUCCESS);
    ZwClose(attributes_only);
    ZwClose(kernel);

    user = CreateFileA(win.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(user, INVALID_HANDLE_VALUE);
    EXPECT_EQ(create("image.img", FILE_OPEN, &kernel, nullptr, FILE_SYNCHRONOUS_IO_NONALERT,
                     FILE_SHARE_READ | FILE_SHARE_WRITE),
              STATUS_SHARING_VIOLATION);
    CloseHandle(user);
    EXPECT_EQ(create("image.img", FILE_OPEN, &kernel), STATUS_SUCCESS);
    ZwClose(kernel);
}

}  // namespace
