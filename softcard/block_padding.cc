#include "softcard/block_padding.h"

#include <cstring>

#include "card/containers/padding.h"

namespace {
constexpr uint32_t kLargestPkcs7Count = 16;
}

uint32_t PadIso7816(uint8_t* buffer, uint32_t* length, uint32_t block_size) {
    pad_80(buffer, length, block_size);
    return *length;
}

uint32_t PadPkcs7(uint8_t* buffer, uint32_t* length, uint32_t block_size) {
    const uint32_t pad = block_size - *length % block_size;
    std::memset(buffer + *length, static_cast<int>(pad), pad);
    *length += pad;
    return *length;
}

int32_t UnpadPkcs7(uint8_t* buffer, uint32_t* length) {
    if (*length == 0) return -1;
    const uint32_t count = buffer[*length - 1];
    if (count == 0 || count > kLargestPkcs7Count || count > *length) return -1;
    std::memset(buffer + *length - count, 0, count);
    *length -= count;
    return 0;
}
