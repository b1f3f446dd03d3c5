// The FPGA data frame against the card's firmware model: the header field by field as the card
// received it, the block against the OpenSSL-based SM4-XTS, and the reply rules (status byte,
// total length) with the model's faults.
#include "card/containers/fpga_frame.h"

#include <gtest/gtest.h>

#include <cstring>
#include <mutex>

#include "card/exchange/card_lock.h"
#include "oracles/openssl_sm4_xts.h"
#include "tests/card/container_files.h"
#include "tests/card/model_card.h"

namespace {

using sim::card::Fault;

constexpr uint32_t kSlot = 9;

Bytes oracle_xts(const uint8_t* key, const uint8_t* tweak, const Bytes& in, bool encrypt) {
    oracles::OpensslSm4Xts xts;
    Bytes out(in.size());
    EXPECT_TRUE(xts.crypt(key, tweak, in.data(), in.size(), out.data(), encrypt));
    return out;
}

class FpgaFrame : public ModelCard {
  protected:
    void SetUp() override {
        ModelCard::SetUp();
        sim::card::CardState s = card->state();
        s.key_slots[kSlot - 1] = slot_key;
        card->set_state(s);
    }

    // The only frame the card received.
    Frame only_frame() const {
        const auto frames = card->frames();
        EXPECT_EQ(frames.size(), 1u);
        return frames.empty() ? Frame() : frames.front().bytes;
    }

    const sim::card::Key32 slot_key = {0x10, 0x32, 0x54, 0x76, 0x98, 0xba, 0xdc, 0xfe, 1, 2, 3};
    const Bytes tweak = plaintext(16, 7);
    const Bytes block = plaintext(4096, 3);
};

TEST_F(FpgaFrame, SlotFrameCarriesEveryFieldAndEncryptsAsXts) {
    Bytes out(4096, 0xEE);
    ASSERT_EQ(brel_xts_fpga(kSlot, tweak.data(), block.data(), 4096, out.data(), 1), 0u);
    EXPECT_EQ(out, oracle_xts(slot_key.data(), tweak.data(), block, true));

    const Frame f = only_frame();
    ASSERT_EQ(f.size(), 4160u);
    EXPECT_EQ(slice(f, 0, 8), (Bytes{0x41, 0x02, 0, 0, 0x00, 0x10, 0, 0}));
    EXPECT_EQ(slice(f, 8, 4), (Bytes{kSlot, 0, 0, 0}));
    EXPECT_EQ(slice(f, 12, 28), Bytes(28, 0));
    EXPECT_EQ(slice(f, 40, 16), tweak);
    EXPECT_EQ(slice(f, 56, 8), Bytes(8, 0));
    EXPECT_EQ(slice(f, 64, 4096), block);
    EXPECT_EQ(reads_of(*card->device()), std::vector<size_t>{4160});
}

TEST_F(FpgaFrame, DecryptionHasOpcode0x242) {
    const Bytes cipher = oracle_xts(slot_key.data(), tweak.data(), block, true);
    Bytes out(4096);
    ASSERT_EQ(brel_xts_fpga(kSlot, tweak.data(), cipher.data(), 4096, out.data(), 0), 0u);
    EXPECT_EQ(out, block);
    EXPECT_EQ(slice(only_frame(), 0, 4), (Bytes{0x42, 0x02, 0, 0}));
}

// On a link the caller holds, with the card lock the caller holds: flag byte 7 is 1. (Were the
// function to take the lock itself, the test would hang until its time-out.)
TEST_F(FpgaFrame, HeldLinkFrameSetsTheFlagAndTakesNoLock) {
    Bytes out(4096);
    {
        std::lock_guard held(card_lock());
        CCyUSBDriverDevice* link = nullptr;
        ASSERT_EQ(open_usb_dev(&link), 0);
        for (int i = 0; i < 2; ++i)
            EXPECT_EQ(
                brel_xts_fpga_dev(link, kSlot, tweak.data(), block.data(), 4096, out.data(), 1), 0);
        close_usb_dev(link);
    }
    EXPECT_EQ(out, oracle_xts(slot_key.data(), tweak.data(), block, true));
    const auto frames = card->frames();
    ASSERT_EQ(frames.size(), 2u);
    for (const auto& f : frames) {
        EXPECT_EQ(slice(f.bytes, 4, 4), (Bytes{0x00, 0x10, 0, 1}));
        EXPECT_EQ(slice(f.bytes, 8, 4), (Bytes{kSlot, 0, 0, 0}));
    }
}

TEST_F(FpgaFrame, RawKeyFillsTheKeyFieldWithAZeroTweak) {
    const Bytes key = plaintext(32, 11);
    Bytes out(4096);
    ASSERT_EQ(brel_xts_fpga_rawkey(key.data(), block.data(), 4096, out.data(), 1), 0u);
    const uint8_t zero[16] = {};
    EXPECT_EQ(out, oracle_xts(key.data(), zero, block, true));
    const Frame f = only_frame();
    EXPECT_EQ(slice(f, 0, 8), (Bytes{0x41, 0x02, 0, 0, 0x00, 0x10, 0, 0}));
    EXPECT_EQ(slice(f, 8, 32), key);
    EXPECT_EQ(slice(f, 40, 24), Bytes(24, 0));
}

TEST_F(FpgaFrame, NonzeroStatusByteGives29AndLeavesOutAsItWas) {
    card->fail(sim::card::kFpgaEncrypt, fault(&Fault::status, 1u));
    Bytes out(4096, 0xEE);
    EXPECT_EQ(brel_xts_fpga(kSlot, tweak.data(), block.data(), 4096, out.data(), 1), 29u);
    EXPECT_EQ(out, Bytes(4096, 0xEE));
    EXPECT_EQ(log.messages(), std::vector<std::string>{"proc err:0000001d"});
}

// The total length field says how many bytes the engine processed: the whole block is the frame's
// length or more (never more than the block is copied); less is a refused frame, 29 with out as
// it was.
struct TotalLengthCase {
    uint32_t total;
    uint32_t result;
};

class FpgaTotalLength : public FpgaFrame, public ::testing::WithParamInterface<TotalLengthCase> {};

TEST_P(FpgaTotalLength, WholeBlockOrRefused) {
    card->fail(sim::card::kFpgaEncrypt, fault(&Fault::total_length, GetParam().total));
    Bytes out(4096, 0xEE);
    EXPECT_EQ(brel_xts_fpga(kSlot, tweak.data(), block.data(), 4096, out.data(), 1),
              GetParam().result);
    if (GetParam().result == 0) {
        EXPECT_EQ(out, oracle_xts(slot_key.data(), tweak.data(), block, true));
        EXPECT_TRUE(log.messages().empty());
    } else {
        EXPECT_EQ(out, Bytes(4096, 0xEE));
        EXPECT_EQ(log.messages(), std::vector<std::string>{"proc err:0000001d"});
    }
}

INSTANTIATE_TEST_SUITE_P(Replies, FpgaTotalLength,
                         ::testing::Values(TotalLengthCase{4160, 0}, TotalLengthCase{4161, 0},
                                           TotalLengthCase{0xFFFFFFFF, 0},
                                           TotalLengthCase{4159, 29}, TotalLengthCase{64 + 7, 29},
                                           TotalLengthCase{64, 29}, TotalLengthCase{0, 29}));

TEST_F(FpgaFrame, SlotsZeroAndTopAreSentAsTheyAre) {
    Bytes out(4096);
    // Slot 0 leaves the key field zero: the card takes it for its volume key, which it lacks.
    EXPECT_EQ(brel_xts_fpga(0, tweak.data(), block.data(), 4096, out.data(), 1), 29u);
    // Slot 128 holds no key here.
    EXPECT_EQ(brel_xts_fpga(128, tweak.data(), block.data(), 4096, out.data(), 1), 29u);
    const auto frames = card->frames();
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(slice(frames[0].bytes, 8, 4), (Bytes{0, 0, 0, 0}));
    EXPECT_EQ(slice(frames[1].bytes, 8, 4), (Bytes{0x80, 0, 0, 0}));
    EXPECT_EQ(brel_xts_fpga(129, tweak.data(), block.data(), 4096, out.data(), 1), 3u);
    EXPECT_EQ(card->frames().size(), 2u);
}

TEST_F(FpgaFrame, LinkFailuresGive17AndTheNextFrameWorks) {
    Bytes out(4096, 0xEE);
    card->fail_next(1, fault(&Fault::answer_bytes, 4096u));
    EXPECT_EQ(brel_xts_fpga(kSlot, tweak.data(), block.data(), 4096, out.data(), 1), 17u);
    EXPECT_EQ(out, Bytes(4096, 0xEE));
    const auto lines = log.messages();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "read error:-2");
    EXPECT_TRUE(lines[1].starts_with("recvbuf[") && lines[1].ends_with("]recv_len[4160]"))
        << lines[1];
    log.clear();
    ASSERT_EQ(brel_xts_fpga(kSlot, tweak.data(), block.data(), 4096, out.data(), 1), 0u);
    EXPECT_EQ(out, oracle_xts(slot_key.data(), tweak.data(), block, true));
    sim::usb::unplug_all();
    EXPECT_EQ(brel_xts_fpga_rawkey(block.data(), block.data(), 4096, out.data(), 1), 17u);
    EXPECT_EQ(log.messages(), std::vector<std::string>{"open_usb_dev error:-2"});
}

}  // namespace
