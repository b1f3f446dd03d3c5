// The card's frame checks and commands on random and truncated frames (run under ASan to catch a
// read past a frame): every frame gets a whole answer, and a frame of the wrong form is refused.
#include <gtest/gtest.h>

#include <random>

#include "sim/card/firmware.h"
#include "tests/sim/card_wire.h"

namespace {

using namespace cardtest;
using namespace sim::card;

const uint32_t kCodes[] = {0x720, 0x721, 0x722, 0x723, 0x724, 0x725, 0x726, 0x727, 0x728,
                           0x729, 0x72A, 0x72B, 0x72C, 0x72D, 0x72E, 0x72F, 0x730, 0x731,
                           0x732, 0x733, 0x734, 0x735, 0x736, 0x737, 0x767, 0x241, 0x242};

// A card that lets most commands get past their state checks.
CardState open_card() {
    CardState card = known_card();
    card.logged_in = true;
    card.bound = true;
    card.bind_index = 1;
    card.bind_slots[0] = {true, kHostMac};
    card.volume_key = Key32{1};
    for (size_t i = 0; i < 8; ++i) card.key_slots[i] = Key32{static_cast<uint8_t>(i)};
    return card;
}

void put_le32(Bytes& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        if (at + i < b.size()) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

// Answers a frame and checks the answer's form against the frame's.
void answer_and_check(CardState& card, const Bytes& frame) {
    const sim::card::FrameCheck check = sim::card::check_frame(frame);
    Bytes answer;
    const uint32_t status = sim::card::answer_frame(card, frame, check, std::nullopt, answer);
    ASSERT_GE(answer.size(), 64u);
    ASSERT_EQ(answer.size() % 64, 0u);
    if (check.fpga) {
        ASSERT_EQ(answer[4], status);
        if (check.error != FrameError::kNone) {
            ASSERT_EQ(status, kFpgaBadLength);
        } else {
            ASSERT_EQ(answer.size(), frame.size());
        }
        ASSERT_EQ(load_le32(answer, 8), status == 0 ? frame.size() : 64u);
    } else {
        ASSERT_EQ(status_of(answer), status);
        ASSERT_EQ(load_be32(answer, 4), 0x535u);
        ASSERT_EQ(load_le32(answer, 8), answer.size() - 16);
        if (check.error != FrameError::kNone) {
            ASSERT_EQ(status, kBadFrame);
        }
        if (frame.size() >= 4) {
            ASSERT_EQ(load_le32(answer, 0), load_le32(frame, 0));
        }
    }
}

TEST(CardFrameFuzz, RandomFramesGetAWholeAnswer) {
    std::mt19937 random(20240611);
    auto pick = [&](uint32_t n) { return static_cast<uint32_t>(random() % n); };
    CardState card = open_card();
    for (int i = 0; i < 20000; ++i) {
        if (i % 500 == 0) card = open_card();
        Bytes frame(pick(4) == 0 ? pick(200) : 64 * (1 + pick(70)) + (pick(8) == 0 ? pick(64) : 0));
        for (auto& b : frame) b = static_cast<uint8_t>(random());
        const uint32_t code = kCodes[pick(std::size(kCodes))];
        // Mostly well-formed headers, so that the commands themselves see random payloads.
        if (pick(8) != 0) put_le32(frame, 0, code);
        const bool fpga = code == kFpgaEncrypt || code == kFpgaDecrypt;
        if (fpga) {
            if (pick(4) != 0 && frame.size() >= 64) {
                const uint32_t length = static_cast<uint32_t>(frame.size()) - 64;
                for (int k = 0; k < 3; ++k) frame[4 + k] = static_cast<uint8_t>(length >> (8 * k));
            }
            if (pick(2) == 0 && frame.size() >= 40)
                std::fill(frame.begin() + 8, frame.begin() + 40, 0);
            if (pick(2) == 0 && frame.size() >= 40) {
                std::fill(frame.begin() + 12, frame.begin() + 40, 0);
                frame[8] = static_cast<uint8_t>(pick(12));
                frame[9] = frame[10] = frame[11] = 0;
            }
        } else {
            if (pick(8) != 0 && frame.size() >= 8) {
                frame[4] = frame[5] = 0, frame[6] = 0x05, frame[7] = 0x35;
            }
            if (pick(8) != 0) put_le32(frame, 8, static_cast<uint32_t>(frame.size()) - 16);
            // Data-length fields in range now and then.
            if (pick(2) == 0 && frame.size() >= 40) {
                const uint32_t n = 16 * (1 + pick(256));
                for (size_t at : {16u, 36u})
                    for (int k = 0; k < 4; ++k)
                        frame[at + k] = static_cast<uint8_t>(n >> (24 - 8 * k));
            }
        }
        SCOPED_TRACE(i);
        ASSERT_NO_FATAL_FAILURE(answer_and_check(card, frame));
    }
}

TEST(CardFrameFuzz, TruncatedFramesAreRefused) {
    CardState card = open_card();
    const struct {
        uint32_t code, request;
    } commands[] = {{0x720, 16},   {0x721, 42}, {0x723, 56},  {0x725, 48},  {0x727, 112},
                    {0x728, 129},  {0x729, 80}, {0x72A, 144}, {0x72C, 144}, {0x72E, 22},
                    {0x733, 4136}, {0x734, 56}, {0x72D, 20},  {0x735, 48},  {0x736, 352}};
    for (const auto& c : commands) {
        Frame whole(c.code, c.request);
        if (c.code == 0x733 || c.code == 0x734) {
            whole.be32(16, 1).be32(36, c.request - 40);
        }
        for (size_t length = 0; length <= whole.data().size(); ++length) {
            Bytes frame(whole.data().begin(), whole.data().begin() + length);
            put_le32(frame, 8, static_cast<uint32_t>(length) - 16);
            const sim::card::FrameCheck check = sim::card::check_frame(frame);
            SCOPED_TRACE(testing::Message() << std::hex << c.code << std::dec << " " << length);
            if (length % 64 != 0 || length == 0)
                EXPECT_EQ(check.error, FrameError::kLength);
            else if (length < c.request)
                EXPECT_EQ(check.error, FrameError::kTooShort);
            else
                EXPECT_EQ(check.error, FrameError::kNone);
            ASSERT_NO_FATAL_FAILURE(answer_and_check(card, frame));
        }
    }
    Bytes fpga = fpga_slot_frame(kFpgaEncrypt, 1, Bytes(4096, 0x5A), Bytes(16, 0));
    for (size_t length = 0; length <= fpga.size(); length += 7) {
        Bytes frame(fpga.begin(), fpga.begin() + length);
        SCOPED_TRACE(length);
        ASSERT_NO_FATAL_FAILURE(answer_and_check(card, frame));
        EXPECT_NE(sim::card::check_frame(frame).error, FrameError::kNone);
    }
}

}  // namespace
