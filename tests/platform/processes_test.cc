// CreateProcessA as the format step calls it, for a program the machine does not have. Runs
// against the Linux layer and, in the Windows build, against Wine's kernel32.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#if defined(_WIN32)
#include <windows.h>
#else
#include "platform/win32.h"
#endif

namespace {

TEST(Processes, AMissingProgramDoesNotStart) {
    for (const char* line :
         {"HaldenNoSuchProgram.exe Q: /FS:NTFS /Q /Y", "\"C:\\Halden No Such\\prog.com\" x",
          "FORMAT Q:" /* no extension: "FORMAT.exe" */}) {
        std::string command_line = line;
        STARTUPINFOA startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION process;
        std::memset(&process, 0x5A, sizeof process);
        SetLastError(0);
        EXPECT_FALSE(CreateProcessA(nullptr, command_line.data(), nullptr, nullptr, TRUE, 0,
                                    nullptr, nullptr, &startup, &process))
            << line;
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND)) << line;
        const auto* bytes = reinterpret_cast<const unsigned char*>(&process);
        for (size_t i = 0; i < sizeof process; ++i) EXPECT_EQ(bytes[i], 0x5A) << line;
    }
}

}  // namespace
