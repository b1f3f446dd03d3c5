// Where an NT file name lives on the host. "\??\X:\..." names a file of drive X, kept under
// $HALDEN_ROOT/X/ (HALDEN_ROOT defaults to $HOME/.halden, /tmp/halden without HOME); "\??\unix\..."
// names a host file by its host path. Names compare without case, as on Windows, on a drive and
// on the host alike: each name is looked up as given first, then without case, and the host's own
// spelling of the name found is used; a new name keeps the case it was given.
// A drive exists when its folder does; C: always exists (its folder is made when first needed).
// Whether a letter is an MS-DOS device instead (DefineDosDeviceA), whose names lead into the object
// namespace, is the kernel's to tell (platform/ntoskrnl/fs/file.h).
#pragma once

#include <cstdint>
#include <string>

#include "platform/ddk/ntstatus.h"

namespace platform {

// The machine's root folder, read from the environment on every call.
std::string machine_root();

struct UnixName {
    std::string path;         // the host path of the file, found or to be created
    char drive;               // 'A'..'Z', or 0 for a host file
    bool exists;              // the last name was found
    bool directory;           // ... and it is a folder
    bool trailing_separator;  // the NT name ended in '\': only a folder may be meant
};

// True when nt_path has the form of a host file's name, "\??\X:\..." (with *drive X) or
// "\??\unix\..." (*drive 0), as against a device's ("\??\usb#...", the volume "\??\C:").
bool nt_name_is_host_path(const std::string& nt_path, char* drive);

// The drives whose folder the machine's root holds, as GetLogicalDrives' bits (C: always).
uint32_t host_drives();

// The host file of a name of that form, whether or not its letter is an MS-DOS device.
// STATUS_SUCCESS with *out set; STATUS_OBJECT_PATH_NOT_FOUND for another name, or when a folder on
// the way (or the drive) is missing, STATUS_OBJECT_NAME_INVALID for a name Windows cannot hold
// (wildcards, '.' and ".." in a verbatim name, control characters, ':' outside the drive).
NTSTATUS nt_name_to_unix(const std::string& nt_path, UnixName* out);

}  // namespace platform
