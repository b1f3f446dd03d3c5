// The files whose opens CreateFileA refuses whatever their permissions (the test controls' stand-in
// for a user the permissions refuse, since the tests run as root).
#pragma once

#include <string>

namespace platform {

// From now on CreateFileA of the file nt_path (an NT name, compared without case) fails with
// ERROR_ACCESS_DENIED; kernel-mode opens of it still succeed.
void deny_file_access(const std::string& nt_path);
// Every file opens as its permissions allow again.
void allow_all_file_access();

}  // namespace platform
