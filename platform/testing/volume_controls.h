// Test controls of mounted volumes: what a file system would do on a drive, done with the host's
// NTFS tools (package ntfs-3g) on a copy, every sector read and written through "\\.\X:" and so
// through the disk's driver. For volumes of test size: each call copies the whole volume.
#pragma once

#include <string>

namespace sim::volume {

// Copies the volume of drive letter into the host file host_path (made or replaced). False with
// *error saying why.
bool snapshot(char letter, const std::string& host_path, std::string* error);

// Writes the host file host_source onto the NTFS volume of drive letter as volume_path ("/name" or
// "/folder/name", the folder existing): the volume is read into a temporary image, ntfscp copies
// the file into it, and the sectors that changed are written back through the drive. False with
// *error saying why (when ntfscp refuses, nothing is written).
bool copy_in(char letter, const std::string& host_source, const std::string& volume_path,
             std::string* error);

}  // namespace sim::volume
