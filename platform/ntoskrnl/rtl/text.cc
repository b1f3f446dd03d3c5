#include "platform/ntoskrnl/rtl/text.h"

namespace ntoskrnl {

namespace {

// The number of continuation bytes after a lead byte, or -1 for a byte that cannot lead.
int continuation_bytes(unsigned char lead) {
    if (lead < 0x80) return 0;
    if ((lead & 0xE0) == 0xC0) return 1;
    if ((lead & 0xF0) == 0xE0) return 2;
    if ((lead & 0xF8) == 0xF0) return 3;
    return -1;
}

}  // namespace

std::u16string utf8_to_utf16(std::string_view text) {
    constexpr char32_t kSmallest[] = {0, 0x80, 0x800, 0x10000};
    std::u16string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        const int extra = continuation_bytes(lead);
        bool valid = extra >= 0 && i + extra < text.size();
        char32_t code = valid ? lead & (0x7F >> extra) : 0;
        for (int k = 1; valid && k <= extra; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            valid = (next & 0xC0) == 0x80;
            code = code << 6 | (next & 0x3F);
        }
        valid = valid && code >= kSmallest[extra] && code <= 0x10FFFF &&
                (code < 0xD800 || code > 0xDFFF);
        if (!valid) {
            out += u'\xFFFD';
            ++i;
            continue;
        }
        if (code >= 0x10000) {
            code -= 0x10000;
            out += static_cast<char16_t>(0xD800 + (code >> 10));
            out += static_cast<char16_t>(0xDC00 + (code & 0x3FF));
        } else {
            out += static_cast<char16_t>(code);
        }
        i += extra + 1;
    }
    return out;
}

std::string utf16_to_utf8(std::u16string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        char32_t code = text[i];
        if (code >= 0xD800 && code <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            code = 0x10000 + ((code - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (code >= 0xD800 && code <= 0xDFFF) {
            code = 0xFFFD;
        }
        if (code < 0x80) {
            out += static_cast<char>(code);
        } else if (code < 0x800) {
            out += static_cast<char>(0xC0 | code >> 6);
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else if (code < 0x10000) {
            out += static_cast<char>(0xE0 | code >> 12);
            out += static_cast<char>(0x80 | (code >> 6 & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | code >> 18);
            out += static_cast<char>(0x80 | (code >> 12 & 0x3F));
            out += static_cast<char>(0x80 | (code >> 6 & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        }
    }
    return out;
}

std::u16string_view view_of(const UNICODE_STRING* string) {
    if (!string || !string->Buffer) return {};
    return {string->Buffer, string->Length / sizeof(WCHAR)};
}

UNICODE_STRING counted(std::u16string& text) {
    const auto length = static_cast<USHORT>(text.size() * sizeof(WCHAR));
    return {length, length, text.data()};
}

char16_t upcase(char16_t c) {
    if (c >= u'a' && c <= u'z') return static_cast<char16_t>(c - 0x20);
    if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return static_cast<char16_t>(c - 0x20);
    return c;
}

std::u16string upcase(std::u16string_view text) {
    std::u16string out(text);
    for (char16_t& c : out) c = upcase(c);
    return out;
}

}  // namespace ntoskrnl
