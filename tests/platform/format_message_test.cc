// The system's message texts as FormatMessageA gives them to the volume functions. Runs against
// the Linux layer and, in the Windows build, against Wine's kernel32, whose message table has
// wordings of its own: there only the form is checked.
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

constexpr DWORD kSystemText =
    FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;

// FormatMessageA as the volume functions call it; "" with the error in *error when it fails.
std::string system_text(DWORD code, DWORD* error = nullptr) {
    char* text = nullptr;
    SetLastError(0xDEAD);
    const DWORD length =
        FormatMessageA(kSystemText, nullptr, code, 0, reinterpret_cast<LPSTR>(&text), 0, nullptr);
    if (error) *error = length ? 0 : GetLastError();
    if (!length) {
        EXPECT_EQ(text, nullptr);
        return "";
    }
    std::string result(text);
    EXPECT_EQ(result.size(), length);
    EXPECT_EQ(LocalFree(text), nullptr);
    return result;
}

// The errors the volume functions meet, with Windows' texts.
TEST(SystemMessages, TheSystemsTextsOfTheErrorsThatOccur) {
    struct Case {
        DWORD code;
        const char* text;
    };
    const Case cases[] = {
        {ERROR_SUCCESS, "The operation completed successfully.\r\n"},
        {ERROR_INVALID_FUNCTION, "Incorrect function.\r\n"},
        {ERROR_FILE_NOT_FOUND, "The system cannot find the file specified.\r\n"},
        {ERROR_PATH_NOT_FOUND, "The system cannot find the path specified.\r\n"},
        {ERROR_ACCESS_DENIED, "Access is denied.\r\n"},
        {ERROR_NOT_ENOUGH_MEMORY,
         "Not enough memory resources are available to process this command.\r\n"},
        {ERROR_NOT_READY, "The device is not ready.\r\n"},
        {ERROR_SHARING_VIOLATION,
         "The process cannot access the file because it is being used by another process.\r\n"},
        {ERROR_INVALID_PARAMETER, "The parameter is incorrect.\r\n"},
        {ERROR_DISK_FULL, "There is not enough space on the disk.\r\n"},
        {ERROR_INVALID_NAME,
         "The filename, directory name, or volume label syntax is incorrect.\r\n"},
        {ERROR_NOT_LOCKED, "The segment is already unlocked.\r\n"},
        {ERROR_ALREADY_EXISTS, "Cannot create a file when that file already exists.\r\n"},
        {433 /* ERROR_NO_SUCH_DEVICE */, "A device which does not exist was specified.\r\n"},
        {ERROR_UNRECOGNIZED_VOLUME,
         "The volume does not contain a recognized file system.\r\nPlease make sure that all "
         "required file system drivers are loaded and that the volume is not corrupted.\r\n"},
        {ERROR_IO_DEVICE, "The request could not be performed because of an I/O device error.\r\n"},
        {ERROR_NO_SYSTEM_RESOURCES,
         "Insufficient system resources exist to complete the requested service.\r\n"},
    };
    for (const auto& c : cases) {
        const std::string text = system_text(c.code);
        if (under_wine()) {
            // Wine's own wording ("File not found."), and none for some codes.
            if (!text.empty()) {
                EXPECT_EQ(text.substr(text.size() - 2), "\r\n") << c.code;
            }
        } else {
            EXPECT_EQ(text, c.text) << c.code;
        }
    }
}

TEST(SystemMessages, ACodeWithoutTextFails) {
    DWORD error = 0;
    EXPECT_EQ(system_text(0x2000DEAD, &error), "");
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_MR_MID_NOT_FOUND));
}

TEST(SystemMessages, TheCallersBufferMustHoldTheTextAndItsNul) {
    const std::string text = system_text(ERROR_FILE_NOT_FOUND);
    ASSERT_FALSE(text.empty());
    std::string buffer(text.size() + 8, '\x7f');
    const DWORD flags = FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
    EXPECT_EQ(FormatMessageA(flags, nullptr, ERROR_FILE_NOT_FOUND, 0, buffer.data(),
                             static_cast<DWORD>(text.size()), nullptr),
              0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(FormatMessageA(flags, nullptr, ERROR_FILE_NOT_FOUND, 0, buffer.data(),
                             static_cast<DWORD>(text.size() + 1), nullptr),
              text.size());
    EXPECT_EQ(std::strcmp(buffer.c_str(), text.c_str()), 0);
    EXPECT_EQ(buffer[text.size() + 1], '\x7f');
}

}  // namespace
