// Little-endian integers in byte strings, read and written byte by byte: the byte order of every
// layout in this folder. The width is always written out (load_le<uint32_t>), so a field is never
// read or written wider or narrower than its layout says.
#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>

namespace wire {

template <typename T>
constexpr T load_le(const uint8_t* p) {
    static_assert(std::is_unsigned_v<T>);
    T value = 0;
    for (size_t i = sizeof(T); i-- > 0;) value = static_cast<T>(value << 8 | p[i]);
    return value;
}

template <typename T>
constexpr void store_le(uint8_t* p, std::type_identity_t<T> value) {
    static_assert(std::is_unsigned_v<T>);
    for (size_t i = 0; i < sizeof(T); ++i) p[i] = static_cast<uint8_t>(value >> (8 * i));
}

}  // namespace wire
