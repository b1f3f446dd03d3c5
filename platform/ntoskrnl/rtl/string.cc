// Counted strings and the safe string functions.
#include <cstdarg>
#include <cstring>
#include <string>

#include "platform/ntoskrnl/ex/pool.h"
#include "platform/ntoskrnl/rtl/format.h"
#include "platform/ntoskrnl/rtl/text.h"

namespace {

constexpr USHORT kMaxCountedBytes = 0xFFFE;

size_t wide_length(PCWSTR text) {
    size_t n = 0;
    while (text[n]) ++n;
    return n;
}

// Copies text (with a terminator) into a buffer of capacity characters: the whole text, or as
// much as fits and STATUS_BUFFER_OVERFLOW.
template <class Char>
NTSTATUS copy_out(const std::basic_string<Char>& text, Char* destination, size_t capacity) {
    const size_t n = text.size() < capacity ? text.size() : capacity - 1;
    std::memcpy(destination, text.data(), n * sizeof(Char));
    destination[n] = 0;
    return n == text.size() ? STATUS_SUCCESS : STATUS_BUFFER_OVERFLOW;
}

}  // namespace

using namespace ntoskrnl;

extern "C" VOID NTAPI RtlInitUnicodeString(PUNICODE_STRING DestinationString, PCWSTR SourceString) {
    const size_t bytes = SourceString ? wide_length(SourceString) * sizeof(WCHAR) : 0;
    const USHORT length =
        static_cast<USHORT>(bytes < kMaxCountedBytes ? bytes : kMaxCountedBytes - 1);
    DestinationString->Length = length;
    DestinationString->MaximumLength =
        SourceString ? static_cast<USHORT>(length + sizeof(WCHAR)) : 0;
    DestinationString->Buffer = const_cast<PWSTR>(SourceString);
}

extern "C" VOID NTAPI RtlInitAnsiString(PANSI_STRING DestinationString, PCSZ SourceString) {
    const size_t bytes = SourceString ? std::strlen(SourceString) : 0;
    const USHORT length = static_cast<USHORT>(bytes < kMaxCountedBytes ? bytes : kMaxCountedBytes);
    DestinationString->Length = length;
    DestinationString->MaximumLength = SourceString ? static_cast<USHORT>(length + 1) : 0;
    DestinationString->Buffer = const_cast<PCHAR>(SourceString);
}

extern "C" NTSTATUS NTAPI RtlAnsiStringToUnicodeString(PUNICODE_STRING DestinationString,
                                                       PCANSI_STRING SourceString,
                                                       BOOLEAN AllocateDestinationString) {
    const std::u16string text =
        utf8_to_utf16({SourceString->Buffer, SourceString->Buffer ? SourceString->Length : 0u});
    const size_t bytes = (text.size() + 1) * sizeof(WCHAR);  // with the terminator
    if (bytes > 0xFFFF) return STATUS_INVALID_PARAMETER;
    if (AllocateDestinationString) {
        auto* buffer = static_cast<PWSTR>(pool_allocate(PagedPool, bytes, kStringPoolTag));
        if (!buffer) return STATUS_NO_MEMORY;
        DestinationString->Buffer = buffer;
        DestinationString->MaximumLength = static_cast<USHORT>(bytes);
    } else if (bytes > DestinationString->MaximumLength) {
        return STATUS_BUFFER_OVERFLOW;
    }
    std::memcpy(DestinationString->Buffer, text.c_str(), bytes);
    DestinationString->Length = static_cast<USHORT>(bytes - sizeof(WCHAR));
    return STATUS_SUCCESS;
}

extern "C" VOID NTAPI RtlFreeUnicodeString(PUNICODE_STRING UnicodeString) {
    if (UnicodeString->Buffer)
        pool_free(UnicodeString->Buffer, &kStringPoolTag, "RtlFreeUnicodeString");
    UnicodeString->Buffer = nullptr;
    UnicodeString->Length = UnicodeString->MaximumLength = 0;
}

extern "C" NTSTATUS RtlStringCbPrintfA(PSTR pszDest, size_t cbDest, PCSTR pszFormat, ...) {
    if (cbDest == 0 || cbDest > NTSTRSAFE_MAX_CCH) return STATUS_INVALID_PARAMETER;
    va_list arguments;
    va_start(arguments, pszFormat);
    const std::string text = format_windows(pszFormat, false, arguments);
    va_end(arguments);
    return copy_out(text, pszDest, cbDest);
}

extern "C" NTSTATUS RtlStringCbPrintfW(PWSTR pszDest, size_t cbDest, PCWSTR pszFormat, ...) {
    const size_t capacity = cbDest / sizeof(WCHAR);
    if (capacity == 0 || capacity > NTSTRSAFE_MAX_CCH) return STATUS_INVALID_PARAMETER;
    const std::string format = utf16_to_utf8({pszFormat, wide_length(pszFormat)});
    va_list arguments;
    va_start(arguments, pszFormat);
    const std::u16string text = utf8_to_utf16(format_windows(format.c_str(), true, arguments));
    va_end(arguments);
    return copy_out(text, pszDest, capacity);
}

extern "C" NTSTATUS NTAPI RtlStringCbLengthA(PCSTR psz, size_t cbMax, size_t* pcbLength) {
    if (!psz || cbMax > NTSTRSAFE_MAX_CCH) return STATUS_INVALID_PARAMETER;
    const size_t n = strnlen(psz, cbMax);
    if (n == cbMax) return STATUS_INVALID_PARAMETER;
    if (pcbLength) *pcbLength = n;
    return STATUS_SUCCESS;
}

extern "C" NTSTATUS NTAPI RtlStringCbLengthW(PCWSTR psz, size_t cbMax, size_t* pcbLength) {
    const size_t capacity = cbMax / sizeof(WCHAR);
    if (!psz || capacity > NTSTRSAFE_MAX_CCH) return STATUS_INVALID_PARAMETER;
    size_t n = 0;
    while (n < capacity && psz[n]) ++n;
    if (n == capacity) return STATUS_INVALID_PARAMETER;
    if (pcbLength) *pcbLength = n * sizeof(WCHAR);
    return STATUS_SUCCESS;
}
