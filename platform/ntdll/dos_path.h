// Win32 file names to NT names, by the rules Windows documents for its path normalisation
// (RtlDosPathNameToNtPathName):
// - "\\?\X" is taken verbatim as "\??\X": no separator, dot or space is changed;
// - "\??\X" is already an NT name and passes unchanged;
// - "\\.\X" names the device or drive X: normalised, and ".." never climbs above X;
// - "C:\a" and "C:/a" are drive-absolute; "C:a" is drive-relative and, since the current
//   directory is never on a lettered drive here, resolves against that drive's root ("C:\a");
// - "\a" and "/a" are relative to the root of the current drive, "a" to the current directory.
//   The current directory is the host's, so these name host files ("\??\unix\..."), as a Windows
//   program under Wine sees the host's tree;
// - normalising turns '/' into '\', folds runs of separators, removes "." and resolves "..",
//   removes one trailing '.' from every folder name, and strips every trailing '.' and ' ' from
//   the last name (a name that ends in a separator keeps them);
// - "\\server\share" (UNC) names a network path, which this machine does not have.
#pragma once

#include <cstdint>
#include <string>

#include "platform/ddk/ntstatus.h"
#include "platform/win32.h"

namespace platform {

struct NtName {
    std::string path;  // "\??\C:\dir\name", "\??\unix\tmp\x", "\??\usb#..."
    bool verbatim;     // given as "\\?\..." or "\??\...": its names are not normalised
};

// STATUS_SUCCESS with *out set; STATUS_OBJECT_PATH_NOT_FOUND for an empty name,
// STATUS_BAD_NETWORK_PATH for a UNC name.
NTSTATUS dos_path_to_nt_name(const char* name, NtName* out);

// The NT name of a Win32 name as the ANSI calls take it (null counts as empty), within their limit
// of MAX_PATH characters; false with the last error set.
bool win32_name_to_nt(LPCSTR name, NtName* out);

}  // namespace platform
