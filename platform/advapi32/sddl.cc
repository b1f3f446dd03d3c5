#include "platform/advapi32/sddl.h"

#include <cstdlib>
#include <iterator>

#include "platform/core/trace.h"
#include "platform/win32.h"

namespace platform::security {
namespace {

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

}  // namespace

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

}  // namespace platform::security
