// The subset of SDDL that device objects take: "D:P" (a protected discretionary list) followed by
// allow entries "(A;;rights;;;sid)", rights one or more of GA, GR, GW and GX, sid one of SY, BA,
// BU, WD, AU and RC. Freestanding, for the kernel of both builds.
#pragma once

#include "platform/wdm.h"

namespace wdmlib {

enum class WellKnownSid : unsigned char {
    LocalSystem,         // SY
    Administrators,      // BA
    Users,               // BU
    World,               // WD
    AuthenticatedUsers,  // AU
    Restricted,          // RC
};

struct SddlAce {
    ACCESS_MASK rights;  // generic rights
    WellKnownSid sid;
};

inline constexpr int kMaxSddlAces = 8;

struct DeviceSddl {
    int count = 0;
    SddlAce aces[kMaxSddlAces] = {};
};

namespace sddl_detail {

constexpr bool pair_is(const WCHAR* p, char a, char b) {
    return p[0] == static_cast<WCHAR>(a) && p[1] == static_cast<WCHAR>(b);
}

constexpr bool parse_sid(const WCHAR* p, WellKnownSid* sid) {
    struct Code {
        char a, b;
        WellKnownSid sid;
    };
    constexpr Code codes[] = {{'S', 'Y', WellKnownSid::LocalSystem},
                              {'B', 'A', WellKnownSid::Administrators},
                              {'B', 'U', WellKnownSid::Users},
                              {'W', 'D', WellKnownSid::World},
                              {'A', 'U', WellKnownSid::AuthenticatedUsers},
                              {'R', 'C', WellKnownSid::Restricted}};
    for (const Code& code : codes) {
        if (pair_is(p, code.a, code.b)) {
            *sid = code.sid;
            return true;
        }
    }
    return false;
}

constexpr ACCESS_MASK right(const WCHAR* p) {
    if (pair_is(p, 'G', 'A')) return GENERIC_ALL;
    if (pair_is(p, 'G', 'R')) return GENERIC_READ;
    if (pair_is(p, 'G', 'W')) return GENERIC_WRITE;
    if (pair_is(p, 'G', 'X')) return GENERIC_EXECUTE;
    return 0;
}

}  // namespace sddl_detail

// True when the length WCHARs at text are a device SDDL string; its entries go to *sddl.
constexpr bool parse_device_sddl(const WCHAR* text, size_t length, DeviceSddl* sddl) {
    using namespace sddl_detail;
    *sddl = DeviceSddl{};
    if (length < 3 || !pair_is(text, 'D', ':') || text[2] != static_cast<WCHAR>('P')) return false;
    size_t i = 3;
    while (i < length) {
        // "(A;;" rights ";;;" sid ")"
        if (sddl->count == kMaxSddlAces || length - i < 10 || text[i] != '(' ||
            !pair_is(text + i + 1, 'A', ';') || text[i + 3] != ';')
            return false;
        i += 4;
        ACCESS_MASK rights = 0;
        while (i + 1 < length && text[i] != ';') {
            ACCESS_MASK one = right(text + i);
            if (one == 0) return false;
            rights |= one;
            i += 2;
        }
        if (rights == 0 || length - i < 6 || !pair_is(text + i, ';', ';') || text[i + 2] != ';')
            return false;
        i += 3;
        SddlAce& ace = sddl->aces[sddl->count];
        if (!parse_sid(text + i, &ace.sid) || text[i + 2] != ')') return false;
        ace.rights = rights;
        ++sddl->count;
        i += 3;
    }
    return sddl->count > 0;
}

}  // namespace wdmlib
