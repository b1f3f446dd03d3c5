// Test controls of plain files: what the tests, which run as root, cannot get from the host's
// permissions.
#pragma once

#include <string>

namespace sim {

// From now on CreateFileA of the file path (a Windows name, compared as the layer resolves it:
// without case, '/' as '\') fails with ERROR_ACCESS_DENIED, as when the file's permissions refuse
// the user; kernel-mode opens of it still succeed.
void deny_file_access(const std::string& path);
// Every file opens as its permissions allow again.
void allow_all_file_access();

}  // namespace sim
