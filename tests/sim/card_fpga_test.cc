// FPGA data frames: the card's SM4-XTS under a slot's key, a raw key, or the volume key for the
// driver's sector frames, checked against an OpenSSL-based XTS; the reply rules and their faults.
#include <gtest/gtest.h>

#include "crypto/random.h"
#include "oracles/openssl_sm4_xts.h"
#include "tests/sim/card_wire.h"

namespace {

using namespace cardtest;
using namespace sim::card;

constexpr uint32_t kEncrypt = 0x241, kDecrypt = 0x242;

Bytes random_bytes(size_t n) {
    Bytes b(n);
    EXPECT_EQ(get_random(b.data(), static_cast<uint32_t>(n)), 0);
    return b;
}

Key32 random_key() {
    Key32 key;
    EXPECT_EQ(get_random(key.data(), 32), 0);
    return key;
}

Bytes oracle_xts(const uint8_t* key, const uint8_t* tweak, const Bytes& in, bool encrypt) {
    oracles::OpensslSm4Xts xts;
    Bytes out(in.size());
    EXPECT_TRUE(xts.crypt(key, tweak, in.data(), in.size(), out.data(), encrypt));
    return out;
}

// Every 512-byte sector its own data unit, the tweak its number (little-endian) and 8 zeros.
Bytes oracle_sectors(const Key32& key, uint64_t first, const Bytes& in, bool encrypt) {
    Bytes out;
    for (size_t at = 0; at < in.size(); at += 512) {
        uint8_t tweak[16] = {};
        const uint64_t sector = first + at / 512;
        for (int i = 0; i < 8; ++i) tweak[i] = static_cast<uint8_t>(sector >> (8 * i));
        const Bytes piece = oracle_xts(key.data(), tweak, slice(in, at, 512), encrypt);
        out.insert(out.end(), piece.begin(), piece.end());
    }
    return out;
}

struct Reply {
    int read = 0;
    Bytes bytes;
    uint8_t status() const { return bytes.at(4); }
    uint32_t total() const { return load_le32(bytes, 8); }
    uint64_t sector() const { return load_le64(bytes, 16); }
    Bytes data() const { return slice(bytes, 64, bytes.size() - 64); }
};

Reply send(const Bytes& frame, uint32_t timeout_ms = 3000) {
    const Answer answer = roundtrip(frame, static_cast<uint32_t>(frame.size()), 0, timeout_ms);
    EXPECT_EQ(answer.write, 0);
    return {answer.read, answer.bytes};
}

class CardFpga : public SimCard {
  protected:
    void SetUp() override {
        SimCard::SetUp();
        CardState state = known_card();
        state.key_slots[kSlot - 1] = slot_key_;
        state.volume_key = volume_key_;
        card_ = plug(state);
    }

    static constexpr uint32_t kSlot = 9;
    const Key32 slot_key_ = random_key();
    const Key32 volume_key_ = random_key();
    std::shared_ptr<Card> card_;
};

TEST_F(CardFpga, SlotFramesEncryptAsTheXtsCommandsDo) {
    const Bytes tweak = random_bytes(16), plain = random_bytes(4096);
    for (uint8_t flag : {0, 1}) {
        SCOPED_TRACE(flag);
        const Reply encrypted = send(fpga_slot_frame(kEncrypt, kSlot, plain, tweak));
        ASSERT_EQ(encrypted.read, 0);
        ASSERT_EQ(encrypted.bytes.size(), 4160u);
        EXPECT_EQ(encrypted.status(), 0);
        EXPECT_EQ(encrypted.total(), 4160u);
        EXPECT_EQ(encrypted.data(), oracle_xts(slot_key_.data(), tweak.data(), plain, true));
        const Answer command = roundtrip(xts_frame(0x733, kSlot, tweak, plain).data(), 4160);
        ASSERT_EQ(command.status(), kOk);
        EXPECT_EQ(slice(command.bytes, 36, 4096), encrypted.data());
        Bytes frame = fpga_slot_frame(kDecrypt, kSlot, encrypted.data(), tweak);
        frame[7] = flag;
        EXPECT_EQ(send(frame).data(), plain);
    }
}

TEST_F(CardFpga, RawKeyFramesUseTheKeyField) {
    const Key32 key = random_key();
    const Bytes zero_tweak(16, 0), plain = random_bytes(4096);
    const Reply encrypted = send(fpga_frame(kEncrypt, plain, key.data(), zero_tweak.data()));
    EXPECT_EQ(encrypted.status(), 0);
    EXPECT_EQ(encrypted.data(), oracle_xts(key.data(), zero_tweak.data(), plain, true));
}

TEST_F(CardFpga, SectorFramesRunEverySectorUnderTheVolumeKeyAndEchoTheSector) {
    for (uint32_t size : {512u, 4096u, 12288u, 65536u}) {
        SCOPED_TRACE(size);
        const uint64_t first = 0x1'0000'0000ull + size;  // past 32 bits
        const Bytes plain = random_bytes(size);
        const Reply encrypted = send(sector_frame(kEncrypt, first, plain));
        ASSERT_EQ(encrypted.read, 0);
        EXPECT_EQ(encrypted.status(), 0);
        EXPECT_EQ(encrypted.total(), 64 + size);
        EXPECT_EQ(encrypted.sector(), first);
        EXPECT_EQ(encrypted.data(), oracle_sectors(volume_key_, first, plain, true));
        EXPECT_EQ(send(sector_frame(kDecrypt, first, encrypted.data())).data(), plain);
    }
}

TEST_F(CardFpga, FramesWithoutAKeyOrWholeUnitsAreRefusedInTheStatusByte) {
    const CardState with_volume_key = card_->state();
    CardState no_volume_key = with_volume_key;
    no_volume_key.volume_key.reset();
    const Bytes tweak(16, 0), plain = random_bytes(4096);
    struct Case {
        const char* name;
        Bytes frame;
        bool volume_key;
        uint8_t status;
    };
    Bytes odd_sector = sector_frame(kEncrypt, 3, random_bytes(576));
    const Case cases[] = {
        {"slot 0 without a volume key", fpga_slot_frame(kEncrypt, 0, plain, tweak), false,
         kFpgaNoKey},
        {"sector frame without a volume key", sector_frame(kEncrypt, 1, plain), false, kFpgaNoKey},
        {"empty slot", fpga_slot_frame(kEncrypt, 5, plain, tweak), true, kFpgaNoKey},
        {"slot 129", fpga_slot_frame(kEncrypt, 129, plain, tweak), true, kFpgaNoKey},
        {"sector frame of 576 bytes", odd_sector, true, kFpgaBadLength},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        card_->set_state(c.volume_key ? with_volume_key : no_volume_key);
        const Reply reply = send(c.frame);
        ASSERT_EQ(reply.read, 0);
        EXPECT_EQ(reply.bytes.size(), c.frame.size());
        EXPECT_EQ(reply.status(), c.status);
        EXPECT_EQ(reply.total(), 64u);
        EXPECT_EQ(reply.data(), Bytes(c.frame.size() - 64, 0));
    }
}

TEST_F(CardFpga, ALengthFieldNotTheFramesDataIsARefusedFrame) {
    Bytes frame = fpga_slot_frame(kEncrypt, kSlot, random_bytes(4096), Bytes(16, 0));
    frame[4] = 0xFF;  // 4095
    frame[5] = 0x0F;
    const Reply reply = send(frame);
    EXPECT_EQ(reply.status(), kFpgaBadLength);
    ASSERT_EQ(card_->refused().size(), 1u);
    EXPECT_EQ(card_->refused()[0].error, FrameError::kFpgaLength);
    EXPECT_TRUE(card_->refused()[0].fpga);
    Bytes ragged = fpga_slot_frame(kEncrypt, kSlot, random_bytes(4096), Bytes(16, 0));
    ragged.resize(4100);
    const Reply refused = send(ragged);
    EXPECT_EQ(refused.read, 0);
    EXPECT_EQ(refused.status(), kFpgaBadLength);
    EXPECT_EQ(card_->refused().back().error, FrameError::kLength);
}

TEST_F(CardFpga, ReplyFaults) {
    const Bytes plain = random_bytes(4096);
    const Bytes frame = sector_frame(kEncrypt, 40, plain);
    const Bytes expected = oracle_sectors(volume_key_, 40, plain, true);

    card_->fail(kEncrypt, {.status = 0x1D}, 1);
    Reply reply = send(frame);
    EXPECT_EQ(reply.status(), 0x1D);
    EXPECT_EQ(reply.data(), Bytes(4096, 0));

    card_->fail_next(1, {.total_length = 5000});
    reply = send(frame);
    EXPECT_EQ(reply.status(), 0);
    EXPECT_EQ(reply.total(), 5000u);
    EXPECT_EQ(reply.data(), expected);

    card_->fail_next(1, {.echoed_sector = 41});
    reply = send(frame);
    EXPECT_EQ(reply.sector(), 41u);
    EXPECT_EQ(reply.data(), expected);

    card_->fail_next(1, {.answer_bytes = 4159});
    EXPECT_EQ(send(frame).read, -2);
    card_->fail_next(1, {.no_answer = true});
    EXPECT_EQ(send(frame, 300).read, -3);

    reply = send(frame);
    EXPECT_EQ(reply.read, 0);
    EXPECT_EQ(reply.sector(), 40u);
    EXPECT_EQ(reply.data(), expected);
}

}  // namespace
