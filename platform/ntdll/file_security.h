// Security descriptors as the host's files can carry them. The host keeps an owner, a group and
// read, write and execute permissions for each of owner, group and others; these stand for:
// - the user "S-1-22-1-<uid>" and the group "S-1-22-2-<gid>" (the host's numbers, named as Samba
//   names them); the process's token user is its effective user;
// - a DACL of allow ACEs for the file's owner, its group and Everyone (WD), with the read
//   (FILE_GENERIC_READ), write (FILE_GENERIC_WRITE) and execute (FILE_GENERIC_EXECUTE) rights
//   their permissions give.
// A DACL given to a new file maps the other way: the rights of ACEs for the process's user (or
// OWNER RIGHTS, CREATOR OWNER) become the owner's permissions, those for its group the group's,
// those for Everyone everybody's; deny ACEs take permissions away. ACEs for other SIDs cannot be
// kept and are left out.
#pragma once

#include <cstdint>

#include "platform/ntoskrnl/rtl/security_descriptor.h"
#include "platform/unix/unix_file.h"

namespace platform {

// The SIDs of the host's user and group ids.
ntoskrnl::security::Sid host_user(uint32_t uid);
ntoskrnl::security::Sid host_group(uint32_t gid);

// The descriptor of a host file with status, with the components requested
// (OWNER_SECURITY_INFORMATION, GROUP_SECURITY_INFORMATION, DACL_SECURITY_INFORMATION).
ntoskrnl::security::Descriptor host_file_descriptor(const unix_file::Status& status,
                                                    uint32_t requested);

// The permissions (0777 bits) that a self-relative security descriptor gives a file this process
// creates: true with *permissions set, or with *permissions -1 when it has no DACL (the host's
// default applies); false when the descriptor is not one.
bool file_permissions_from_descriptor(const void* descriptor, int* permissions);

}  // namespace platform
