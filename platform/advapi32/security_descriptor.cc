#include "platform/advapi32/security_descriptor.h"

#include <cstdio>

#include "crypto/byte_access.h"

namespace platform::security {

using bytes::load_le16;
using bytes::load_le32;
using bytes::store_le16;
using bytes::store_le32;

Bytes encode_sid(const Sid& s) {
    Bytes b(8 + 4 * s.sub.size());
    b[0] = kSidRevision;
    b[1] = static_cast<uint8_t>(s.sub.size());
    for (int i = 0; i < 6; ++i) b[2 + i] = static_cast<uint8_t>(s.authority >> (8 * (5 - i)));
    for (size_t i = 0; i < s.sub.size(); ++i) store_le32(b.data() + 8 + 4 * i, s.sub[i]);
    return b;
}

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

}  // namespace platform::security
