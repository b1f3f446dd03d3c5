#include "card/containers/padding.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

struct PadCase {
    uint32_t length;
    uint32_t block;
    uint32_t padded;
};

TEST(Pad80, PadsToTheNextBlockAWholeBlockWhenAligned) {
    const PadCase cases[] = {{0, 4096, 4096},    {1, 4096, 4096}, {4095, 4096, 4096},
                             {4096, 4096, 8192}, {5, 16, 16},     {16, 16, 32}};
    for (const auto& c : cases) {
        std::vector<uint8_t> buffer(c.padded, 0xAA);
        uint32_t length = c.length;
        pad_80(buffer.data(), &length, c.block);
        EXPECT_EQ(length, c.padded) << c.length;
        EXPECT_EQ(buffer[c.length], 0x80);
        for (uint32_t i = c.length + 1; i < c.padded; ++i) ASSERT_EQ(buffer[i], 0) << i;
        for (uint32_t i = 0; i < c.length; ++i) ASSERT_EQ(buffer[i], 0xAA) << i;
    }
}

TEST(Unpad80, CutsAtTheLastMarker) {
    struct Case {
        std::vector<uint8_t> data;
        uint32_t expected;
    };
    const Case cases[] = {
        {{0x01, 0x80, 0x00, 0x00}, 1},
        {{0x80, 0x80, 0x00}, 1},        // data ending in 0x80 keeps it
        {{0x80, 0x00, 0x80, 0x33}, 2},  // bytes after the last marker are not examined
        {{0x01, 0x02, 0x03}, 3},        // no marker: the whole length stays
        {{0x80}, 0},
        {{}, 0},
    };
    for (const auto& c : cases) {
        uint32_t length = static_cast<uint32_t>(c.data.size());
        unpad_80(c.data.data(), &length);
        EXPECT_EQ(length, c.expected);
    }
}

TEST(Pad80, RoundTripKeepsTrailingMarkerBytes) {
    std::vector<uint8_t> buffer(32, 0);
    const uint8_t data[] = {0x80, 0x11, 0x80};
    std::memcpy(buffer.data(), data, sizeof data);
    uint32_t length = sizeof data;
    pad_80(buffer.data(), &length, 16);
    unpad_80(buffer.data(), &length);
    EXPECT_EQ(length, sizeof data);
}

TEST(GetBaseName, TextAfterTheLastSeparator) {
    struct Case {
        const char* path;
        const char* expected;
    };
    const Case cases[] = {
        {"C:\\docs\\report.docx", "report.docx"},
        {"E:/test_pt.docx", "test_pt.docx"},
        {"a/b\\c", "c"},
        {"dir/", ""},
        {"plain.txt", "untouched"},  // no separator: out keeps what it held
    };
    for (const auto& c : cases) {
        char out[64] = "untouched";
        get_base_name(c.path, out);
        EXPECT_STREQ(out, c.expected) << c.path;
    }
}

}  // namespace
