// Tokens, SIDs and security descriptors (platform/api/security.h, platform/advapi32/security.h).
// Descriptors are built and read in Windows' self-relative binary form, field by field.
#include "platform/advapi32/security.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "crypto/byte_access.h"
#include "platform/core/object.h"
#include "platform/core/trace.h"
#include "platform/kernel32/names.h"
#include "platform/ntdll/ntstatus.h"
#include "platform/ntdll/unix_file.h"
#include "platform/ntdll/unix_name.h"
#include "platform/ntdll/unix_process.h"
#include "platform/win32.h"

namespace platform {
namespace {

// Self-relative security descriptor: revision, Sbz1, control (u16), then the offsets of owner,
// group, SACL and DACL (u32 each), all little-endian.
constexpr size_t kDescriptorHeaderSize = 20;
constexpr uint8_t kDescriptorRevision = 1;
constexpr uint16_t kDaclPresent = 0x0004;
constexpr uint16_t kDaclAutoInheritRequired = 0x0100;
constexpr uint16_t kDaclAutoInherited = 0x0400;
constexpr uint16_t kDaclProtected = 0x1000;
constexpr uint16_t kSelfRelative = 0x8000;
// ACL: revision, Sbz1, size (u16), ACE count (u16), Sbz2 (u16). ACE: type, flags, size (u16),
// access mask (u32), SID.
constexpr size_t kAclHeaderSize = 8;
constexpr uint8_t kAclRevision = 2;
constexpr size_t kAceHeaderSize = 8;
constexpr uint8_t kAccessAllowed = 0;
constexpr uint8_t kAccessDenied = 1;
// SID: revision, sub-authority count, 6-byte authority (big-endian), sub-authorities (u32).
constexpr uint8_t kSidRevision = 1;
constexpr size_t kMaxSubAuthorities = 15;

using Bytes = std::vector<uint8_t>;

using bytes::load_le16;
using bytes::load_le32;
using bytes::store_le16;
using bytes::store_le32;

struct Sid {
    uint64_t authority = 0;
    std::vector<uint32_t> sub;
    bool operator==(const Sid&) const = default;
};

Sid sid(uint64_t authority, std::vector<uint32_t> sub) {
    return Sid{authority, std::move(sub)};
}
const Sid kEveryone = sid(1, {0});
const Sid kCreatorOwner = sid(3, {0});
const Sid kOwnerRights = sid(3, {4});

Sid host_user(uint32_t uid) {
    return sid(22, {1, uid});
}
Sid host_group(uint32_t gid) {
    return sid(22, {2, gid});
}

Bytes encode_sid(const Sid& s) {
    Bytes b(8 + 4 * s.sub.size());
    b[0] = kSidRevision;
    b[1] = static_cast<uint8_t>(s.sub.size());
    for (int i = 0; i < 6; ++i) b[2 + i] = static_cast<uint8_t>(s.authority >> (8 * (5 - i)));
    for (size_t i = 0; i < s.sub.size(); ++i) store_le32(b.data() + 8 + 4 * i, s.sub[i]);
    return b;
}

// The SID at p within available bytes; false when there is none.
bool decode_sid(const uint8_t* p, size_t available, Sid* out, size_t* size) {
    if (available < 8 || p[0] != kSidRevision || p[1] > kMaxSubAuthorities) return false;
    *size = 8 + 4 * static_cast<size_t>(p[1]);
    if (available < *size) return false;
    out->authority = 0;
    for (int i = 0; i < 6; ++i) out->authority = out->authority << 8 | p[2 + i];
    out->sub.clear();
    for (size_t i = 0; i < p[1]; ++i) out->sub.push_back(load_le32(p + 8 + 4 * i));
    return true;
}

std::string sid_string(const Sid& s) {
    char text[32];
    std::snprintf(text, sizeof text, s.authority < (1ull << 32) ? "S-1-%llu" : "S-1-0x%012llX",
                  static_cast<unsigned long long>(s.authority));
    std::string result = text;
    for (uint32_t part : s.sub) {
        std::snprintf(text, sizeof text, "-%u", part);
        result += text;
    }
    return result;
}

struct Ace {
    uint8_t type;
    uint8_t flags;
    uint32_t mask;
    Sid who;
};

struct Descriptor {
    uint16_t control = kSelfRelative;
    bool has_owner = false, has_group = false, has_dacl = false;
    Sid owner, group;
    std::vector<Ace> dacl;
};

Bytes encode(const Descriptor& d) {
    Bytes b(kDescriptorHeaderSize, 0);
    b[0] = kDescriptorRevision;
    store_le16(b.data() + 2,
               static_cast<uint16_t>(d.control | kSelfRelative | (d.has_dacl ? kDaclPresent : 0)));
    // Appends part and writes its offset into the header field at field.
    auto append = [&b](size_t field, const Bytes& part) {
        const size_t at = b.size();
        b.insert(b.end(), part.begin(), part.end());
        store_le32(b.data() + field, static_cast<uint32_t>(at));
    };
    if (d.has_owner) append(4, encode_sid(d.owner));
    if (d.has_group) append(8, encode_sid(d.group));
    if (d.has_dacl) {
        Bytes acl(kAclHeaderSize, 0);
        acl[0] = kAclRevision;
        for (const Ace& ace : d.dacl) {
            const Bytes who = encode_sid(ace.who);
            Bytes entry(kAceHeaderSize, 0);
            entry[0] = ace.type;
            entry[1] = ace.flags;
            store_le16(entry.data() + 2, static_cast<uint16_t>(kAceHeaderSize + who.size()));
            store_le32(entry.data() + 4, ace.mask);
            entry.insert(entry.end(), who.begin(), who.end());
            acl.insert(acl.end(), entry.begin(), entry.end());
        }
        store_le16(acl.data() + 2, static_cast<uint16_t>(acl.size()));
        store_le16(acl.data() + 4, static_cast<uint16_t>(d.dacl.size()));
        append(16, acl);
    }
    return b;
}

// A self-relative descriptor's owner, group and DACL. Its size is not known to the caller of
// CreateFileA, so the offsets are trusted within the 64 KiB an ACL can span.
bool decode(const uint8_t* p, Descriptor* d) {
    if (p[0] != kDescriptorRevision) return false;
    d->control = load_le16(p + 2);
    if (!(d->control & kSelfRelative)) return false;
    constexpr size_t kReach = 0x10000;
    size_t size = 0;
    if (uint32_t at = load_le32(p + 4); at != 0)
        d->has_owner = decode_sid(p + at, kReach, &d->owner, &size);
    if (uint32_t at = load_le32(p + 8); at != 0)
        d->has_group = decode_sid(p + at, kReach, &d->group, &size);
    const uint32_t dacl_at = load_le32(p + 16);
    if (!(d->control & kDaclPresent) || dacl_at == 0) return true;
    const uint8_t* acl = p + dacl_at;
    if (acl[0] != kAclRevision && acl[0] != 4) return false;
    const size_t acl_size = load_le16(acl + 2);
    const uint16_t count = load_le16(acl + 4);
    d->has_dacl = true;
    size_t offset = kAclHeaderSize;
    for (uint16_t i = 0; i < count; ++i) {
        if (offset + kAceHeaderSize > acl_size) return false;
        const uint8_t* ace = acl + offset;
        const size_t ace_size = load_le16(ace + 2);
        if (ace_size < kAceHeaderSize || offset + ace_size > acl_size) return false;
        Ace entry{ace[0], ace[1], load_le32(ace + 4), {}};
        if (entry.type == kAccessAllowed || entry.type == kAccessDenied) {
            if (!decode_sid(ace + kAceHeaderSize, ace_size - kAceHeaderSize, &entry.who, &size))
                return false;
            d->dacl.push_back(entry);
        }
        offset += ace_size;
    }
    return true;
}

// ---- SDDL ----

struct Alias {
    const char* name;
    Sid value;
};
const Alias kSidAliases[] = {
    {"WD", kEveryone},         {"CO", kCreatorOwner}, {"OW", kOwnerRights},
    {"SY", sid(5, {18})},      {"AU", sid(5, {11})},  {"BA", sid(5, {32, 544})},
    {"BU", sid(5, {32, 545})},
};

struct Right {
    const char* name;
    uint32_t mask;
};
const Right kRights[] = {
    {"FA", FILE_ALL_ACCESS},      {"FR", FILE_GENERIC_READ}, {"FW", FILE_GENERIC_WRITE},
    {"FX", FILE_GENERIC_EXECUTE}, {"GA", GENERIC_ALL},       {"GR", GENERIC_READ},
    {"GW", GENERIC_WRITE},        {"GX", GENERIC_EXECUTE},
};

const Right kAceFlags[] = {{"OI", 0x01}, {"CI", 0x02}, {"NP", 0x04}, {"IO", 0x08}, {"ID", 0x10}};

bool parse_number(const std::string& text, uint64_t* value) {
    if (text.empty()) return false;
    char* end = nullptr;
    *value = std::strtoull(text.c_str(), &end, 0);
    return *end == '\0';
}

bool parse_sid(const std::string& text, Sid* out) {
    for (const Alias& alias : kSidAliases)
        if (text == alias.name) {
            *out = alias.value;
            return true;
        }
    if (text.rfind("S-1-", 0) != 0) return false;
    std::vector<std::string> parts;
    size_t start = 4;
    for (size_t dash; (dash = text.find('-', start)) != std::string::npos; start = dash + 1)
        parts.push_back(text.substr(start, dash - start));
    parts.push_back(text.substr(start));
    if (parts.size() < 2 || parts.size() > kMaxSubAuthorities + 1) return false;
    uint64_t value = 0;
    if (!parse_number(parts[0], &value) || value >= (1ull << 48)) return false;
    out->authority = value;
    out->sub.clear();
    for (size_t i = 1; i < parts.size(); ++i) {
        if (!parse_number(parts[i], &value) || value > 0xFFFFFFFFull) return false;
        out->sub.push_back(static_cast<uint32_t>(value));
    }
    return true;
}

// Two-letter codes from a table, one after another, or one number.
bool parse_codes(const std::string& text, const Right* table, size_t entries, bool numbers,
                 uint32_t* out) {
    *out = 0;
    uint64_t value = 0;
    if (numbers && !text.empty() && text[0] >= '0' && text[0] <= '9') {
        if (!parse_number(text, &value) || value > 0xFFFFFFFFull) return false;
        *out = static_cast<uint32_t>(value);
        return true;
    }
    if (text.size() % 2 != 0) return false;
    for (size_t i = 0; i < text.size(); i += 2) {
        const std::string code = text.substr(i, 2);
        bool known = false;
        for (size_t k = 0; k < entries; ++k)
            if (code == table[k].name) {
                *out |= table[k].mask;
                known = true;
            }
        if (!known) return false;
    }
    return true;
}

// "type;flags;rights;object guid;inherited object guid;sid"
bool parse_ace(const std::string& text, Ace* out) {
    std::vector<std::string> fields;
    size_t start = 0;
    for (size_t semicolon; (semicolon = text.find(';', start)) != std::string::npos;
         start = semicolon + 1)
        fields.push_back(text.substr(start, semicolon - start));
    fields.push_back(text.substr(start));
    if (fields.size() != 6 || !fields[3].empty() || !fields[4].empty()) return false;
    if (fields[0] == "A")
        out->type = kAccessAllowed;
    else if (fields[0] == "D")
        out->type = kAccessDenied;
    else
        return false;
    uint32_t flags = 0;
    if (!parse_codes(fields[1], kAceFlags, std::size(kAceFlags), false, &flags)) return false;
    out->flags = static_cast<uint8_t>(flags);
    return parse_codes(fields[2], kRights, std::size(kRights), true, &out->mask) &&
           parse_sid(fields[5], &out->who);
}

// Components "O:", "G:" and "D:", each running to the next component's tag.
bool parse_sddl(const std::string& text, Descriptor* d) {
    size_t at = 0;
    while (at < text.size()) {
        if (at + 2 > text.size() || text[at + 1] != ':') return false;
        const char tag = text[at];
        at += 2;
        size_t end = at;
        int depth = 0;
        while (end < text.size()) {
            const char c = text[end];
            if (c == '(') ++depth;
            if (c == ')') --depth;
            if (depth == 0 && end + 1 < text.size() && text[end + 1] == ':' &&
                (c == 'O' || c == 'G' || c == 'D' || c == 'S'))
                break;
            ++end;
        }
        const std::string body = text.substr(at, end - at);
        at = end;
        if (tag == 'O') {
            if (!parse_sid(body, &d->owner)) return false;
            d->has_owner = true;
        } else if (tag == 'G') {
            if (!parse_sid(body, &d->group)) return false;
            d->has_group = true;
        } else if (tag == 'D') {
            d->has_dacl = true;
            size_t i = 0;
            for (; i < body.size() && body[i] != '('; ++i) {
                if (body.compare(i, 2, "AI") == 0) {
                    d->control |= kDaclAutoInherited;
                    ++i;
                } else if (body.compare(i, 2, "AR") == 0) {
                    d->control |= kDaclAutoInheritRequired;
                    ++i;
                } else if (body[i] == 'P') {
                    d->control |= kDaclProtected;
                } else {
                    return false;
                }
            }
            while (i < body.size()) {
                const size_t close = body.find(')', i);
                if (body[i] != '(' || close == std::string::npos) return false;
                Ace ace{};
                if (!parse_ace(body.substr(i + 1, close - i - 1), &ace)) return false;
                d->dacl.push_back(ace);
                i = close + 1;
            }
        } else {
            TRACE("advapi32", "SDDL component %c: is not provided", tag);
            return false;
        }
    }
    return true;
}

// ---- Host permissions ----

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

Descriptor host_descriptor(const unix_file::Status& status, SECURITY_INFORMATION requested) {
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

// A LocalAlloc copy of bytes.
void* local_copy(const void* bytes, size_t size) {
    void* block = LocalAlloc(LMEM_FIXED, size);
    if (block) std::memcpy(block, bytes, size);
    return block;
}

class Token : public Object {};

BOOL fail(DWORD error) {
    SetLastError(error);
    return FALSE;
}

}  // namespace

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
            TRACE("advapi32", "an ACE for %s cannot be kept", sid_string(ace.who).c_str());
        }
    }
    *permissions = 0;
    for (int c = 0; c < 3; ++c)
        *permissions |= static_cast<int>((allowed[c] & ~denied[c]) << (6 - 3 * c));
    return true;
}

}  // namespace platform

using namespace platform;

extern "C" BOOL WINAPI OpenProcessToken(HANDLE process, DWORD access, PHANDLE token) {
    TRACE("advapi32", "OpenProcessToken(%p, %#x, %p)", process, access, static_cast<void*>(token));
    if (!token) return fail(ERROR_INVALID_PARAMETER);
    if (process != GetCurrentProcess()) return fail(ERROR_INVALID_HANDLE);
    *token = handle_insert(std::make_shared<Token>());
    return TRUE;
}

extern "C" BOOL WINAPI GetTokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS information_class,
                                           LPVOID information, DWORD length, PDWORD returned) {
    TRACE("advapi32", "GetTokenInformation(%p, %d, %p, %u, %p)", token,
          static_cast<int>(information_class), information, length, static_cast<void*>(returned));
    if (!handle_get<Token>(token)) return FALSE;
    if (!returned) return fail(ERROR_INVALID_PARAMETER);
    if (information_class != TokenUser) {
        TRACE("advapi32", "token information class %d is not provided",
              static_cast<int>(information_class));
        return fail(ERROR_INVALID_PARAMETER);
    }
    const Bytes user = encode_sid(host_user(unix_process::user_id()));
    const DWORD needed = static_cast<DWORD>(sizeof(TOKEN_USER) + user.size());
    *returned = needed;
    if (!information || length < needed) return fail(ERROR_INSUFFICIENT_BUFFER);
    auto* out = static_cast<uint8_t*>(information);
    std::memcpy(out + sizeof(TOKEN_USER), user.data(), user.size());
    TOKEN_USER header = {{out + sizeof(TOKEN_USER), 0}};
    std::memcpy(out, &header, sizeof header);
    return TRUE;
}

extern "C" BOOL WINAPI ConvertSidToStringSidA(PSID sid, LPSTR* string) {
    TRACE("advapi32", "ConvertSidToStringSidA(%p, %p)", sid, static_cast<void*>(string));
    Sid value;
    size_t size = 0;
    if (!sid || !string) return fail(ERROR_INVALID_PARAMETER);
    if (!decode_sid(static_cast<const uint8_t*>(sid), 8 + 4 * kMaxSubAuthorities, &value, &size))
        return fail(ERROR_INVALID_SID);
    const std::string text = sid_string(value);
    *string = static_cast<LPSTR>(local_copy(text.c_str(), text.size() + 1));
    return *string ? TRUE : FALSE;
}

extern "C" BOOL WINAPI ConvertStringSecurityDescriptorToSecurityDescriptorA(
    LPCSTR string, DWORD revision, PSECURITY_DESCRIPTOR* descriptor, PULONG size) {
    TRACE("advapi32", "ConvertStringSecurityDescriptorToSecurityDescriptorA(\"%s\", %u)",
          string ? string : "(null)", revision);
    if (!string || !descriptor) return fail(ERROR_INVALID_PARAMETER);
    if (revision != SDDL_REVISION_1) return fail(ERROR_UNKNOWN_REVISION);
    Descriptor d;
    if (!parse_sddl(string, &d)) return fail(ERROR_INVALID_PARAMETER);
    const Bytes bytes = encode(d);
    *descriptor = local_copy(bytes.data(), bytes.size());
    if (!*descriptor) return FALSE;
    if (size) *size = static_cast<ULONG>(bytes.size());
    return TRUE;
}

extern "C" BOOL WINAPI GetFileSecurityA(LPCSTR name, SECURITY_INFORMATION requested,
                                        PSECURITY_DESCRIPTOR descriptor, DWORD length,
                                        LPDWORD needed) {
    TRACE("advapi32", "GetFileSecurityA(\"%s\", %#x, %p, %u, %p)", name ? name : "(null)",
          requested, descriptor, length, static_cast<void*>(needed));
    if (!needed) return fail(ERROR_INVALID_PARAMETER);
    if (requested & SACL_SECURITY_INFORMATION) return fail(ERROR_PRIVILEGE_NOT_HELD);
    NtName nt;
    if (!win32_name_to_nt(name, &nt)) return FALSE;
    UnixName host;
    uint32_t status = nt_name_to_unix(nt.path, &host);
    if (status == kStatusSuccess && !host.exists) status = kStatusObjectNameNotFound;
    unix_file::Status file;
    if (status == kStatusSuccess) status = unix_file::status(host.path, &file);
    if (status != kStatusSuccess) return fail(nt_status_to_error(status));
    const Bytes bytes = encode(host_descriptor(file, requested));
    *needed = static_cast<DWORD>(bytes.size());
    if (!descriptor || length < bytes.size()) return fail(ERROR_INSUFFICIENT_BUFFER);
    std::memcpy(descriptor, bytes.data(), bytes.size());
    return TRUE;
}
