#include <cstdio>

#include "volume/steps.h"

void FormatDrive(char letter) {
    char command[256];
    std::snprintf(command, sizeof command, "FORMAT.com %c: /FS:NTFS /Q /Y", letter);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessA(nullptr, command, nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                        &process))
        return;
    WaitForSingleObject(process.hProcess, INFINITE);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
}
