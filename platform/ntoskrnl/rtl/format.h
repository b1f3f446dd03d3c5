// printf-style formatting with the Windows kernel's conventions (LLP64): %d, %i, %u, %x, %X, %o
// and %c take 32 bits, with 'l' too; "ll", "I64", 'I', 'z', 'j' and 't' 64; 'h' 16 and "hh" 8;
// %s narrow text and %ls, %ws, %S wide (swapped in a wide format: there %s is wide and %hs
// narrow); %wZ a PUNICODE_STRING and %Z a PANSI_STRING; %p 16 hex digits. Floating point as
// the C library prints it. The result is UTF-8.
#pragma once

#include <cstdarg>
#include <string>

namespace ntoskrnl {

std::string format_windows(const char* format, bool wide_format, va_list arguments);

}  // namespace ntoskrnl
