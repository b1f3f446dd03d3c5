#include "card/containers/padding.h"

#include <cstring>

void pad_80(uint8_t* buffer, uint32_t* length, uint32_t block_size) {
    const uint32_t pad = block_size - *length % block_size;
    buffer[*length] = 0x80;
    std::memset(buffer + *length + 1, 0, pad - 1);
    *length += pad;
}

void unpad_80(const uint8_t* buffer, uint32_t* length) {
    for (uint32_t i = *length; i > 0; --i) {
        if (buffer[i - 1] == 0x80) {
            *length = i - 1;
            return;
        }
    }
}

void get_base_name(const char* path, char* out) {
    for (size_t i = std::strlen(path); i > 0; --i) {
        if (path[i - 1] == '\\' || path[i - 1] == '/') {
            std::strcpy(out, path + i);
            return;
        }
    }
}
