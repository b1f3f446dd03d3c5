#include "platform/ntdll/file_security.h"

#include "platform/core/trace.h"
#include "platform/unix/unix_process.h"
#include "platform/win32.h"

namespace platform {

using namespace ntoskrnl::security;

namespace {

// Read, write and execute (4, 2, 1) in an access mask.
uint32_t permission_bits(uint32_t mask) {
    uint32_t bits = 0;
    if (mask & (FILE_READ_DATA | GENERIC_READ | GENERIC_ALL)) bits |= 4;
    if (mask & (FILE_WRITE_DATA | FILE_APPEND_DATA | GENERIC_WRITE | GENERIC_ALL)) bits |= 2;
    if (mask & (FILE_EXECUTE | GENERIC_EXECUTE | GENERIC_ALL)) bits |= 1;
    return bits;
}

uint32_t access_mask(uint32_t bits) {
    uint32_t mask = 0;
    if (bits & 4) mask |= FILE_GENERIC_READ;
    if (bits & 2) mask |= FILE_GENERIC_WRITE | DELETE;
    if (bits & 1) mask |= FILE_GENERIC_EXECUTE;
    return mask;
}

}  // namespace

Sid host_user(uint32_t uid) {
    return sid(22, {1, uid});
}
Sid host_group(uint32_t gid) {
    return sid(22, {2, gid});
}

Descriptor host_file_descriptor(const unix_file::Status& status, uint32_t requested) {
    Descriptor d;
    d.has_owner = (requested & OWNER_SECURITY_INFORMATION) != 0;
    d.has_group = (requested & GROUP_SECURITY_INFORMATION) != 0;
    d.has_dacl = (requested & DACL_SECURITY_INFORMATION) != 0;
    d.owner = host_user(status.owner);
    d.group = host_group(status.group);
    if (!d.has_dacl) return d;
    const std::pair<Sid, uint32_t> classes[] = {{d.owner, status.permissions >> 6 & 7},
                                                {d.group, status.permissions >> 3 & 7},
                                                {kEveryone, status.permissions & 7}};
    for (const auto& [who, bits] : classes)
        if (bits) d.dacl.push_back({kAccessAllowed, 0, access_mask(bits), who});
    return d;
}

bool file_permissions_from_descriptor(const void* descriptor, int* permissions) {
    Descriptor d;
    if (!descriptor || !decode(static_cast<const uint8_t*>(descriptor), &d)) return false;
    *permissions = -1;
    if (!d.has_dacl) return true;
    const Sid user = host_user(unix_process::user_id());
    const Sid group = host_group(unix_process::group_id());
    uint32_t allowed[3] = {}, denied[3] = {};  // owner, group, others
    for (const Ace& ace : d.dacl) {
        uint32_t* to = ace.type == kAccessAllowed ? allowed : denied;
        const uint32_t bits = permission_bits(ace.mask);
        if (ace.who == user || ace.who == kOwnerRights || ace.who == kCreatorOwner) {
            to[0] |= bits;
        } else if (ace.who == group) {
            to[1] |= bits;
        } else if (ace.who == kEveryone) {
            for (int c = 0; c < 3; ++c) to[c] |= bits;
        } else {
            TRACE("ntdll", "an ACE for %s cannot be kept", sid_string(ace.who).c_str());
        }
    }
    *permissions = 0;
    for (int c = 0; c < 3; ++c)
        *permissions |= static_cast<int>((allowed[c] & ~denied[c]) << (6 - 3 * c));
    return true;
}

}  // namespace platform
