// Each card command's payload fields, outputs and refusals against a scripted card.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <ostream>
#include <string>

#include "card/card_api.h"
#include "card/commands/card_random.h"
#include "card/commands/key_slots.h"
#include "crypto/sm2.h"
#include "tests/card/scripted_card.h"

namespace {

const uint8_t k16[16] = {};
const uint8_t k64[64] = {};
const uint8_t k128[128] = {};

const uint8_t* text(const char* s) {
    return reinterpret_cast<const uint8_t*>(s);
}

// ---- PIN commands ----

TEST_F(ScriptedCard, VerifyPinCodeSendsLengthPinFieldAndHostMac) {
    answer(response(0x721, 64));
    uint32_t tries = 77;
    ASSERT_EQ(QeltVerifyPinCode(text("abc"), 8, &tries), 0u);
    const Frame f = sent()[0];
    EXPECT_EQ(be32_at(f, 16), 8u);
    Frame field = {'a', 'b', 'c'};
    field.resize(16);
    EXPECT_EQ(slice(f, 20, 16), field);
    EXPECT_EQ(slice(f, 36, 6), Frame(kHostMac.begin(), kHostMac.end()));
    EXPECT_EQ(tries, 77u);  // status 0 leaves the tries alone
}

TEST_F(ScriptedCard, VerifyPinCodeSendsAtMostSixteenCharacters) {
    answer(response(0x721, 64));
    uint32_t tries = 0;
    ASSERT_EQ(QeltVerifyPinCode(text("ABCDEFGHIJKLMNOPQRST"), 16, &tries), 0u);
    const Frame f = sent()[0];
    EXPECT_EQ(be32_at(f, 16), 16u);
    EXPECT_EQ(slice(f, 20, 16), Frame(text("ABCDEFGHIJKLMNOP"), text("ABCDEFGHIJKLMNOP") + 16));
    EXPECT_EQ(slice(f, 36, 6), Frame(kHostMac.begin(), kHostMac.end()));
    EXPECT_EQ(slice(f, 42, 22), Frame(22, 0));
}

TEST_F(ScriptedCard, VerifyPinCodeWithoutAnAdapterSendsZeroMac) {
    sim::network_set_adapters({});
    Frame wrong = response(0x721, 64, 20);
    put_be32(wrong, 16, 5);
    answer(wrong);
    uint32_t tries = 0;
    EXPECT_EQ(QeltVerifyPinCode(text("12345678"), 8, &tries), 20u);
    EXPECT_EQ(tries, 5u);
    EXPECT_EQ(slice(sent()[0], 36, 6), Frame(6, 0));
    EXPECT_EQ(log.messages(), (std::vector<std::string>{"get_mac fail", "proc err:00000014"}));
}

TEST_F(ScriptedCard, WrongPinWithoutATriesPointerStillReturns20) {
    answer(response(0x721, 64, 20));
    EXPECT_EQ(QeltVerifyPinCode(text("12345678"), 8, nullptr), 20u);
}

TEST_F(ScriptedCard, OtherStatusLeavesTheTriesAlone) {
    Frame refused = response(0x723, 64, 8);
    put_be32(refused, 16, 3);
    answer(refused);
    uint32_t tries = 99;
    EXPECT_EQ(QeltSetPinCode(text("12345678"), 8, text("87654321"), 8, &tries), 8u);
    EXPECT_EQ(tries, 99u);
}

TEST_F(ScriptedCard, SetPinCodeSendsBothLengthsAndFields) {
    Frame wrong = response(0x723, 64, 20);
    put_be32(wrong, 16, 0x01020304);
    answer(wrong);
    uint32_t tries = 0;
    EXPECT_EQ(QeltSetPinCode(text("oldpin-1"), 8, text("new-pin-sixteen!"), 16, &tries), 20u);
    EXPECT_EQ(tries, 0x01020304u);
    const Frame f = sent()[0];
    EXPECT_EQ(be32_at(f, 16), 8u);
    Frame old_field(text("oldpin-1"), text("oldpin-1") + 8);
    old_field.resize(16);
    EXPECT_EQ(slice(f, 20, 16), old_field);
    EXPECT_EQ(be32_at(f, 36), 16u);
    EXPECT_EQ(slice(f, 40, 16), Frame(text("new-pin-sixteen!"), text("new-pin-sixteen!") + 16));
}

TEST_F(ScriptedCard, CardInfoFromStateByteAndSerial) {
    Frame r = response(0x720, 128);
    r[16] = 0x12;
    put(r, 73, counting(16));
    put(r, 17, Frame(56, 0xEE));  // not read
    answer(r);
    uint8_t info[CARD_INFO_SIZE];
    std::memset(info, 0xA5, sizeof info);
    ASSERT_EQ(QeltQueryCardInfo(info), 0u);
    EXPECT_EQ(info[0], 0x12);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(info + 1)), "000102030405060708090a0b0c0d0e0f");
    EXPECT_EQ(info[33], 0);
    EXPECT_EQ(Frame(info + 34, info + 38), (Frame{0x20, 0x00, 0x00, 0x00}));
}

TEST_F(ScriptedCard, ExportPubkeysSplitsTheAnswer) {
    Frame r = response(0x724, 192);
    put(r, 16, counting(128, 1));
    answer(r);
    uint8_t sign[64], enc[64];
    ASSERT_EQ(QeltExportPubkeys(sign, enc), 0u);
    EXPECT_EQ(Frame(sign, sign + 64), counting(64, 1));
    EXPECT_EQ(Frame(enc, enc + 64), counting(64, 65));
}

TEST_F(ScriptedCard, Sm2SignInSendsTheDigestUnderTheSigningKey) {
    const auto signer = [] {
        uint8_t priv[32], pub[64];
        EXPECT_EQ(sm2_make_keypair(priv, pub), 0);
        return Frame(pub, pub + 64);
    }();
    Frame keys = response(0x724, 192);
    put(keys, 16, signer);
    put(keys, 80, counting(64, 9));  // the encryption key plays no part
    answer(keys);
    Frame signed_answer = response(0x725, 128);
    put(signed_answer, 16, counting(64, 100));
    answer(signed_answer);
    const Frame message = counting(1000, 3);
    uint8_t signature[64];
    ASSERT_EQ(QeltSm2SignIn(message.data(), 1000, signature), 0u);
    const auto frames = sent();
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(le32_at(frames[0], 0), 0x724u);
    EXPECT_EQ(le32_at(frames[1], 0), 0x725u);
    uint8_t e[32];
    sm2_msg_digest(signer.data(), message.data(), 1000, e);
    EXPECT_EQ(slice(frames[1], 16, 32), Frame(e, e + 32));
    EXPECT_EQ(slice(frames[1], 48, 16), Frame(16, 0));
    EXPECT_EQ(Frame(signature, signature + 64), counting(64, 100));
}

TEST_F(ScriptedCard, Sm2SignInStopsWhenTheKeyExportFails) {
    answer(response(0x724, 64));  // short: 192 expected
    uint8_t signature[64];
    std::memset(signature, 0xA5, sizeof signature);
    EXPECT_EQ(QeltSm2SignIn(k16, 16, signature), 17u);
    EXPECT_EQ(sent().size(), 1u);
    EXPECT_EQ(log.messages().size(), 2u);  // the export's read lines only
    for (uint8_t b : signature) EXPECT_EQ(b, 0xA5);
}

TEST_F(ScriptedCard, ImportKeySendsTheBytesAsGiven) {
    answer(response(0x72C, 64));
    const Frame key = counting(128, 50);
    ASSERT_EQ(QeltImportKey(key.data(), 128), 0u);
    EXPECT_EQ(slice(sent()[0], 16, 128), key);
    EXPECT_EQ(slice(sent()[0], 144, 48), Frame(48, 0));
}

// ---- Challenge, unlock, PIN reset, zeroise ----

TEST_F(ScriptedCard, ChallengeComesFromOffset16) {
    Frame r = response(0x726, 64);
    put(r, 16, counting(16, 0xC0));
    answer(r);
    uint8_t challenge[16];
    ASSERT_EQ(QeltGetChallengeCode(challenge), 0u);
    EXPECT_EQ(Frame(challenge, challenge + 16), counting(16, 0xC0));
}

TEST_F(ScriptedCard, UnlockAndZeroiseCarryChallengeExtraSignature) {
    const Frame challenge = counting(16, 1), extra = counting(16, 17), signature = counting(64, 33);
    for (uint32_t code : {0x727u, 0x732u}) {
        card.queue->push(response(code, 64));
        const uint32_t result =
            code == 0x727 ? QeltUnlockCard(challenge.data(), extra.data(), signature.data())
                          : QeltZeroSetCard(challenge.data(), extra.data(), signature.data());
        ASSERT_EQ(result, 0u);
    }
    for (const Frame& f : sent()) {
        EXPECT_EQ(slice(f, 16, 96), counting(96, 1));
        EXPECT_EQ(slice(f, 112, 16), Frame(16, 0));
    }
}

TEST_F(ScriptedCard, ResetPinPutsThePinFieldBetweenChallengeAndExtra) {
    const Frame challenge = counting(16, 1), extra = counting(16, 17), signature = counting(64, 33);
    // An 8-character PIN: the NUL at 40, then the field's bytes as the caller holds them.
    uint8_t short_pin[17] = {'1', '2', '3', '4', '5', '6', '7', '8', 0, 9, 9, 9, 9, 9, 9, 9, 9};
    uint8_t long_pin[17] = "abcdefghijklmnop";
    answer(response(0x728, 64));
    answer(response(0x728, 64));
    ASSERT_EQ(QeltResetPin(challenge.data(), extra.data(), short_pin, signature.data()), 0u);
    ASSERT_EQ(QeltResetPin(challenge.data(), extra.data(), long_pin, signature.data()), 0u);
    const auto frames = sent();
    for (const Frame& f : frames) {
        EXPECT_EQ(slice(f, 16, 16), challenge);
        EXPECT_EQ(slice(f, 49, 16), extra);
        EXPECT_EQ(slice(f, 65, 64), signature);
        EXPECT_EQ(slice(f, 129, 63), Frame(63, 0));
    }
    EXPECT_EQ(slice(frames[0], 32, 17), Frame(short_pin, short_pin + 17));
    EXPECT_EQ(frames[0][40], 0);
    EXPECT_EQ(slice(frames[1], 32, 17), Frame(long_pin, long_pin + 17));
    EXPECT_EQ(frames[1][48], 0);
}

// ---- Binding ----

TEST_F(ScriptedCard, BindCurMacSendsThisHost) {
    answer(response(0x72E, 64));
    ASSERT_EQ(QeltBindCurMac(), 0u);
    EXPECT_EQ(slice(sent()[0], 16, 6), Frame(kHostMac.begin(), kHostMac.end()));
}

TEST_F(ScriptedCard, BindCurMacWithoutAnAdapterGives11AndSendsNothing) {
    sim::network_set_adapters({});
    EXPECT_EQ(QeltBindCurMac(), 11u);
    EXPECT_TRUE(sent().empty());
    EXPECT_EQ(log.messages(), std::vector<std::string>{"GetMac err[-1]"});
}

TEST_F(ScriptedCard, UnbindMacSendsTheCallersAddress) {
    answer(response(0x72F, 64, 13));
    const Frame mac = {1, 2, 3, 4, 5, 6};
    EXPECT_EQ(QeltUnbindMac(mac.data()), 13u);
    EXPECT_EQ(slice(sent()[0], 16, 6), mac);
}

TEST_F(ScriptedCard, BoundListIsCopiedWholeAndCountersAreUnsigned) {
    Frame r = response(0x730, 128);
    put(r, 16, Frame{0xFF, 0x02, 0x80, 0x77});
    put(r, 20, counting(30, 0xA0));
    answer(r);
    uint32_t index = 1, count = 1, left = 1;
    uint8_t list[30] = {};
    ASSERT_EQ(QeltQueryBindedMac(&index, &count, &left, list), 0u);
    EXPECT_EQ(index, 255u);
    EXPECT_EQ(count, 2u);
    EXPECT_EQ(left, 128u);
    EXPECT_EQ(Frame(list, list + 30), counting(30, 0xA0));
}

// ---- Outputs stay as they were on a refusal ----

struct Refusal {
    const char* name;
    uint32_t code;
    size_t answer;
    std::function<uint32_t(uint8_t*)> call;  // given a buffer filled with a pattern
};

void PrintTo(const Refusal& r, std::ostream* os) {
    *os << r.name;
}

class RefusedOutputs : public ScriptedCard, public ::testing::WithParamInterface<Refusal> {};

TEST_P(RefusedOutputs, StayUntouched) {
    const Refusal& c = GetParam();
    Frame r = response(c.code, c.answer, 0x6A82);
    for (size_t i = 16; i < r.size(); ++i) r[i] = 0x11;
    answer(r);
    uint8_t buffer[8192];
    std::memset(buffer, 0xA5, sizeof buffer);
    EXPECT_EQ(c.call(buffer), 0x6A82u);
    for (uint8_t b : buffer) ASSERT_EQ(b, 0xA5);
    EXPECT_EQ(log.messages(), std::vector<std::string>{"proc err:00006a82"});
}

uint32_t* u32_in(uint8_t* buffer, size_t offset) {
    return reinterpret_cast<uint32_t*>(buffer + offset);
}

INSTANTIATE_TEST_SUITE_P(
    EveryOutput, RefusedOutputs,
    ::testing::Values(
        Refusal{"QueryCardInfo", 0x720, 128, [](uint8_t* b) { return QeltQueryCardInfo(b); }},
        Refusal{"ExportPubkeys", 0x724, 192,
                [](uint8_t* b) { return QeltExportPubkeys(b, b + 64); }},
        Refusal{"GetChallengeCode", 0x726, 64, [](uint8_t* b) { return QeltGetChallengeCode(b); }},
        Refusal{"QueryBindedMac", 0x730, 128,
                [](uint8_t* b) {
                    return QeltQueryBindedMac(u32_in(b, 0), u32_in(b, 4), u32_in(b, 8), b + 12);
                }},
        Refusal{"GenRand", 0x72D, 4160, [](uint8_t* b) { return QeltGenRand(b, 4096); }},
        Refusal{"GenWrappedSk", 0x729, 192,
                [](uint8_t* b) { return brel_gen_wrapped_sk(k64, b, u32_in(b, 128)); }},
        Refusal{"ImportSk", 0x72A, 64,
                [](uint8_t* b) { return brel_import_sk(k128, u32_in(b, 0)); }},
        Refusal{"XtsEnc", 0x733, 4160,
                [](uint8_t* b) { return brel_xts_enc(5, k16, b + 4096, 4096, b); }}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
