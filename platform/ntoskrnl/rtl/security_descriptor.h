// Security descriptors in Windows' self-relative binary form and the SIDs and ACLs in them, built
// and read field by field: the system's run-time library, which advapi32 and the kernel share.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace ntoskrnl::security {

// Self-relative security descriptor: revision, Sbz1, control (u16), then the offsets of owner,
// group, SACL and DACL (u32 each), all little-endian.
constexpr size_t kDescriptorControlOffset = 2;
constexpr size_t kDescriptorOwnerOffset = 4;
constexpr size_t kDescriptorGroupOffset = 8;
constexpr size_t kDescriptorDaclOffset = 16;
constexpr size_t kDescriptorHeaderSize = 20;
static_assert(kDescriptorDaclOffset + 4 == kDescriptorHeaderSize);
constexpr uint8_t kDescriptorRevision = 1;
constexpr uint16_t kDaclPresent = 0x0004;
constexpr uint16_t kDaclAutoInheritRequired = 0x0100;
constexpr uint16_t kDaclAutoInherited = 0x0400;
constexpr uint16_t kDaclProtected = 0x1000;
constexpr uint16_t kSelfRelative = 0x8000;
// ACL: revision, Sbz1, size (u16), ACE count (u16), Sbz2 (u16). ACE: type, flags, size (u16),
// access mask (u32), SID.
constexpr size_t kAclSizeOffset = 2;
constexpr size_t kAclCountOffset = 4;
constexpr size_t kAclHeaderSize = 8;
static_assert(kAclCountOffset + 4 == kAclHeaderSize);
constexpr uint8_t kAclRevision = 2;
constexpr uint8_t kAclRevisionDs = 4;  // object ACEs allowed
constexpr size_t kAceTypeOffset = 0;
constexpr size_t kAceFlagsOffset = 1;
constexpr size_t kAceSizeOffset = 2;
constexpr size_t kAceMaskOffset = 4;
constexpr size_t kAceHeaderSize = 8;
static_assert(kAceMaskOffset + 4 == kAceHeaderSize);
constexpr uint8_t kAccessAllowed = 0;
constexpr uint8_t kAccessDenied = 1;
// SID: revision, sub-authority count, 6-byte authority (big-endian), sub-authorities (u32).
constexpr size_t kSidCountOffset = 1;
constexpr size_t kSidAuthorityOffset = 2;
constexpr size_t kSidAuthoritySize = 6;
constexpr size_t kSidHeaderSize = 8;
static_assert(kSidAuthorityOffset + kSidAuthoritySize == kSidHeaderSize);
constexpr uint8_t kSidRevision = 1;
constexpr size_t kMaxSubAuthorities = 15;
constexpr size_t kMaxSidSize = kSidHeaderSize + 4 * kMaxSubAuthorities;

using Bytes = std::vector<uint8_t>;

struct Sid {
    uint64_t authority = 0;
    std::vector<uint32_t> sub;
    bool operator==(const Sid&) const = default;
};

inline Sid sid(uint64_t authority, std::vector<uint32_t> sub) {
    return Sid{authority, std::move(sub)};
}
inline const Sid kEveryone = sid(1, {0});
inline const Sid kCreatorOwner = sid(3, {0});
inline const Sid kOwnerRights = sid(3, {4});

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

Bytes encode_sid(const Sid& s);
// The SID at p within available bytes; false when there is none.
bool decode_sid(const uint8_t* p, size_t available, Sid* out, size_t* size);
// "S-1-5-32-544".
std::string sid_string(const Sid& s);

// The allow and deny entries of the ACL at p, within available bytes (other entries are
// skipped); false when it is not an ACL.
bool decode_acl(const uint8_t* p, size_t available, std::vector<Ace>* aces);

Bytes encode(const Descriptor& d);
// The descriptor in the form of SDDL, rights as numbers, SIDs in full and ACE flags as numbers
// ("O:S-1-5-18D:P(A;;0x1f01ff;;;S-1-5-32-544)"; a DACL present but null is
// "D:NO_ACCESS_CONTROL"): what traces and the simulation's test controls show.
std::string sddl_text(const Descriptor& d);

// A self-relative descriptor's owner, group and DACL. Its size is not known to the caller of
// CreateFileA, so the offsets are trusted within the 64 KiB an ACL can span.
bool decode(const uint8_t* p, Descriptor* d);

}  // namespace ntoskrnl::security
