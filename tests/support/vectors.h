// Test vectors in small text files:
//
//   # source: GB/T 32905-2016, Appendix A      (the first line names the source)
//   [name of the vector]
//   key = 0123 4567 89ab                         (hex; spaces allowed)
//   msg = "abc"                                  (or a quoted ASCII text)
//   count = 1000000                              (or a decimal number, read with number())
//
// The parser is strict: a malformed line, a repeated field or a file without a source line
// fails the test with its line number.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace testing_support {

struct TestVector {
    std::string name;
    int line = 0;
    std::map<std::string, std::string> raw;

    bool has(const std::string& field) const { return raw.count(field) != 0; }
    // The field's bytes (hex or quoted text); a missing field throws.
    std::vector<uint8_t> bytes(const std::string& field) const;
    uint64_t number(const std::string& field) const;
};

struct VectorFile {
    std::string source;
    std::vector<TestVector> vectors;
};

// Reads a file from the directory of vector files (tests/crypto/vectors by default).
VectorFile load_vectors(const std::string& file_name);

std::vector<uint8_t> from_hex(const std::string& hex);
std::string to_hex(const uint8_t* data, size_t len);
inline std::string to_hex(const std::vector<uint8_t>& v) {
    return to_hex(v.data(), v.size());
}

}  // namespace testing_support
