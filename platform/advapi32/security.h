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

namespace platform {

// The permissions (0777 bits) that a self-relative security descriptor gives a file this process
// creates: true with *permissions set, or with *permissions -1 when it has no DACL (the host's
// default applies); false when the descriptor is not one.
bool file_permissions_from_descriptor(const void* descriptor, int* permissions);

}  // namespace platform
