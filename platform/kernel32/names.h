// Win32 file names and create dispositions as kernel32 takes them.
#pragma once

#include "platform/ntdll/dos_path.h"
#include "platform/win32.h"

namespace platform {

// The NT name of a Win32 name (null counts as empty), within the ANSI calls' limit of MAX_PATH
// characters; false with the last error set.
bool win32_name_to_nt(LPCSTR name, NtName* out);

// The NT create disposition (FILE_CREATE, ...) of a CreateFileA disposition (CREATE_NEW up to
// TRUNCATE_EXISTING).
uint32_t nt_disposition(DWORD disposition);

}  // namespace platform
