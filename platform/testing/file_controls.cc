#include "platform/testing/file_controls.h"

#include "platform/kernel32/file_access.h"
#include "platform/ntdll/dos_path.h"

namespace sim {

void deny_file_access(const std::string& path) {
    platform::NtName nt;
    if (platform::dos_path_to_nt_name(path.c_str(), &nt) != STATUS_SUCCESS) return;
    platform::deny_file_access(nt.path);
}

void allow_all_file_access() {
    platform::allow_all_file_access();
}

}  // namespace sim
