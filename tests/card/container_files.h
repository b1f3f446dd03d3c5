// Files read and written whole, and plaintexts for the container tests.
#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

using Bytes = std::vector<uint8_t>;

inline Bytes read_file(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

inline void write_file(const std::filesystem::path& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

// n bytes of a pattern that holds 0x80 bytes here and there (and as its last byte when n is odd),
// so that a padding cut at the wrong marker shows.
inline Bytes plaintext(size_t n, uint32_t seed = 1) {
    Bytes b(n);
    uint32_t x = seed * 2654435761u + 1;
    for (size_t i = 0; i < n; ++i) {
        x = x * 1103515245u + 12345u;
        b[i] = (i % 61 == 7) ? 0x80 : static_cast<uint8_t>(x >> 16);
    }
    if (n % 2 == 1) b[n - 1] = 0x80;
    return b;
}

// A container's length for a plaintext of n bytes: the header and floor(n / 4096) + 1 blocks.
inline uint64_t container_length(uint32_t header, uint64_t n) {
    return header + 4096 * (n / 4096 + 1);
}
