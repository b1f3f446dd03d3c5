#include "platform/ntoskrnl/rtl/security_descriptor.h"

#include <cstdio>

#include "base/byte_access.h"

namespace ntoskrnl::security {

using bytes::load_le16;
using bytes::load_le32;
using bytes::store_le16;
using bytes::store_le32;

Bytes encode_sid(const Sid& s) {
    Bytes b(kSidHeaderSize + 4 * s.sub.size());
    b[0] = kSidRevision;
    b[kSidCountOffset] = static_cast<uint8_t>(s.sub.size());
    for (size_t i = 0; i < kSidAuthoritySize; ++i)
        b[kSidAuthorityOffset + i] =
            static_cast<uint8_t>(s.authority >> (8 * (kSidAuthoritySize - 1 - i)));
    for (size_t i = 0; i < s.sub.size(); ++i)
        store_le32(b.data() + kSidHeaderSize + 4 * i, s.sub[i]);
    return b;
}

bool decode_sid(const uint8_t* p, size_t available, Sid* out, size_t* size) {
    if (available < kSidHeaderSize || p[0] != kSidRevision) return false;
    const size_t count = p[kSidCountOffset];
    if (count > kMaxSubAuthorities) return false;
    *size = kSidHeaderSize + 4 * count;
    if (available < *size) return false;
    out->authority = 0;
    for (size_t i = 0; i < kSidAuthoritySize; ++i)
        out->authority = out->authority << 8 | p[kSidAuthorityOffset + i];
    out->sub.clear();
    for (size_t i = 0; i < count; ++i) out->sub.push_back(load_le32(p + kSidHeaderSize + 4 * i));
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

std::string sddl_text(const Descriptor& d) {
    std::string text;
    // Appended piece by piece: GCC 12 takes "literal" + std::string for an overlapping copy.
    if (d.has_owner) text.append("O:").append(sid_string(d.owner));
    if (d.has_group) text.append("G:").append(sid_string(d.group));
    if (!d.has_dacl && !(d.control & kDaclPresent)) return text;
    text += "D:";
    if (d.control & kDaclProtected) text += "P";
    if (d.control & kDaclAutoInheritRequired) text += "AR";
    if (d.control & kDaclAutoInherited) text += "AI";
    if (!d.has_dacl) return text + "NO_ACCESS_CONTROL";
    auto number = [](uint32_t value) {
        char digits[16];
        std::snprintf(digits, sizeof digits, "0x%x", value);
        return std::string(digits);
    };
    for (const Ace& ace : d.dacl) {
        text += ace.type == kAccessAllowed ? "(A;" : "(D;";
        if (ace.flags) text += number(ace.flags);
        text.append(";").append(number(ace.mask)).append(";;;").append(sid_string(ace.who));
        text += ")";
    }
    return text;
}

Bytes encode(const Descriptor& d) {
    Bytes b(kDescriptorHeaderSize, 0);
    b[0] = kDescriptorRevision;
    store_le16(b.data() + kDescriptorControlOffset,
               static_cast<uint16_t>(d.control | kSelfRelative | (d.has_dacl ? kDaclPresent : 0)));
    // Appends part and writes its offset into the header field at field.
    auto append = [&b](size_t field, const Bytes& part) {
        const size_t at = b.size();
        b.insert(b.end(), part.begin(), part.end());
        store_le32(b.data() + field, static_cast<uint32_t>(at));
    };
    if (d.has_owner) append(kDescriptorOwnerOffset, encode_sid(d.owner));
    if (d.has_group) append(kDescriptorGroupOffset, encode_sid(d.group));
    if (d.has_dacl) {
        Bytes acl(kAclHeaderSize, 0);
        acl[0] = kAclRevision;
        for (const Ace& ace : d.dacl) {
            const Bytes who = encode_sid(ace.who);
            Bytes entry(kAceHeaderSize, 0);
            entry[kAceTypeOffset] = ace.type;
            entry[kAceFlagsOffset] = ace.flags;
            store_le16(entry.data() + kAceSizeOffset,
                       static_cast<uint16_t>(kAceHeaderSize + who.size()));
            store_le32(entry.data() + kAceMaskOffset, ace.mask);
            entry.insert(entry.end(), who.begin(), who.end());
            acl.insert(acl.end(), entry.begin(), entry.end());
        }
        store_le16(acl.data() + kAclSizeOffset, static_cast<uint16_t>(acl.size()));
        store_le16(acl.data() + kAclCountOffset, static_cast<uint16_t>(d.dacl.size()));
        append(kDescriptorDaclOffset, acl);
    }
    return b;
}

bool decode(const uint8_t* p, Descriptor* d) {
    if (p[0] != kDescriptorRevision) return false;
    d->control = load_le16(p + kDescriptorControlOffset);
    if (!(d->control & kSelfRelative)) return false;
    constexpr size_t kReach = 0x10000;
    size_t size = 0;
    if (uint32_t at = load_le32(p + kDescriptorOwnerOffset); at != 0)
        d->has_owner = decode_sid(p + at, kReach, &d->owner, &size);
    if (uint32_t at = load_le32(p + kDescriptorGroupOffset); at != 0)
        d->has_group = decode_sid(p + at, kReach, &d->group, &size);
    const uint32_t dacl_at = load_le32(p + kDescriptorDaclOffset);
    if (!(d->control & kDaclPresent) || dacl_at == 0) return true;
    d->has_dacl = true;
    return decode_acl(p + dacl_at, kReach, &d->dacl);
}

bool decode_acl(const uint8_t* p, size_t available, std::vector<Ace>* aces) {
    if (available < kAclHeaderSize || (p[0] != kAclRevision && p[0] != kAclRevisionDs))
        return false;
    const size_t acl_size = load_le16(p + kAclSizeOffset);
    const uint16_t count = load_le16(p + kAclCountOffset);
    if (acl_size < kAclHeaderSize || acl_size > available) return false;
    aces->clear();
    size_t offset = kAclHeaderSize;
    for (uint16_t i = 0; i < count; ++i) {
        if (offset + kAceHeaderSize > acl_size) return false;
        const uint8_t* ace = p + offset;
        const size_t ace_size = load_le16(ace + kAceSizeOffset);
        if (ace_size < kAceHeaderSize || offset + ace_size > acl_size) return false;
        Ace entry{ace[kAceTypeOffset], ace[kAceFlagsOffset], load_le32(ace + kAceMaskOffset), {}};
        if (entry.type == kAccessAllowed || entry.type == kAccessDenied) {
            size_t size = 0;
            if (!decode_sid(ace + kAceHeaderSize, ace_size - kAceHeaderSize, &entry.who, &size))
                return false;
            aces->push_back(entry);
        }
        offset += ace_size;
    }
    return true;
}

}  // namespace ntoskrnl::security
