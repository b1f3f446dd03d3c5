// Text conversions of the kernel. Narrow ("ANSI") text is UTF-8 on this platform, the same bytes
// the host's file names hold; kernel strings are UTF-16.
#pragma once

#include <string>
#include <string_view>

#include "platform/wdm.h"

namespace ntoskrnl {

// Invalid UTF-8 bytes become U+FFFD; unpaired surrogates likewise going back.
std::u16string utf8_to_utf16(std::string_view text);
std::string utf16_to_utf8(std::u16string_view text);

// A counted string's text (empty for a null string or buffer).
std::u16string_view view_of(const UNICODE_STRING* string);
// A counted string over text's characters, valid while text is unchanged.
UNICODE_STRING counted(std::u16string& text);

// Upper case as names compare: ASCII and Latin-1 letters.
char16_t upcase(char16_t c);
std::u16string upcase(std::u16string_view text);

}  // namespace ntoskrnl
