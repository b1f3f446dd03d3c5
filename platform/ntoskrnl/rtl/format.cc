#include "platform/ntoskrnl/rtl/format.h"

#include <cstdio>
#include <cstring>

#include "platform/ntoskrnl/not_implemented.h"
#include "platform/ntoskrnl/rtl/text.h"

namespace ntoskrnl {
namespace {

enum class Size { kDefault, kChar, kShort, kLong, kLongLong, kPointer };

struct Conversion {
    std::string flags;
    int width = -1;
    int precision = -1;
    Size size = Size::kDefault;
    bool wide = false;    // 'l' or 'w' before c, s, Z
    bool narrow = false;  // 'h' before c, s
};

std::string pad(std::string text, const Conversion& conv) {
    if (conv.width > 0 && text.size() < static_cast<size_t>(conv.width)) {
        const std::string fill(conv.width - text.size(), ' ');
        text = conv.flags.find('-') != std::string::npos ? text + fill : fill + text;
    }
    return text;
}

// A run of narrow or wide text, cut to the precision (in characters of its own width).
std::string text_of(const void* text, bool wide, int precision) {
    if (!text) return "(null)";
    if (wide) {
        auto* w = static_cast<const char16_t*>(text);
        size_t n = 0;
        while ((precision < 0 || n < static_cast<size_t>(precision)) && w[n]) ++n;
        return utf16_to_utf8({w, n});
    }
    auto* c = static_cast<const char*>(text);
    const size_t n = precision < 0 ? std::strlen(c) : strnlen(c, precision);
    return {c, n};
}

// One conversion as the host's printf makes it: conv's flags, width and precision, then spec
// (length modifier and type).
template <class Value>
std::string host_printf(const Conversion& conv, const char* spec, Value value) {
    std::string host = "%" + conv.flags;
    if (conv.width >= 0) host += std::to_string(conv.width);
    if (conv.precision >= 0) host += "." + std::to_string(conv.precision);
    host += spec;
    const int n = std::snprintf(nullptr, 0, host.c_str(), value);
    std::string out(n, '\0');
    std::snprintf(out.data(), n + 1, host.c_str(), value);
    return out;
}

std::string integer(const Conversion& conv, char type, va_list* arguments) {
    const bool is_signed = type == 'd' || type == 'i';
    unsigned long long value;
    switch (conv.size) {
        case Size::kLongLong:
        case Size::kPointer:
            value = va_arg(*arguments, unsigned long long);
            break;
        default:
            value = va_arg(*arguments, unsigned int);
    }
    long long signed_value = 0;
    switch (conv.size) {
        case Size::kChar:
            value &= 0xFF;
            signed_value = static_cast<signed char>(value);
            break;
        case Size::kShort:
            value &= 0xFFFF;
            signed_value = static_cast<short>(value);
            break;
        case Size::kLongLong:
        case Size::kPointer:
            signed_value = static_cast<long long>(value);
            break;
        default:
            signed_value = static_cast<int>(value);
    }
    const char spec[] = {'l', 'l', type == 'i' ? 'd' : type, '\0'};
    return is_signed ? host_printf(conv, spec, signed_value) : host_printf(conv, spec, value);
}

std::string floating(const Conversion& conv, char type, va_list* arguments) {
    const char spec[] = {type, '\0'};
    return host_printf(conv, spec, va_arg(*arguments, double));
}

// A number of the format ("12"), or '*' taking it from the arguments; p moves past it.
int count_of(const char*& p, va_list* arguments) {
    if (*p == '*') {
        ++p;
        return va_arg(*arguments, int);
    }
    int n = 0;
    for (; *p >= '0' && *p <= '9'; ++p) n = n * 10 + (*p - '0');
    return n;
}

// The flags, width, precision and length modifier of the conversion at p (past its '%'); p moves
// to its type character.
Conversion parse_conversion(const char*& p, va_list* arguments) {
    Conversion conv;
    while (*p && std::strchr("-+ #0", *p)) conv.flags += *p++;
    if (*p == '*' || (*p >= '0' && *p <= '9')) {
        conv.width = count_of(p, arguments);
        if (conv.width < 0) {
            conv.flags += '-';
            conv.width = -conv.width;
        }
    }
    if (*p == '.') conv.precision = count_of(++p, arguments);
    if (p[0] == 'h' && p[1] == 'h') {
        conv.size = Size::kChar;
        p += 2;
    } else if (*p == 'h') {
        conv.size = Size::kShort;
        conv.narrow = true;
        ++p;
    } else if (p[0] == 'l' && p[1] == 'l') {
        conv.size = Size::kLongLong;
        p += 2;
    } else if (*p == 'l' || *p == 'w') {
        conv.size = Size::kLong;
        conv.wide = true;
        ++p;
    } else if (p[0] == 'I' && p[1] == '6' && p[2] == '4') {
        conv.size = Size::kLongLong;
        p += 3;
    } else if (p[0] == 'I' && p[1] == '3' && p[2] == '2') {
        conv.size = Size::kLong;
        p += 3;
    } else if (*p == 'I' || *p == 'z' || *p == 'j' || *p == 't') {
        conv.size = Size::kPointer;
        ++p;
    }
    return conv;
}

// %c and %C: one character, wide or narrow as conv and the format's width say.
std::string character(const Conversion& conv, char type, bool wide_format, va_list* arguments) {
    const bool wide = conv.wide || (!conv.narrow && ((type == 'C') != wide_format));
    const auto code = static_cast<char16_t>(va_arg(*arguments, int));
    return pad(wide ? utf16_to_utf8({&code, 1}) : std::string(1, static_cast<char>(code)), conv);
}

// %s and %S: text, wide or narrow as conv and the format's width say.
std::string text(const Conversion& conv, char type, bool wide_format, va_list* arguments) {
    const bool wide = conv.wide || (!conv.narrow && ((type == 'S') != wide_format));
    return pad(text_of(va_arg(*arguments, const void*), wide, conv.precision), conv);
}

// %wZ and %Z: a counted string, UNICODE_STRING or ANSI_STRING.
std::string counted_string(const Conversion& conv, va_list* arguments) {
    std::string text = "(null)";
    if (conv.wide) {
        if (auto* s = va_arg(*arguments, const UNICODE_STRING*); s && s->Buffer)
            text = utf16_to_utf8(view_of(s));
    } else if (auto* s = va_arg(*arguments, const ANSI_STRING*); s && s->Buffer) {
        text.assign(s->Buffer, s->Length);
    }
    return pad(std::move(text), conv);
}

std::string pointer(const Conversion& conv, va_list* arguments) {
    char buffer[24];
    std::snprintf(
        buffer, sizeof buffer, "%016llX",
        static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(va_arg(*arguments, void*))));
    return pad(buffer, conv);
}

// One conversion of type with its argument.
std::string convert(const Conversion& conv, char type, bool wide_format, va_list* arguments) {
    switch (type) {
        case 'd':
        case 'i':
        case 'u':
        case 'x':
        case 'X':
        case 'o':
            return integer(conv, type, arguments);
        case 'c':
        case 'C':
            return character(conv, type, wide_format, arguments);
        case 's':
        case 'S':
            return text(conv, type, wide_format, arguments);
        case 'Z':
            return counted_string(conv, arguments);
        case 'p':
            return pointer(conv, arguments);
        case 'e':
        case 'E':
        case 'f':
        case 'g':
        case 'G':
        case 'a':
        case 'A':
            return floating(conv, type, arguments);
        default:
            not_implemented("this printf conversion in the kernel's formatting");
    }
}

std::string format_into(const char* format, bool wide_format, va_list* arguments) {
    std::string out;
    for (const char* p = format; *p; ++p) {
        if (*p != '%') {
            out += *p;
            continue;
        }
        ++p;
        if (*p == '%') {
            out += '%';
            continue;
        }
        const Conversion conv = parse_conversion(p, arguments);
        if (*p == '\0') return out;  // the format ends inside a conversion
        out += convert(conv, *p, wide_format, arguments);
    }
    return out;
}

}  // namespace

std::string format_windows(const char* format, bool wide_format, va_list list) {
    va_list copy;
    va_copy(copy, list);
    va_list* arguments = &copy;
    std::string out = format_into(format, wide_format, arguments);
    va_end(copy);
    return out;
}

}  // namespace ntoskrnl
