// Win32 file names (platform/ntdll/dos_path.h) and create dispositions as kernel32 takes them.
#pragma once

#include "platform/ntdll/dos_path.h"
#include "platform/win32.h"

namespace platform {

// The NT create disposition (FILE_CREATE, ...) of a CreateFileA disposition (CREATE_NEW up to
// TRUNCATE_EXISTING).
uint32_t nt_disposition(DWORD disposition);

}  // namespace platform
