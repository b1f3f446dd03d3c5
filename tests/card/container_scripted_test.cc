// A card failure on block n of a container, against a scripted card that answers every frame
// before it: V1 keeps the 447 + 4096 x (n - 1) bytes it wrote, V2 removes its container; the slot
// is released either way.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>

#include "card/card_api.h"
#include "sim/card/card_controls.h"
#include "tests/card/container_files.h"
#include "tests/card/scripted_card.h"

namespace {

constexpr uint32_t kSlot = 77;
constexpr int kFailingBlock = 3;
constexpr size_t kPlainSize = 4 * 4096 + 10;  // five blocks

Frame slot_answer(uint32_t code, size_t slot_offset, size_t length) {
    Frame r = response(code, length);
    put_be32(r, slot_offset, kSlot);
    return r;
}

// A block through command 0x733 or 0x734: the count at 32 and the bytes from 36.
Frame command_block(uint32_t status = 0) {
    Frame r = response(0x733, 4160, status);
    put_be32(r, 32, 4096);
    return r;
}

// An FPGA reply: the status byte at 4, the total length at 8.
Frame fpga_block(uint8_t status = 0) {
    Frame r(4160, 0x5A);
    std::fill(r.begin(), r.begin() + 64, 0);
    put_le32(r, 0, 0x241);
    r[4] = status;
    put_le32(r, 8, 4160);
    return r;
}

class BlockFailure : public ScriptedCard {
  protected:
    void SetUp() override {
        ScriptedCard::SetUp();
        root.make_folder("C:/data");
        write_file(root.path(pt), plaintext(kPlainSize));
    }
    void answer_blocks(const std::function<Frame(bool fails)>& block) {
        for (int n = 1; n <= kFailingBlock; ++n) answer(block(n == kFailingBlock));
        answer(response(0x72B, 64));  // the slot's release
    }
    // The last frame released the slot.
    void expect_slot_released() const {
        const auto frames = sent();
        ASSERT_FALSE(frames.empty());
        EXPECT_EQ(le32_at(frames.back(), 0), 0x72Bu);
        EXPECT_EQ(be32_at(frames.back(), 16), kSlot);
        EXPECT_EQ(card.queue->queued(), 0u);
    }
    uint64_t size_of(const std::string& path) const {
        return std::filesystem::file_size(root.path(path));
    }

    const std::string pt = "C:/data/plain.bin", ct = "C:/data/plain.ctr";
    const sim::card::KeyPair card_keys = sim::card::random_key_pair();
};

TEST_F(BlockFailure, V1CommandsKeepTheBlocksBeforeIt) {
    answer(slot_answer(0x729, 144, 192));
    answer_blocks([](bool fails) { return command_block(fails ? 0x6A80 : 0); });
    EXPECT_EQ(QeltEvEncFile(card_keys.public_key.data(), pt.c_str(), ct.c_str()), 0x6A80u);
    EXPECT_EQ(size_of(ct), 447u + 4096 * (kFailingBlock - 1));
    expect_slot_released();
}

TEST_F(BlockFailure, V1FpgaFramesKeepTheBlocksBeforeIt) {
    answer(slot_answer(0x729, 144, 192));
    answer_blocks([](bool fails) { return fpga_block(fails ? 1 : 0); });
    EXPECT_EQ(QeltEvEncFile_FPGA(card_keys.public_key.data(), pt.c_str(), ct.c_str()), 29u);
    EXPECT_EQ(size_of(ct), 447u + 4096 * (kFailingBlock - 1));
    expect_slot_released();
}

// Decryption holds one block back: the blocks before the one held are written.
TEST_F(BlockFailure, V1DecryptionWritesTheBlocksBeforeTheOneHeld) {
    write_file(root.path(ct), Bytes(447 + 5 * 4096, 1));
    answer(slot_answer(0x72A, 16, 64));
    answer_blocks([](bool fails) { return fpga_block(fails ? 1 : 0); });
    EXPECT_EQ(QeltEvDecFile_FPGA(ct.c_str(), pt.c_str()), 29u);
    EXPECT_EQ(size_of(pt), 4096u * (kFailingBlock - 2));
    expect_slot_released();
}

TEST_F(BlockFailure, V2RemovesItsContainer) {
    Frame random = response(0x72D, 64);
    Frame keys = response(0x724, 192);
    put(keys, 16, card_keys.public_key);
    put(keys, 80, card_keys.public_key);
    answer(random);
    answer(keys);
    answer(slot_answer(0x72A, 16, 64));
    answer_blocks([](bool fails) { return fpga_block(fails ? 1 : 0); });
    EXPECT_EQ(QeltEvEncFile_V2("12345678", pt.c_str(), ct.c_str()), 29u);
    EXPECT_FALSE(std::filesystem::exists(root.path(ct)));
    expect_slot_released();
}

}  // namespace
