#include "crypto/byte_order.h"

#include <cstring>

extern "C" bool host_is_big_endian() {
    const uint16_t probe = 0x0031;
    uint8_t bytes[2];
    std::memcpy(bytes, &probe, sizeof bytes);
    return bytes[1] == 0x31;
}

extern "C" bool host_is_little_endian() {
    return !host_is_big_endian();
}

namespace {

void reverse_bytes(uint8_t* buffer, uint32_t n) {
    for (uint32_t i = 0; i < n / 2; ++i) {
        uint8_t t = buffer[i];
        buffer[i] = buffer[n - 1 - i];
        buffer[n - 1 - i] = t;
    }
}

uint32_t swap32(uint32_t v) {
    return (v >> 24) | ((v >> 8) & 0x0000ff00u) | ((v << 8) & 0x00ff0000u) | (v << 24);
}

}  // namespace

extern "C" uint32_t to_little_endian32(uint32_t value) {
    return host_is_big_endian() ? swap32(value) : value;
}

extern "C" uint32_t to_big_endian32(uint32_t value) {
    return host_is_big_endian() ? value : swap32(value);
}

extern "C" void reverse_16_bytes(uint8_t* buffer) {
    reverse_bytes(buffer, 16);
}

extern "C" void reverse_bytes_if_little_endian(uint8_t* buffer, uint32_t n) {
    if (host_is_little_endian()) reverse_bytes(buffer, n);
}
