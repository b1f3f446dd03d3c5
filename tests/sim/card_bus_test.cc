// The card on the bus: its frame checks, injected faults, records, two cards at once and a card
// plugged again.
#include <gtest/gtest.h>

#include "tests/sim/card_wire.h"

namespace {

using namespace cardtest;
using namespace sim::card;

using CardBus = SimCard;

Bytes serial_of(uint8_t index) {
    const Answer info = roundtrip(kQueryCardInfo, index);
    EXPECT_EQ(info.status(), kOk);
    return info.bytes.size() == 128 ? slice(info.bytes, 73, 16) : Bytes{};
}

TEST_F(CardBus, MalformedFramesAreRefusedRecordedAndNotActedOn) {
    auto card = plug();
    auto wrong_pin = [] { return verify_pin_frame("87654321", 8).data(); };
    struct Case {
        const char* name;
        Bytes frame;
        FrameError error;
    };
    Bytes short_frame = wrong_pin();
    short_frame.resize(63);
    Bytes long_frame = wrong_pin();
    long_frame.resize(65);
    Bytes little_endian_tag = wrong_pin();
    little_endian_tag[4] = 0x35, little_endian_tag[5] = 0x05, little_endian_tag[6] = 0,
    little_endian_tag[7] = 0;
    Bytes payload_64 = wrong_pin();
    payload_64[8] = 64;
    Bytes payload_0 = wrong_pin();
    payload_0[8] = 0;
    Bytes double_frame = wrong_pin();  // 128 bytes with the word of a 64-byte frame
    double_frame.resize(128);
    // 0x736 needs 352 bytes.
    const Bytes recovery_in_64 = Frame(0x736, 16).data();
    const Case cases[] = {
        {"63 bytes", short_frame, FrameError::kLength},
        {"65 bytes", long_frame, FrameError::kLength},
        {"tag in the wrong byte order", little_endian_tag, FrameError::kTag},
        {"payload length 64", payload_64, FrameError::kPayloadLength},
        {"payload length 0", payload_0, FrameError::kPayloadLength},
        {"payload length of half the frame", double_frame, FrameError::kPayloadLength},
        {"shorter than its command", recovery_in_64, FrameError::kTooShort},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        card->clear_records();
        const Answer answer = roundtrip(c.frame, 64);
        EXPECT_EQ(answer.read, 0);
        EXPECT_EQ(answer.status(), kBadFrame);
        ASSERT_EQ(card->refused().size(), 1u);
        EXPECT_EQ(card->refused()[0].error, c.error);
        EXPECT_EQ(card->refused()[0].bytes, c.frame);
        EXPECT_EQ(card->frames().size(), 1u);
    }
    EXPECT_EQ(card->state().pin_tries, kPinTries);
    // A well-formed frame is not refused.
    card->clear_records();
    EXPECT_EQ(roundtrip(wrong_pin(), 64).status(), kWrongPin);
    EXPECT_TRUE(card->refused().empty());
    EXPECT_EQ(card->frames().at(0).code, 0x721u);
    EXPECT_EQ(card->frames().at(0).status, kWrongPin);
}

TEST_F(CardBus, AnInjectedStatusReplacesTheCommandWhileItLasts) {
    auto card = plug();
    card->fail(0x721, {.status = 0x6A82}, 2);
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(login(), 0x6A82u);
        EXPECT_FALSE(card->state().logged_in);  // the card did not act
        EXPECT_EQ(serial_of(0).size(), 16u);    // other commands go on
    }
    EXPECT_EQ(login(), kPinRightHostNotBound);
    EXPECT_TRUE(card->frames().at(0).faulted);
    EXPECT_FALSE(card->frames().at(1).faulted);
}

TEST_F(CardBus, OverwrittenAnswerBytesLandAfterTheCardBuiltTheAnswer) {
    auto card = plug();
    // A wrong PIN as the card would answer it, with other tries, code and tag.
    card->fail(0x721, {.status = kWrongPin,
                       .overwrite_at = 0,
                       .overwrite = {0x99, 0x07, 0, 0, 0xAB, 0xCD, 0, 0, 48, 0,
                                     0,    0,    0, 0, 0,    20,   0, 0, 0,  5}});
    const Answer answer = roundtrip(kVerifyPin, verify_pin_frame(kPin, 8));
    EXPECT_EQ(answer.status(), kWrongPin);
    EXPECT_EQ(load_le32(answer.bytes, 0), 0x799u);
    EXPECT_EQ(load_be32(answer.bytes, 4), 0xABCD0000u);
    EXPECT_EQ(load_be32(answer.bytes, 16), 5u);
    EXPECT_FALSE(card->state().logged_in);
    // Past the end nothing is written.
    card->fail_next(1, {.overwrite_at = 60, .overwrite = {1, 2, 3, 4, 5, 6, 7, 8}});
    const Answer cut = roundtrip(kActivate);
    EXPECT_EQ(cut.bytes.size(), 64u);
    EXPECT_EQ(slice(cut.bytes, 60, 4), Bytes({1, 2, 3, 4}));
}

TEST_F(CardBus, FaultsForTheNextFramesComeBeforeThoseOfACode) {
    auto card = plug();
    card->fail(0x720, {.status = 0x99});
    card->fail_next(1, {.status = 0x42});
    EXPECT_EQ(roundtrip(kQueryCardInfo).status(), 0x42u);
    EXPECT_EQ(roundtrip(kQueryCardInfo).status(), 0x99u);
    EXPECT_EQ(roundtrip(kActivate).status(), kOk);
    card->fail(0x720, {}, 0);
    EXPECT_EQ(roundtrip(kQueryCardInfo).status(), kOk);
    card->fail_next(-1, {.status = 0x43});
    EXPECT_EQ(roundtrip(kActivate).status(), 0x43u);
    card->clear_faults();
    EXPECT_EQ(roundtrip(kActivate).status(), kOk);
}

TEST_F(CardBus, TransportFaultsLoseTheAnswerAfterTheCardActed) {
    struct Case {
        const char* name;
        Fault fault;
        int read;
    };
    const Case cases[] = {
        {"short answer", {.answer_bytes = 10}, -2},
        {"empty answer", {.answer_bytes = 0}, -2},
        {"no answer", {.no_answer = true}, -3},
        {"stall", {.stall = true}, -3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        sim::usb::unplug_all();
        auto card = plug();
        card->fail_next(1, c.fault);
        const Answer answer = roundtrip(verify_pin_frame(kPin, 8).data(), 64, 0, 300);
        EXPECT_EQ(answer.write, 0);
        EXPECT_EQ(answer.read, c.read);
        EXPECT_TRUE(card->state().logged_in);
        // The next exchange works.
        EXPECT_EQ(roundtrip(kLogout).status(), kOk);
        EXPECT_FALSE(card->state().logged_in);
    }
}

TEST_F(CardBus, PulledInTheMiddleOfAnExchangeTheCardKeepsItsStateButNotItsLogin) {
    CardState state = known_card();
    state.bind_slots[1] = {true, kHostMac};
    auto card = plug(state);
    ASSERT_EQ(login(), kOk);
    card->fail_next(1, {.unplug = true});
    const Answer answer = roundtrip(verify_pin_frame("00000000", 8).data(), 64);
    EXPECT_EQ(answer.write, 0);
    EXPECT_EQ(answer.read, -3);
    EXPECT_FALSE(card->plugged());
    EXPECT_EQ(roundtrip(kQueryCardInfo).read, -2);  // no card to open
    const CardState kept = card->unplug();
    EXPECT_FALSE(kept.logged_in);
    EXPECT_EQ(kept.pin_tries, kPinTries);  // the wrong PIN was never checked
    card = plug(kept);
    EXPECT_EQ(login(), kOk);
}

TEST_F(CardBus, APluggedAgainCardKeepsTriesBindingAndKeysButLosesTheSession) {
    auto card = plug();
    ASSERT_EQ(roundtrip(kVerifyPin, verify_pin_frame("00000000", 8)).status(), kWrongPin);
    login_bound();
    CardState state = card->state();
    state.volume_key = Key32{5};
    state.key_slots[3] = Key32{6};
    card->set_state(state);
    ASSERT_EQ(roundtrip(kChallenge).status(), kOk);
    const std::string first_path = card->path();

    const CardState kept = card->unplug();
    EXPECT_FALSE(card->plugged());
    EXPECT_FALSE(kept.logged_in);
    EXPECT_FALSE(kept.bound);
    EXPECT_FALSE(kept.challenge);
    EXPECT_FALSE(kept.key_slots[3]);
    EXPECT_EQ(kept.volume_key, state.volume_key);
    EXPECT_EQ(kept.signing.private_key, state.signing.private_key);
    EXPECT_EQ(kept.pin_tries, kPinTries);
    EXPECT_TRUE(kept.bind_slots[0].used);

    card = plug(kept);
    EXPECT_NE(card->path(), first_path);
    EXPECT_EQ(serial_of(0), slice(Bytes(kept.serial.begin(), kept.serial.end()), 0, 16));
    EXPECT_EQ(roundtrip(kLogout).status(), kNotLoggedIn);
    EXPECT_EQ(login(), kOk);  // still bound
}

TEST_F(CardBus, TwoCardsAnswerEachForItself) {
    CardState second = known_card();
    second.serial.fill(0xEE);
    second.pin = "second-pin";
    auto a = plug();
    auto b = sim::card::plug(second, true);
    EXPECT_EQ(serial_of(0), Bytes({0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15}));
    EXPECT_EQ(serial_of(1), Bytes(16, 0xEE));
    EXPECT_EQ(roundtrip(kVerifyPin, verify_pin_frame("second-pin", 10), 1).status(),
              kPinRightHostNotBound);
    EXPECT_TRUE(b->state().logged_in);
    EXPECT_FALSE(a->state().logged_in);
    EXPECT_EQ(a->frames().size(), 1u);
    EXPECT_EQ(b->frames().size(), 2u);
    a->unplug();
    EXPECT_EQ(serial_of(0), Bytes(16, 0xEE));  // the second is device 0 now
}

TEST_F(CardBus, AFrameWhileAnAnswerIsUnreadIsMarkedAndItsAnswerWins) {
    auto card = plug();
    Link link;
    ASSERT_TRUE(link.attached());
    ASSERT_EQ(link.write(Frame(0x737, 16).data()), 0);
    ASSERT_EQ(link.write(request(kQueryCardInfo).data()), 0);
    Bytes answer;
    ASSERT_EQ(link.read(answer, 128), 0);
    EXPECT_EQ(load_le32(answer, 0), 0x720u);
    const auto frames = card->frames();
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_FALSE(frames[0].overlapped);
    EXPECT_TRUE(frames[1].overlapped);
}

TEST_F(CardBus, WithRecordingOffOnlyRefusedFramesAreKept) {
    auto card = plug();
    card->set_recording(false);
    EXPECT_EQ(roundtrip(kQueryCardInfo).status(), kOk);
    Bytes bad = request(kQueryCardInfo).data();
    bad[7] = 0;
    EXPECT_EQ(roundtrip(bad, 128).status(), kBadFrame);
    EXPECT_TRUE(card->frames().empty());
    EXPECT_EQ(card->refused().size(), 1u);
    EXPECT_TRUE(card->device()->transfers().empty());
    EXPECT_TRUE(card->device()->control_codes().empty());
    card->set_recording(true);
    EXPECT_EQ(roundtrip(kQueryCardInfo).status(), kOk);
    EXPECT_EQ(card->frames().size(), 1u);
    EXPECT_FALSE(card->device()->transfers().empty());
}

TEST_F(CardBus, AnAnswerLongerThanTheReadIsCutAndAShorterOneMakesTheReadShort) {
    plug();
    // The host expects more than the card sends: short.
    EXPECT_EQ(roundtrip(request(kActivate).data(), 128).read, -2);
    const Answer cut = roundtrip(request(kQueryCardInfo).data(), 64);
    EXPECT_EQ(cut.read, 0);
    EXPECT_EQ(cut.status(), kOk);
}

}  // namespace
