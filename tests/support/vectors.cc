#include "tests/support/vectors.h"

#include <cctype>
#include <fstream>
#include <stdexcept>

#ifndef HALDEN_VECTOR_DIR
#error "HALDEN_VECTOR_DIR must name the folder of vector files"
#endif

namespace testing_support {
namespace {

std::string trim(const std::string& s) {
    size_t b = 0, e = s.size();
    while (b < e && std::isspace(static_cast<unsigned char>(s[b]))) ++b;
    while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1]))) --e;
    return s.substr(b, e - b);
}

[[noreturn]] void fail(const std::string& file, int line, const std::string& what) {
    throw std::runtime_error(file + ":" + std::to_string(line) + ": " + what);
}

}  // namespace

std::vector<uint8_t> from_hex(const std::string& hex) {
    std::string digits;
    for (char c : hex) {
        if (std::isspace(static_cast<unsigned char>(c))) continue;
        if (!std::isxdigit(static_cast<unsigned char>(c)))
            throw std::runtime_error("not a hex digit in \"" + hex + "\"");
        digits += c;
    }
    if (digits.size() % 2) throw std::runtime_error("odd number of hex digits in \"" + hex + "\"");
    std::vector<uint8_t> out(digits.size() / 2);
    for (size_t i = 0; i < out.size(); ++i)
        out[i] = static_cast<uint8_t>(std::stoul(digits.substr(2 * i, 2), nullptr, 16));
    return out;
}

std::string to_hex(const uint8_t* data, size_t len) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (size_t i = 0; i < len; ++i) {
        out += digits[data[i] >> 4];
        out += digits[data[i] & 15];
    }
    return out;
}

std::vector<uint8_t> TestVector::bytes(const std::string& field) const {
    auto it = raw.find(field);
    if (it == raw.end()) throw std::runtime_error(name + ": no field " + field);
    const std::string& v = it->second;
    if (v.size() >= 2 && v.front() == '"' && v.back() == '"')
        return std::vector<uint8_t>(v.begin() + 1, v.end() - 1);
    return from_hex(v);
}

uint64_t TestVector::number(const std::string& field) const {
    auto it = raw.find(field);
    if (it == raw.end()) throw std::runtime_error(name + ": no field " + field);
    size_t used = 0;
    uint64_t value = std::stoull(it->second, &used, 10);
    if (used != it->second.size()) throw std::runtime_error(name + ": " + field + " not a number");
    return value;
}

VectorFile load_vectors(const std::string& file_name) {
    const std::string path = std::string(HALDEN_VECTOR_DIR) + "/" + file_name;
    std::ifstream in(path);
    if (!in) throw std::runtime_error("cannot open " + path);
    VectorFile file;
    std::string text;
    int line = 0;
    while (std::getline(in, text)) {
        ++line;
        std::string t = trim(text);
        if (t.empty()) continue;
        if (t[0] == '#') {
            if (line == 1 && t.rfind("# source:", 0) == 0) file.source = trim(t.substr(9));
            continue;
        }
        if (file.source.empty()) fail(path, line, "the file must start with \"# source: ...\"");
        if (t.front() == '[') {
            if (t.back() != ']' || t.size() < 3) fail(path, line, "malformed vector name");
            file.vectors.push_back({t.substr(1, t.size() - 2), line, {}});
            continue;
        }
        size_t eq = t.find('=');
        if (eq == std::string::npos || file.vectors.empty())
            fail(path, line, "expected \"field = value\" inside a [vector]");
        std::string key = trim(t.substr(0, eq)), value = trim(t.substr(eq + 1));
        if (key.empty() || value.empty()) fail(path, line, "empty field or value");
        bool quoted = value.size() >= 2 && value.front() == '"' && value.back() == '"';
        if (!quoted) {
            for (char c : value)
                if (!std::isxdigit(static_cast<unsigned char>(c)) &&
                    !std::isspace(static_cast<unsigned char>(c)))
                    fail(path, line, "value is neither hex nor a quoted text");
        }
        if (!file.vectors.back().raw.emplace(key, value).second)
            fail(path, line, "field " + key + " given twice");
    }
    if (file.vectors.empty()) fail(path, line, "no vectors");
    return file;
}

}  // namespace testing_support
