// kernel32: last error, handles, files and device I/O.
#pragma once

#include "platform/api/windef.h"

#define GENERIC_READ 0x80000000u
#define GENERIC_WRITE 0x40000000u
#define GENERIC_EXECUTE 0x20000000u
#define GENERIC_ALL 0x10000000u
#define FILE_SHARE_READ 0x00000001u
#define FILE_SHARE_WRITE 0x00000002u
#define FILE_SHARE_DELETE 0x00000004u
#define CREATE_NEW 1u
#define CREATE_ALWAYS 2u
#define OPEN_EXISTING 3u
#define OPEN_ALWAYS 4u
#define TRUNCATE_EXISTING 5u
#define FILE_ATTRIBUTE_NORMAL 0x00000080u
#define FILE_FLAG_OVERLAPPED 0x40000000u
#define FILE_FLAG_NO_BUFFERING 0x20000000u
#define FILE_FLAG_WRITE_THROUGH 0x80000000u

extern "C" {

DWORD WINAPI GetLastError();
void WINAPI SetLastError(DWORD error);

BOOL WINAPI CloseHandle(HANDLE handle);

// Opens a file (Windows drive paths are mapped under the machine's root) or a device
// ("\\.\NAME", "\\?\...") that one of the simulated device providers knows.
HANDLE WINAPI CreateFileA(LPCSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                          DWORD disposition, DWORD flags, HANDLE template_file);

BOOL WINAPI DeviceIoControl(HANDLE device, DWORD code, LPVOID in, DWORD in_size, LPVOID out,
                            DWORD out_size, LPDWORD returned, LPOVERLAPPED overlapped);

// The result of an overlapped operation: FALSE with ERROR_IO_INCOMPLETE while it is pending and
// wait is FALSE; otherwise the operation's own success, with *transferred set.
BOOL WINAPI GetOverlappedResult(HANDLE file, LPOVERLAPPED overlapped, LPDWORD transferred,
                                BOOL wait);

}  // extern "C"

#define MOVEFILE_REPLACE_EXISTING 0x00000001u
#define MOVEFILE_WRITE_THROUGH 0x00000008u

extern "C" {

// File names: Windows drive paths are mapped under the machine's root.
BOOL WINAPI MoveFileExA(LPCSTR existing, LPCSTR new_name, DWORD flags);
BOOL WINAPI DeleteFileA(LPCSTR name);

}  // extern "C"
