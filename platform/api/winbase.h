// kernel32: last error, handles, files and device I/O.
#pragma once

#include <cstdarg>

#include "platform/api/windef.h"
#include "platform/api/winnt.h"

#define CREATE_NEW 1u
#define CREATE_ALWAYS 2u
#define OPEN_EXISTING 3u
#define OPEN_ALWAYS 4u
#define TRUNCATE_EXISTING 5u
#define FILE_FLAG_OVERLAPPED 0x40000000u
#define FILE_FLAG_NO_BUFFERING 0x20000000u
#define FILE_FLAG_WRITE_THROUGH 0x80000000u
#define FILE_BEGIN 0u
#define FILE_CURRENT 1u
#define FILE_END 2u
#define LOCKFILE_FAIL_IMMEDIATELY 0x00000001u
#define LOCKFILE_EXCLUSIVE_LOCK 0x00000002u
#define MAXDWORD 0xFFFFFFFFu
#define LMEM_FIXED 0x0000u
#define LMEM_ZEROINIT 0x0040u
#define LPTR (LMEM_FIXED | LMEM_ZEROINIT)

typedef struct _FILETIME {
    DWORD dwLowDateTime;
    DWORD dwHighDateTime;
} FILETIME, *PFILETIME, *LPFILETIME;

typedef struct _BY_HANDLE_FILE_INFORMATION {
    DWORD dwFileAttributes;
    FILETIME ftCreationTime;
    FILETIME ftLastAccessTime;
    FILETIME ftLastWriteTime;
    DWORD dwVolumeSerialNumber;
    DWORD nFileSizeHigh;
    DWORD nFileSizeLow;
    DWORD nNumberOfLinks;
    DWORD nFileIndexHigh;
    DWORD nFileIndexLow;
} BY_HANDLE_FILE_INFORMATION, *LPBY_HANDLE_FILE_INFORMATION;
static_assert(sizeof(BY_HANDLE_FILE_INFORMATION) == 52);

extern "C" {

// The current process: a pseudo-handle that needs no closing.
HANDLE WINAPI GetCurrentProcess();

// Local memory, as some calls hand it out: LMEM_FIXED (and LMEM_ZEROINIT) blocks only.
// LocalFree returns null when it freed the block.
HANDLE WINAPI LocalAlloc(UINT flags, SIZE_T bytes);
HANDLE WINAPI LocalFree(HANDLE memory);

DWORD WINAPI GetLastError();
void WINAPI SetLastError(DWORD error);

BOOL WINAPI CloseHandle(HANDLE handle);

// Opens a plain file (a drive path names a file under the machine's root, platform/unix/
// unix_name.h) or a device ("\\.\NAME", "\\?\...") that one of the simulated device providers
// knows. Plain files are synchronous: FILE_FLAG_OVERLAPPED is not provided for them.
HANDLE WINAPI CreateFileA(LPCSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                          DWORD disposition, DWORD flags, HANDLE template_file);

BOOL WINAPI ReadFile(HANDLE file, LPVOID buffer, DWORD length, LPDWORD read,
                     LPOVERLAPPED overlapped);
BOOL WINAPI WriteFile(HANDLE file, LPCVOID buffer, DWORD length, LPDWORD written,
                      LPOVERLAPPED overlapped);
BOOL WINAPI SetFilePointerEx(HANDLE file, LARGE_INTEGER distance, PLARGE_INTEGER new_position,
                             DWORD method);
BOOL WINAPI GetFileSizeEx(HANDLE file, PLARGE_INTEGER size);
BOOL WINAPI FlushFileBuffers(HANDLE file);
BOOL WINAPI SetEndOfFile(HANDLE file);
BOOL WINAPI GetFileInformationByHandle(HANDLE file, LPBY_HANDLE_FILE_INFORMATION information);
BOOL WINAPI LockFileEx(HANDLE file, DWORD flags, DWORD reserved, DWORD length_low,
                       DWORD length_high, LPOVERLAPPED overlapped);
BOOL WINAPI UnlockFileEx(HANDLE file, DWORD reserved, DWORD length_low, DWORD length_high,
                         LPOVERLAPPED overlapped);

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

// File names, with the same rules as CreateFileA. Moving between drives (which would copy) is not
// provided: it fails with ERROR_NOT_SAME_DEVICE.
BOOL WINAPI MoveFileExA(LPCSTR existing, LPCSTR new_name, DWORD flags);
BOOL WINAPI DeleteFileA(LPCSTR name);

}  // extern "C"

// DefineDosDeviceA's flags.
#define DDD_RAW_TARGET_PATH 0x00000001u
#define DDD_REMOVE_DEFINITION 0x00000002u
#define DDD_EXACT_MATCH_ON_REMOVE 0x00000004u
#define DDD_NO_BROADCAST_SYSTEM 0x00000008u

extern "C" {

// MS-DOS device names: symbolic links "\??\<name>" in the object namespace. A definition is
// pushed onto the name's earlier ones; removing one uncovers the one before it, and the name goes
// with its last. Only raw targets (DDD_RAW_TARGET_PATH, an NT path) are provided.
BOOL WINAPI DefineDosDeviceA(DWORD flags, LPCSTR device_name, LPCSTR target_path);
// The definitions of device_name, newest first, each NUL-terminated and the list ended by another
// NUL (every defined name the same way when device_name is null); the characters stored, or 0.
DWORD WINAPI QueryDosDeviceA(LPCSTR device_name, LPSTR target_path, DWORD max_chars);
// Bit n set when the drive 'A' + n exists: C:, the drives whose folder the machine's root holds,
// and the letters defined as MS-DOS devices.
DWORD WINAPI GetLogicalDrives();

}  // extern "C"

#define FORMAT_MESSAGE_ALLOCATE_BUFFER 0x00000100u
#define FORMAT_MESSAGE_IGNORE_INSERTS 0x00000200u
#define FORMAT_MESSAGE_FROM_STRING 0x00000400u
#define FORMAT_MESSAGE_FROM_HMODULE 0x00000800u
#define FORMAT_MESSAGE_FROM_SYSTEM 0x00001000u
#define FORMAT_MESSAGE_ARGUMENT_ARRAY 0x00002000u
#define FORMAT_MESSAGE_MAX_WIDTH_MASK 0x000000FFu

#define LANG_NEUTRAL 0x00
#define LANG_ENGLISH 0x09
#define SUBLANG_NEUTRAL 0x00
#define SUBLANG_DEFAULT 0x01
#define MAKELANGID(primary, sub) ((static_cast<WORD>(sub) << 10) | static_cast<WORD>(primary))

extern "C" {

// The system's message for an error code (FORMAT_MESSAGE_FROM_SYSTEM), in English, ending in
// "\r\n" as Windows writes it. With FORMAT_MESSAGE_ALLOCATE_BUFFER, buffer is a char** that
// receives a LocalAlloc block (the caller frees it with LocalFree). The characters written
// without the NUL, or 0 with the last error set (ERROR_MR_MID_NOT_FOUND for an unknown code).
DWORD WINAPI FormatMessageA(DWORD flags, LPCVOID source, DWORD message_id, DWORD language_id,
                            LPSTR buffer, DWORD size, va_list* arguments);

}  // extern "C"
