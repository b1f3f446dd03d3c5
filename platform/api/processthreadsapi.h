// kernel32: processes started by command line, and their ends.
#pragma once

#include "platform/api/windef.h"

// GetExitCodeProcess's answer while the process runs.
#define STILL_ACTIVE 259u

typedef struct _STARTUPINFOA {
    DWORD cb;
    LPSTR lpReserved;
    LPSTR lpDesktop;
    LPSTR lpTitle;
    DWORD dwX;
    DWORD dwY;
    DWORD dwXSize;
    DWORD dwYSize;
    DWORD dwXCountChars;
    DWORD dwYCountChars;
    DWORD dwFillAttribute;
    DWORD dwFlags;
    WORD wShowWindow;
    WORD cbReserved2;
    LPBYTE lpReserved2;
    HANDLE hStdInput;
    HANDLE hStdOutput;
    HANDLE hStdError;
} STARTUPINFOA, *LPSTARTUPINFOA;

typedef struct _PROCESS_INFORMATION {
    HANDLE hProcess;
    HANDLE hThread;
    DWORD dwProcessId;
    DWORD dwThreadId;
} PROCESS_INFORMATION, *PPROCESS_INFORMATION, *LPPROCESS_INFORMATION;

static_assert(sizeof(STARTUPINFOA) == 104);
static_assert(sizeof(PROCESS_INFORMATION) == 24);

extern "C" {

// Starts the program that the command line names (its first word, or application_name). The
// programs this machine has are the system's own that the simulation models (FORMAT.com); any
// other name fails as a missing program does (ERROR_FILE_NOT_FOUND). The process and thread
// handles are waitable (signalled when the program ends) and closed with CloseHandle.
BOOL WINAPI CreateProcessA(LPCSTR application_name, LPSTR command_line,
                           LPSECURITY_ATTRIBUTES process_attributes,
                           LPSECURITY_ATTRIBUTES thread_attributes, BOOL inherit_handles,
                           DWORD creation_flags, LPVOID environment, LPCSTR current_directory,
                           LPSTARTUPINFOA startup_info, LPPROCESS_INFORMATION process_information);
// The process's exit code, or STILL_ACTIVE while it runs.
BOOL WINAPI GetExitCodeProcess(HANDLE process, LPDWORD exit_code);

}  // extern "C"
