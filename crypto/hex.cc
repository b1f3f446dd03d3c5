#include "crypto/hex.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

extern "C" void bytes_to_hex(const uint8_t* data, int32_t len, char* out) {
    for (int32_t i = 0; i < len; ++i) std::snprintf(out + 2 * i, 3, "%02x", data[i]);
}

extern "C" void hex_encode(const uint8_t* data, int32_t len, char* out) {
    bytes_to_hex(data, len, out);
}

extern "C" void hex_dump(const uint8_t* data, uint32_t len, const char* label) {
    constexpr uint32_t kTextSize = 10240;
    constexpr uint32_t kMaxBytes = (kTextSize - 1) / 2;  // 5,119: longer input is cut
    static_assert(kMaxBytes == 5119);
    char text[kTextSize] = {};
    bytes_to_hex(data, static_cast<int32_t>(len < kMaxBytes ? len : kMaxBytes), text);
    std::printf("[%s]%s\n", label, text);
}

extern "C" int32_t hex_to_bytes(const char* text, uint8_t* out) {
    int32_t count = 0;
    for (;;) {
        // Never read past the NUL, even for an empty or odd-length text.
        const char high = text[0];
        const char low = high ? text[1] : '\0';
        const char pair[3] = {high, low, '\0'};
        out[count++] = static_cast<uint8_t>(std::strtol(pair, nullptr, 16));
        if (low == '\0') break;
        text += 2;
        if (text[0] == '\0') break;
    }
    return count;
}
