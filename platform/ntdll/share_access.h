// The share access of every open file, which the host does not keep: Windows' rule for whether a
// new open may join the opens of a file (IoCheckShareAccess). An open that asks for no data access
// and no DELETE (attributes only) neither is checked nor restricts later opens.
#pragma once

#include <cstdint>
#include <mutex>

#include "platform/ntdll/unix_file.h"

namespace platform {

// Held around every check and the change that follows it, and around renames and deletions
// that must see no open appear meanwhile.
std::unique_lock<std::mutex> lock_share_table();

// With the table locked: whether an open with access and share may join the file's opens.
bool share_access_allows(const unix_file::Identity& file, uint32_t access, uint32_t share);
// With the table locked: records or drops one open (a handle) of the file.
void share_access_add(const unix_file::Identity& file, uint32_t access, uint32_t share);
void share_access_remove(const unix_file::Identity& file, uint32_t access, uint32_t share);
// With the table locked: the file's open handles, with or without data access.
uint32_t share_access_handles(const unix_file::Identity& file);

}  // namespace platform
