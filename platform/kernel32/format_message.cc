// FormatMessageA for the system's messages: the text of an error code, into the caller's buffer
// or a LocalAlloc block. Messages of a module, of a string or with inserts filled in are not
// provided.
#include <algorithm>
#include <cstring>

#include "platform/core/trace.h"
#include "platform/kernel32/system_messages.h"
#include "platform/win32.h"

using namespace platform;

namespace {

DWORD fail(DWORD error) {
    SetLastError(error);
    return 0;
}

// The system's texts are in English: the neutral and English languages find them.
bool english(DWORD language) {
    const DWORD primary = language & 0x3FF;
    return primary == LANG_NEUTRAL || primary == LANG_ENGLISH;
}

}  // namespace

extern "C" DWORD WINAPI FormatMessageA(DWORD flags, LPCVOID source, DWORD message_id,
                                       DWORD language_id, LPSTR buffer, DWORD size,
                                       va_list* arguments) {
    TRACE("kernel32", "FormatMessageA(%#x, %p, %u, %#x, %p, %u, %p)", flags, source, message_id,
          language_id, static_cast<void*>(buffer), size, static_cast<void*>(arguments));
    constexpr DWORD kNotProvided = FORMAT_MESSAGE_FROM_STRING | FORMAT_MESSAGE_FROM_HMODULE |
                                   FORMAT_MESSAGE_ARGUMENT_ARRAY | FORMAT_MESSAGE_MAX_WIDTH_MASK;
    if (!(flags & FORMAT_MESSAGE_FROM_SYSTEM) || (flags & kNotProvided)) {
        TRACE("kernel32", "only the system's messages, as they stand, are provided");
        return fail(ERROR_CALL_NOT_IMPLEMENTED);
    }
    if (!english(language_id)) return fail(ERROR_RESOURCE_LANG_NOT_FOUND);
    const char* text = system_message(message_id);
    if (!text) return fail(ERROR_MR_MID_NOT_FOUND);
    if (!(flags & FORMAT_MESSAGE_IGNORE_INSERTS) && std::strchr(text, '%')) {
        TRACE("kernel32", "inserts are not provided");
        return fail(ERROR_CALL_NOT_IMPLEMENTED);
    }
    const size_t length = std::strlen(text);
    if (flags & FORMAT_MESSAGE_ALLOCATE_BUFFER) {
        if (!buffer) return fail(ERROR_INVALID_PARAMETER);
        auto* block =
            static_cast<char*>(LocalAlloc(LMEM_FIXED, std::max<size_t>(size, length + 1)));
        if (!block) return 0;
        std::memcpy(block, text, length + 1);
        *reinterpret_cast<char**>(buffer) = block;
    } else {
        if (!buffer || size < length + 1) return fail(ERROR_INSUFFICIENT_BUFFER);
        std::memcpy(buffer, text, length + 1);
    }
    return static_cast<DWORD>(length);
}
