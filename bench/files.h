// Files of the bench programs: a patterned plaintext and a byte-for-byte comparison.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <vector>

namespace bench {

// Writes size bytes of a fixed pattern to path; false when the file could not be written.
inline bool write_pattern(const std::filesystem::path& path, uint64_t size) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    std::vector<uint8_t> chunk(1 << 20);
    for (size_t i = 0; i < chunk.size(); ++i) chunk[i] = static_cast<uint8_t>(i * 131 + (i >> 9));
    for (uint64_t done = 0; done < size;) {
        const uint64_t n = std::min<uint64_t>(chunk.size(), size - done);
        out.write(reinterpret_cast<const char*>(chunk.data()), static_cast<std::streamsize>(n));
        done += n;
    }
    return static_cast<bool>(out);
}

inline bool same_files(const std::filesystem::path& a, const std::filesystem::path& b) {
    if (std::filesystem::file_size(a) != std::filesystem::file_size(b)) return false;
    std::ifstream x(a, std::ios::binary), y(b, std::ios::binary);
    std::vector<uint8_t> p(1 << 20), q(1 << 20);
    while (x && y) {
        x.read(reinterpret_cast<char*>(p.data()), static_cast<std::streamsize>(p.size()));
        y.read(reinterpret_cast<char*>(q.data()), static_cast<std::streamsize>(q.size()));
        if (x.gcount() != y.gcount() ||
            std::memcmp(p.data(), q.data(), static_cast<size_t>(x.gcount())) != 0)
            return false;
    }
    return true;
}

}  // namespace bench
