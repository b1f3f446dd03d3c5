// Programs of the tests about volumes: the system's format program started as the format step
// starts it, and the host's NTFS tools run on an image.
#pragma once

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <string>

#include "platform/win32.h"

// The exit code of the program that command_line starts through CreateProcessA, waited for
// without limit; -1 when it did not start.
inline long run_program(const std::string& command_line) {
    std::string line = command_line;
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                        &process))
        return -1;
    EXPECT_EQ(WaitForSingleObject(process.hProcess, INFINITE), WAIT_OBJECT_0);
    DWORD code = 0;
    EXPECT_TRUE(GetExitCodeProcess(process.hProcess, &code));
    EXPECT_TRUE(CloseHandle(process.hThread));
    EXPECT_TRUE(CloseHandle(process.hProcess));
    return static_cast<long>(code);
}

// The exit status of a host command line ("ntfsinfo -m disk.img"), with what it printed.
inline int host_tool(const std::string& command_line, std::string* output) {
    FILE* pipe = popen((command_line + " 2>&1").c_str(), "r");
    if (!pipe) return -1;
    char buffer[4096];
    output->clear();
    while (size_t got = fread(buffer, 1, sizeof buffer, pipe)) output->append(buffer, got);
    const int status = pclose(pipe);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}
