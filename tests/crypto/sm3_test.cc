// SM3 against the GB/T 32905 vectors and the finalisation boundaries, fed one-shot, in one
// streaming update and piece by piece.
#include "crypto/sm3.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "tests/support/vectors.h"

using testing_support::load_vectors;
using testing_support::to_hex;

namespace {

std::string digest_hex(const uint8_t* digest) {
    return to_hex(digest, SM3_DIGEST_SIZE);
}

// Feeds data in pieces of the given sizes, cycling, with an empty update between pieces.
std::string hash_in_pieces(const std::vector<uint8_t>& data, const std::vector<uint32_t>& sizes) {
    sm3_ctx ctx;
    sm3_init(&ctx);
    size_t offset = 0;
    for (size_t i = 0; offset < data.size(); ++i) {
        uint32_t n = sizes[i % sizes.size()];
        if (n > data.size() - offset) n = static_cast<uint32_t>(data.size() - offset);
        sm3_update(&ctx, data.data() + offset, n);
        sm3_update(&ctx, data.data() + offset, 0);
        offset += n;
    }
    uint8_t digest[SM3_DIGEST_SIZE];
    sm3_final(&ctx, digest);
    return digest_hex(digest);
}

}  // namespace

TEST(Sm3, StandardAndBoundaryVectorsInEveryFeedingPattern) {
    const auto file = load_vectors("sm3.txt");
    for (const auto& v : file.vectors) {
        SCOPED_TRACE(v.name);
        const std::vector<uint8_t> msg = v.bytes("msg");
        const std::string expected = to_hex(v.bytes("digest"));
        const uint32_t len = static_cast<uint32_t>(msg.size());

        uint8_t digest[SM3_DIGEST_SIZE];
        sm3(msg.data(), len, digest);
        EXPECT_EQ(digest_hex(digest), expected) << "one-shot";

        sm3_ctx ctx;
        sm3_init(&ctx);
        sm3_update(&ctx, msg.data(), len);
        sm3_final(&ctx, digest);
        EXPECT_EQ(digest_hex(digest), expected) << "one update";

        EXPECT_EQ(hash_in_pieces(msg, {1}), expected) << "byte by byte";
        EXPECT_EQ(hash_in_pieces(msg, {3, 61, 7, 64, 1}), expected) << "uneven pieces";
    }
}

// The final block seen after sm3_final: 0x80 and the length share the block at 55 bytes; at 56
// the 0x80 goes into a block of its own and the last block holds zeros and the length only.
TEST(Sm3, FinalisationUsesOneOrTwoBlocksAroundFiftySixBytes) {
    for (uint32_t len : {55u, 56u}) {
        SCOPED_TRACE(len);
        std::vector<uint8_t> msg(len, 'a');
        sm3_ctx ctx;
        sm3_init(&ctx);
        sm3_update(&ctx, msg.data(), len);
        uint8_t digest[SM3_DIGEST_SIZE];
        sm3_final(&ctx, digest);
        const uint8_t expected_length[8] = {
            0, 0, 0, 0, 0, 0, 0x01, static_cast<uint8_t>(len == 55 ? 0xb8 : 0xc0)};
        EXPECT_EQ(to_hex(ctx.block + 56, 8), to_hex(expected_length, 8));
        if (len == 55) {
            EXPECT_EQ(ctx.block[54], 'a');
            EXPECT_EQ(ctx.block[55], 0x80);
        } else {
            const std::vector<uint8_t> zeros(56, 0);
            EXPECT_EQ(to_hex(ctx.block, 56), to_hex(zeros));
        }
    }
}

// Messages of 2^29 bytes and more: the length field carries all 64 bits of the bit count. The
// context is started as if that many bytes had been absorbed, then "abc" is added; the digest
// must be one compression of the IV with the block "abc" 0x80 0... length.
TEST(Sm3, LengthFieldCarriesBitCountsBeyondThirtyTwoBits) {
    const uint64_t absorbed_bytes[] = {uint64_t{1} << 29, uint64_t{0xFFFFFFC0}, uint64_t{1} << 40,
                                       (uint64_t{1} << 61) - 64};
    const uint8_t abc[3] = {'a', 'b', 'c'};
    for (uint64_t bytes : absorbed_bytes) {
        SCOPED_TRACE(bytes);
        sm3_ctx ctx;
        sm3_init(&ctx);
        ctx.bit_count = bytes * 8;
        sm3_update(&ctx, abc, 3);
        uint8_t digest[SM3_DIGEST_SIZE];
        sm3_final(&ctx, digest);

        const uint64_t bits = bytes * 8 + 24;
        sm3_ctx reference;
        sm3_init(&reference);
        std::memset(reference.block, 0, sizeof reference.block);
        std::memcpy(reference.block, abc, 3);
        reference.block[3] = 0x80;
        for (int i = 0; i < 8; ++i)
            reference.block[56 + i] = static_cast<uint8_t>(bits >> (56 - 8 * i));
        EXPECT_EQ(to_hex(ctx.block, 64), to_hex(reference.block, 64));
        sm3_compress(&reference);
        uint8_t expected[SM3_DIGEST_SIZE];
        for (int i = 0; i < 8; ++i)
            for (int b = 0; b < 4; ++b)
                expected[4 * i + b] = static_cast<uint8_t>(reference.state[i] >> (24 - 8 * b));
        EXPECT_EQ(digest_hex(digest), digest_hex(expected));
    }
}

TEST(Sm3, EmptyUpdateChangesNothing) {
    sm3_ctx a, b;
    sm3_init(&a);
    const uint8_t data[5] = {1, 2, 3, 4, 5};
    sm3_update(&a, data, 5);
    std::memcpy(&b, &a, sizeof a);
    sm3_update(&a, data, 0);
    EXPECT_EQ(std::memcmp(&a, &b, sizeof a), 0);
}
