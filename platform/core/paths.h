// Windows drive paths on Linux: "C:/Halden/x" and "C:\Halden\x" (also the NT form "\??\C:\x")
// name $HALDEN_ROOT/C/Halden/x. HALDEN_ROOT defaults to $HOME/.halden (/tmp/halden without HOME).
#pragma once

#include <string>

namespace platform {

// The machine's root directory, read from the environment on every call.
std::string machine_root();

// True when path starts with a drive letter, a colon and a separator (after an optional "\??\").
bool is_drive_path(const char* path);

// The folder under the root that stands for the drive of a drive path ("$HALDEN_ROOT/C").
std::string drive_folder(const char* path);

// The Linux path for path: drive paths mapped under the root (the letter upper-cased, every
// backslash turned into '/'); any other path unchanged.
std::string map_path(const char* path);

}  // namespace platform
