// Plain files through kernel32 and the C runtime: dispositions, access and share modes, data and
// positions, identity, and the file-name calls against open handles. Runs against the Linux layer
// and, in the Windows build, against Wine's kernel32.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <string>

#include "platform/win32.h"
#include "tests/support/test_folder.h"

#if !defined(_WIN32)
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
constexpr DWORD kShareReadWrite = FILE_SHARE_READ | FILE_SHARE_WRITE;

class Files : public ::testing::Test {
  protected:
    HANDLE open(const std::string& relative, DWORD access, DWORD share,
                DWORD disposition = OPEN_EXISTING) const {
        return CreateFileA(folder.win(relative).c_str(), access, share, nullptr, disposition,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    }
    static uint64_t size_of(HANDLE file) {
        LARGE_INTEGER size{};
        EXPECT_TRUE(GetFileSizeEx(file, &size));
        return static_cast<uint64_t>(size.QuadPart);
    }
    static uint64_t position_of(HANDLE file) {
        LARGE_INTEGER zero{}, position{};
        EXPECT_TRUE(SetFilePointerEx(file, zero, &position, FILE_CURRENT));
        return static_cast<uint64_t>(position.QuadPart);
    }

    TestFolder folder;
};

TEST_F(Files, Dispositions) {
    const struct {
        DWORD disposition;
        bool exists;
        bool opens;
        DWORD error;  // the last error, after success too
        size_t size;  // of the file afterwards (the existing one holds 5 bytes)
    } cases[] = {
        {CREATE_NEW, false, true, ERROR_SUCCESS, 0},
        {CREATE_NEW, true, false, ERROR_FILE_EXISTS, 5},
        {CREATE_ALWAYS, false, true, ERROR_SUCCESS, 0},
        {CREATE_ALWAYS, true, true, ERROR_ALREADY_EXISTS, 0},
        {OPEN_EXISTING, false, false, ERROR_FILE_NOT_FOUND, 0},
        {OPEN_EXISTING, true, true, ERROR_SUCCESS, 5},
        {OPEN_ALWAYS, false, true, ERROR_SUCCESS, 0},
        {OPEN_ALWAYS, true, true, ERROR_ALREADY_EXISTS, 5},
        {TRUNCATE_EXISTING, false, false, ERROR_FILE_NOT_FOUND, 0},
        {TRUNCATE_EXISTING, true, true, ERROR_SUCCESS, 0},
        {0, true, false, ERROR_INVALID_PARAMETER, 5},
        {6, true, false, ERROR_INVALID_PARAMETER, 5},
    };
    for (const auto& c : cases) {
        const std::string what = "disposition " + std::to_string(c.disposition) +
                                 (c.exists ? " on a file" : " on no file");
        if (c.exists) folder.write("f", "12345");
        SetLastError(0xDEAD);
        HANDLE file = open("f", GENERIC_READ | GENERIC_WRITE, 0, c.disposition);
        EXPECT_EQ(file != INVALID_HANDLE_VALUE, c.opens) << what;
        EXPECT_EQ(GetLastError(), c.error) << what;
        if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
        EXPECT_EQ(folder.exists("f"), c.exists || c.opens) << what;
        if (folder.exists("f")) {
            EXPECT_EQ(folder.read("f").size(), c.size) << what;
        }
        std::filesystem::remove(folder.host("f"));
    }
}

TEST_F(Files, FolderDoesNotOpenAsAFile) {
    folder.make_folder("dir");
    for (DWORD disposition : {CREATE_NEW, CREATE_ALWAYS, OPEN_EXISTING, OPEN_ALWAYS}) {
        for (DWORD access : {DWORD{0}, DWORD{GENERIC_READ}}) {
            EXPECT_EQ(open("dir", access, kShareAll, disposition), INVALID_HANDLE_VALUE);
            // A new file cannot take the folder's name; any other open finds a folder.
            EXPECT_EQ(GetLastError(),
                      static_cast<DWORD>(disposition == CREATE_NEW ? ERROR_FILE_EXISTS
                                                                   : ERROR_ACCESS_DENIED))
                << disposition;
        }
    }
    EXPECT_EQ(open("dir\\", GENERIC_READ, kShareAll), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_FALSE(DeleteFileA(folder.win("dir").c_str()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    errno = 0;
    EXPECT_EQ(fopen(folder.win("dir").c_str(), "rb"), nullptr);
    EXPECT_EQ(errno, EACCES);
}

// Whether a second open may join a first, by Windows' share rule.
TEST_F(Files, ShareModes) {
    const struct {
        DWORD access1, share1, access2, share2;
        bool joins;
    } cases[] = {
        // Opens for attributes only are not checked and restrict nothing.
        {GENERIC_READ, 0, FILE_READ_ATTRIBUTES, 0, true},
        {GENERIC_READ, 0, SYNCHRONIZE | READ_CONTROL, 0, true},
        {FILE_READ_ATTRIBUTES, 0, GENERIC_READ | GENERIC_WRITE, 0, true},
        {GENERIC_READ, 0, GENERIC_READ, kShareAll, false},
        {GENERIC_READ, FILE_SHARE_READ, GENERIC_READ, FILE_SHARE_READ, true},
        {GENERIC_READ, FILE_SHARE_READ, GENERIC_WRITE, kShareAll, false},
        {GENERIC_READ, kShareReadWrite, GENERIC_WRITE, kShareReadWrite, true},
        // The second need not share writing while no open writes.
        {GENERIC_READ, kShareReadWrite, GENERIC_READ, FILE_SHARE_READ, true},
        {GENERIC_WRITE, kShareReadWrite, GENERIC_READ, FILE_SHARE_READ, false},
        {GENERIC_READ, kShareReadWrite, DELETE, kShareAll, false},
        {GENERIC_READ, kShareAll, DELETE, kShareAll, true},
        {DELETE, kShareAll, GENERIC_READ, kShareReadWrite, false},
    };
    folder.write("f", "12345");
    for (const auto& c : cases) {
        const std::string what = std::to_string(c.access1) + "/" + std::to_string(c.share1) +
                                 " then " + std::to_string(c.access2) + "/" +
                                 std::to_string(c.share2);
        HANDLE first = open("f", c.access1, c.share1);
        ASSERT_NE(first, INVALID_HANDLE_VALUE) << what;
        HANDLE second = open("f", c.access2, c.share2);
        EXPECT_EQ(second != INVALID_HANDLE_VALUE, c.joins) << what;
        if (second == INVALID_HANDLE_VALUE)
            EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION)) << what;
        else
            CloseHandle(second);
        CloseHandle(first);
    }
    // A refused overwrite leaves the file alone; closing the holder lets it through.
    HANDLE holder = open("f", GENERIC_READ, 0);
    EXPECT_EQ(open("f", GENERIC_WRITE, kShareReadWrite, CREATE_ALWAYS), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    CloseHandle(holder);
    EXPECT_EQ(folder.read("f"), "12345");
    HANDLE writer = open("f", GENERIC_WRITE, 0, CREATE_ALWAYS);
    EXPECT_NE(writer, INVALID_HANDLE_VALUE);
    CloseHandle(writer);
}

TEST_F(Files, DataAndPositions) {
    HANDLE file = open("f", GENERIC_READ | GENERIC_WRITE, 0, CREATE_NEW);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    DWORD done = 0;
    ASSERT_TRUE(WriteFile(file, "0123456789", 10, &done, nullptr));
    EXPECT_EQ(done, 10u);
    EXPECT_EQ(position_of(file), 10u);

    LARGE_INTEGER distance, position;
    distance.QuadPart = 2;
    ASSERT_TRUE(SetFilePointerEx(file, distance, &position, FILE_BEGIN));
    char bytes[16] = {};
    ASSERT_TRUE(ReadFile(file, bytes, 3, &done, nullptr));
    EXPECT_EQ(std::string(bytes, done), "234");
    distance.QuadPart = -1;
    ASSERT_TRUE(SetFilePointerEx(file, distance, &position, FILE_CURRENT));
    EXPECT_EQ(position.QuadPart, 4);
    distance.QuadPart = 0;
    ASSERT_TRUE(SetFilePointerEx(file, distance, &position, FILE_END));
    EXPECT_EQ(position.QuadPart, 10);
    distance.QuadPart = -11;
    EXPECT_FALSE(SetFilePointerEx(file, distance, &position, FILE_END));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NEGATIVE_SEEK));
    EXPECT_FALSE(SetFilePointerEx(file, distance, &position, 3));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    distance.QuadPart = INT64_MAX;
    EXPECT_FALSE(SetFilePointerEx(file, distance, &position, FILE_END));  // beyond 2^63

    // At the end a read succeeds with nothing.
    done = 99;
    EXPECT_TRUE(ReadFile(file, bytes, sizeof bytes, &done, nullptr));
    EXPECT_EQ(done, 0u);

    // With an OVERLAPPED record a synchronous handle reads at its offset, and the file position
    // follows; at the end that read fails.
    OVERLAPPED at{};
    at.Offset = 7;
    ASSERT_TRUE(ReadFile(file, bytes, sizeof bytes, &done, &at));
    EXPECT_EQ(std::string(bytes, done), "789");
    EXPECT_EQ(at.Internal, 0u);
    EXPECT_EQ(at.InternalHigh, 3u);
    EXPECT_EQ(position_of(file), 10u);
    at.Offset = 10;
    EXPECT_FALSE(ReadFile(file, bytes, sizeof bytes, &done, &at));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_HANDLE_EOF));

    // A write past the end fills the gap with zeros; the end can be set at the position.
    distance.QuadPart = 12;
    ASSERT_TRUE(SetFilePointerEx(file, distance, nullptr, FILE_BEGIN));
    ASSERT_TRUE(WriteFile(file, "x", 1, &done, nullptr));
    EXPECT_EQ(size_of(file), 13u);
    at.Offset = 8;
    ASSERT_TRUE(ReadFile(file, bytes, sizeof bytes, &done, &at));
    EXPECT_EQ(std::string(bytes, done), std::string("89\0\0x", 5));
    distance.QuadPart = 4;
    ASSERT_TRUE(SetFilePointerEx(file, distance, nullptr, FILE_BEGIN));
    ASSERT_TRUE(SetEndOfFile(file));
    EXPECT_EQ(size_of(file), 4u);
    EXPECT_TRUE(FlushFileBuffers(file));
    CloseHandle(file);
    EXPECT_EQ(folder.read("f"), "0123");
}

TEST_F(Files, AccessRightsAndHandleKinds) {
    folder.write("f", "12345");
    HANDLE reader = open("f", GENERIC_READ, kShareAll);
    HANDLE writer = open("f", GENERIC_WRITE, kShareAll);
    char bytes[4];
    DWORD done = 0;
    EXPECT_FALSE(WriteFile(reader, "x", 1, &done, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_FALSE(ReadFile(writer, bytes, 1, &done, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_FALSE(FlushFileBuffers(reader));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_FALSE(SetEndOfFile(reader));
    // Wine refuses it with another error.
    if (!under_wine()) {
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    }
    EXPECT_EQ(folder.read("f"), "12345");
    CloseHandle(reader);
    CloseHandle(writer);

    HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    EXPECT_FALSE(ReadFile(event, bytes, 1, &done, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    LARGE_INTEGER size;
    EXPECT_FALSE(GetFileSizeEx(event, &size));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    CloseHandle(event);
}

// The read-only attribute refuses every open that would write the file, to every user (the tests
// run as root or as an administrator): write access, or a disposition that empties it. On Linux
// the attribute is a file no one has write permission for. Wine reports the attribute but leaves
// the refusal to the host's permissions, which let root write.
TEST_F(Files, AReadOnlyFileRefusesEveryOpenForWriting) {
    folder.write("f", "12345");
    namespace fs = std::filesystem;
    const fs::perms write =
        fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write;
    fs::permissions(folder.host("f"), write, fs::perm_options::remove);
    const struct {
        DWORD access, disposition;
        bool opens;
    } cases[] = {
        {GENERIC_READ, OPEN_EXISTING, true},
        {0, OPEN_EXISTING, true},
        {GENERIC_READ | GENERIC_WRITE, OPEN_EXISTING, false},
        {GENERIC_WRITE, OPEN_ALWAYS, false},
        {FILE_APPEND_DATA, OPEN_EXISTING, false},
        {GENERIC_READ, CREATE_ALWAYS, false},
    };
    const bool refuses = !under_wine();
    for (const auto& c : cases) {
        if (!c.opens && !refuses) continue;
        HANDLE file = open("f", c.access, kShareAll, c.disposition);
        EXPECT_EQ(file != INVALID_HANDLE_VALUE, c.opens) << c.access << " " << c.disposition;
        if (file == INVALID_HANDLE_VALUE) {
            EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
            continue;
        }
        BY_HANDLE_FILE_INFORMATION information{};
        EXPECT_TRUE(GetFileInformationByHandle(file, &information));
        EXPECT_TRUE(information.dwFileAttributes & FILE_ATTRIBUTE_READONLY);
        CloseHandle(file);
    }
    if (refuses) {
        errno = 0;
        EXPECT_EQ(fopen(folder.win("f").c_str(), "r+b"), nullptr);
        EXPECT_EQ(errno, EACCES);
    }
    FILE* stream = fopen(folder.win("f").c_str(), "rb");
    EXPECT_NE(stream, nullptr);
    if (stream) std::fclose(stream);
    EXPECT_EQ(folder.read("f"), "12345");
    fs::permissions(folder.host("f"), fs::perms::owner_write, fs::perm_options::add);
}

TEST_F(Files, IdentityTellsTwoNamesOfOneFile) {
    folder.write("One.bin", "1");
    folder.write("Two.bin", "22");
    HANDLE a = open("One.bin", GENERIC_READ, kShareAll);
    HANDLE b = CreateFileA(("c:/" + folder.name() + "/ONE.BIN.").c_str(), FILE_READ_ATTRIBUTES,
                           kShareAll, nullptr, OPEN_EXISTING, 0, nullptr);
    HANDLE c = open("Two.bin", GENERIC_READ, kShareAll);
    BY_HANDLE_FILE_INFORMATION ia, ib, ic;
    ASSERT_TRUE(GetFileInformationByHandle(a, &ia));
    ASSERT_TRUE(GetFileInformationByHandle(b, &ib));
    ASSERT_TRUE(GetFileInformationByHandle(c, &ic));
    EXPECT_EQ(ia.dwVolumeSerialNumber, ib.dwVolumeSerialNumber);
    EXPECT_EQ(ia.nFileIndexHigh, ib.nFileIndexHigh);
    EXPECT_EQ(ia.nFileIndexLow, ib.nFileIndexLow);
    EXPECT_EQ(ia.dwVolumeSerialNumber, ic.dwVolumeSerialNumber);
    EXPECT_FALSE(ia.nFileIndexHigh == ic.nFileIndexHigh && ia.nFileIndexLow == ic.nFileIndexLow);
    EXPECT_EQ(ia.dwFileAttributes, static_cast<DWORD>(FILE_ATTRIBUTE_ARCHIVE));
    EXPECT_EQ(ic.nFileSizeLow, 2u);
    EXPECT_EQ(ic.nFileSizeHigh, 0u);
    EXPECT_EQ(ia.nNumberOfLinks, 1u);
    for (HANDLE h : {a, b, c}) CloseHandle(h);
}

// What deleting, moving away and replacing a file give while another handle holds it.
TEST_F(Files, NameCallsAgainstOpenHandles) {
    const struct {
        DWORD access, share;
        DWORD delete_error, move_error, replace_error;  // 0: the call succeeds
    } cases[] = {
        {GENERIC_READ, 0, ERROR_SHARING_VIOLATION, ERROR_SHARING_VIOLATION, ERROR_ACCESS_DENIED},
        {GENERIC_READ, kShareReadWrite, ERROR_SHARING_VIOLATION, ERROR_SHARING_VIOLATION,
         ERROR_ACCESS_DENIED},
        {GENERIC_READ, kShareAll, 0, 0, ERROR_ACCESS_DENIED},
        {FILE_READ_ATTRIBUTES, 0, 0, 0, ERROR_ACCESS_DENIED},
    };
    auto outcome = [](BOOL ok) { return ok ? DWORD{0} : GetLastError(); };
    for (const auto& c : cases) {
        const std::string what = std::to_string(c.access) + "/" + std::to_string(c.share);
        folder.write("held", "held");
        folder.write("other", "other");
        HANDLE holder = open("held", c.access, c.share);
        ASSERT_NE(holder, INVALID_HANDLE_VALUE) << what;
        EXPECT_EQ(outcome(MoveFileExA(folder.win("other").c_str(), folder.win("held").c_str(),
                                      MOVEFILE_REPLACE_EXISTING)),
                  c.replace_error)
            << what;
        EXPECT_EQ(outcome(MoveFileExA(folder.win("held").c_str(), folder.win("moved").c_str(), 0)),
                  c.move_error)
            << what;
        const std::string name = c.move_error ? "held" : "moved";
        EXPECT_EQ(outcome(DeleteFileA(folder.win(name).c_str())), c.delete_error) << what;
        CloseHandle(holder);
        EXPECT_EQ(folder.exists(name), c.delete_error != 0) << what;
        EXPECT_EQ(folder.read("other"), "other") << what;
        for (const char* n : {"held", "moved", "other"}) std::filesystem::remove(folder.host(n));
    }
}

TEST_F(Files, MoveReplacesOnlyWhenAsked) {
    folder.write("a", "new");
    folder.write("b", "old");
    EXPECT_FALSE(MoveFileExA(folder.win("a").c_str(), folder.win("b").c_str(), 0));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    EXPECT_TRUE(MoveFileExA(folder.win("a").c_str(), folder.win("B").c_str(),
                            MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH));
    EXPECT_EQ(folder.read("b"), "new");
    EXPECT_FALSE(folder.exists("a"));
    EXPECT_FALSE(MoveFileExA(folder.win("a").c_str(), folder.win("c").c_str(), 0));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_FALSE(MoveFileExA(folder.win("b").c_str(), folder.win("none\\c").c_str(), 0));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));

    EXPECT_FALSE(DeleteFileA(folder.win("a").c_str()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_FALSE(DeleteFileA(nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
}

// The C runtime opens files sharing reading and writing, never deletion.
TEST_F(Files, RuntimeStreamsJoinTheShareModes) {
    folder.write("f", "12345");
    FILE* stream = fopen(folder.win("f").c_str(), "r+b");
    ASSERT_NE(stream, nullptr);
    HANDLE other = open("f", GENERIC_READ | GENERIC_WRITE, kShareReadWrite);
    EXPECT_NE(other, INVALID_HANDLE_VALUE);
    CloseHandle(other);
    EXPECT_EQ(open("f", GENERIC_READ, FILE_SHARE_READ), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    EXPECT_FALSE(DeleteFileA(folder.win("f").c_str()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    folder.write("g", "g");
    EXPECT_FALSE(
        MoveFileExA(folder.win("g").c_str(), folder.win("f").c_str(), MOVEFILE_REPLACE_EXISTING));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    std::fclose(stream);

    HANDLE exclusive = open("f", GENERIC_READ, 0);
    errno = 0;
    EXPECT_EQ(fopen(folder.win("f").c_str(), "rb"), nullptr);
    EXPECT_EQ(errno, EACCES);
    CloseHandle(exclusive);
    EXPECT_TRUE(
        MoveFileExA(folder.win("g").c_str(), folder.win("f").c_str(), MOVEFILE_REPLACE_EXISTING));
}

// Streams are in text mode unless opened with 'b'.
TEST_F(Files, RuntimeTextMode) {
    FILE* out = fopen(folder.win("t").c_str(), "w");
    ASSERT_NE(out, nullptr);
    std::fputs("a\nb\n", out);
    std::fclose(out);
    EXPECT_EQ(folder.read("t"), "a\r\nb\r\n");

    out = fopen(folder.win("t").c_str(), "a");
    std::fputs("c\n", out);
    std::fclose(out);
    EXPECT_EQ(folder.read("t"), "a\r\nb\r\nc\r\n");

    folder.write("t",
                 "a\r\nb\rc\r\n\r\nd\x1A"
                 "after");
    char text[32] = {};
    FILE* in = fopen(folder.win("t").c_str(), "r");
    const size_t got = std::fread(text, 1, sizeof text, in);
    std::fclose(in);
    EXPECT_EQ(std::string(text, got), "a\nb\rc\n\nd");  // Ctrl-Z ends the text
    in = fopen(folder.win("t").c_str(), "rb");
    EXPECT_EQ(std::fread(text, 1, sizeof text, in), 17u);
    std::fclose(in);
}

TEST_F(Files, RuntimeRenameKeepsAnExistingTarget) {
    folder.write("a", "a");
    folder.write("b", "b");
    errno = 0;
    EXPECT_EQ(rename(folder.win("a").c_str(), folder.win("b").c_str()), -1);
    EXPECT_EQ(errno, EEXIST);
    EXPECT_EQ(folder.read("b"), "b");
    EXPECT_EQ(rename(folder.win("a").c_str(), folder.win("c").c_str()), 0);
    EXPECT_EQ(folder.read("c"), "a");
}

#if !defined(_WIN32)
// The share modes of one process bind the others: a child holds the file open without sharing.
TEST_F(Files, ShareModesAcrossProcesses) {
    folder.write("f", "12345");
    folder.write("g", "g");
    int opened[2], finish[2];
    ASSERT_EQ(pipe(opened), 0);
    ASSERT_EQ(pipe(finish), 0);
    const pid_t child = fork();
    if (child == 0) {
        HANDLE holder = open("f", GENERIC_READ, 0);
        const char ok = holder != INVALID_HANDLE_VALUE;
        (void)!write(opened[1], &ok, 1);
        char done;
        (void)!read(finish[0], &done, 1);
        _exit(0);
    }
    char ok = 0;
    ASSERT_EQ(read(opened[0], &ok, 1), 1);
    ASSERT_TRUE(ok);
    EXPECT_EQ(open("f", GENERIC_READ, kShareAll), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    HANDLE attributes = open("f", FILE_READ_ATTRIBUTES, 0);
    EXPECT_NE(attributes, INVALID_HANDLE_VALUE);
    CloseHandle(attributes);
    errno = 0;
    EXPECT_EQ(fopen(folder.win("f").c_str(), "rb"), nullptr);
    EXPECT_EQ(errno, EACCES);
    EXPECT_FALSE(DeleteFileA(folder.win("f").c_str()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    EXPECT_FALSE(
        MoveFileExA(folder.win("g").c_str(), folder.win("f").c_str(), MOVEFILE_REPLACE_EXISTING));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));

    (void)!write(finish[1], "x", 1);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    for (int end : {opened[0], opened[1], finish[0], finish[1]}) close(end);
    // The child's end dropped what it held.
    EXPECT_TRUE(
        MoveFileExA(folder.win("g").c_str(), folder.win("f").c_str(), MOVEFILE_REPLACE_EXISTING));
    EXPECT_TRUE(DeleteFileA(folder.win("f").c_str()));
}
#endif

}  // namespace
