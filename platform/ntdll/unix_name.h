// Where an NT file name lives on the host. "\??\X:\..." names a file of drive X, kept under
// $HALDEN_ROOT/X/ (HALDEN_ROOT defaults to $HOME/.halden, /tmp/halden without HOME); "\??\unix\..."
// names a host file by its host path. Names compare without case, as on Windows, on a drive and
// on the host alike: each name is looked up as given first, then without case, and the host's own
// spelling of the name found is used; a new name keeps the case it was given.
// A drive exists when its folder does; C: always exists (its folder is made when first needed). A
// letter defined as an MS-DOS device (DefineDosDeviceA) names that device's volume instead: its
// names are not host files, and lead into the object namespace.
#pragma once

#include <cstdint>
#include <string>

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

// True when nt_path is a host file's name ("\??\X:\..." of a drive that is not an MS-DOS device, or
// "\??\unix\..."), as against a device's ("\??\usb#...", the volume "\??\C:").
bool nt_name_is_file(const std::string& nt_path);

// The drives whose folder the machine's root holds, as GetLogicalDrives' bits (C: always).
uint32_t host_drives();

// kStatusSuccess with *out set; kStatusObjectPathNotFound when a folder on the way (or the
// drive) is missing, kStatusObjectNameInvalid for a name Windows cannot hold (wildcards, '.' and
// ".." in a verbatim name, control characters, ':' outside the drive).
uint32_t nt_name_to_unix(const std::string& nt_path, UnixName* out);

}  // namespace platform
