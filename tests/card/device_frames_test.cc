// The command exchange against a scripted card: every command's frame sizes and header words, the
// status word, the card's header fields that are not read, and each failure's log lines, result
// and release of the card lock and link.
#include <gtest/gtest.h>

#include <functional>
#include <ostream>
#include <string>

#include "card/card_api.h"
#include "card/commands/card_random.h"
#include "card/commands/key_backup.h"
#include "card/commands/key_slots.h"
#include "tests/card/scripted_card.h"

namespace {

const uint8_t kPin[] = "14725836";
const uint8_t kNewPinField[17] = "36925814";
const uint8_t k16[16] = {};
const uint8_t k64[64] = {};
const uint8_t k128[128] = {};
const uint8_t k304[304] = {};

struct FrameCase {
    const char* name;
    uint32_t code;
    size_t sent;  // request length on the wire
    size_t read;  // response length read
    std::function<uint32_t()> call;
};

void PrintTo(const FrameCase& c, std::ostream* os) {
    *os << c.name;
}

uint8_t out[8192];
uint32_t u32;

const FrameCase kFrameCases[] = {
    {"QueryCardInfo", 0x720, 64, 128, [] { return QeltQueryCardInfo(out); }},
    {"VerifyPinCode", 0x721, 64, 64, [] { return QeltVerifyPinCode(kPin, 8, &u32); }},
    {"CardLoginOut", 0x722, 64, 64, [] { return QeltCardLoginOut(); }},
    {"SetPinCode", 0x723, 64, 64, [] { return QeltSetPinCode(kPin, 8, kPin, 8, &u32); }},
    {"ExportPubkeys", 0x724, 64, 192, [] { return QeltExportPubkeys(out, out + 64); }},
    {"GetChallengeCode", 0x726, 64, 64, [] { return QeltGetChallengeCode(out); }},
    {"UnlockCard", 0x727, 128, 64, [] { return QeltUnlockCard(k16, k16, k64); }},
    {"ResetPin", 0x728, 192, 64, [] { return QeltResetPin(k16, k16, kNewPinField, k64); }},
    {"GenWrappedSk", 0x729, 128, 192, [] { return brel_gen_wrapped_sk(k64, out, &u32); }},
    {"ImportSk", 0x72A, 192, 64, [] { return brel_import_sk(k128, &u32); }},
    {"FreeSk", 0x72B, 64, 64, [] { return brel_free_sk(128); }},
    {"ImportKey", 0x72C, 192, 64, [] { return QeltImportKey(k128, 128); }},
    {"GenRandom1", 0x72D, 64, 64, [] { return brel_gen_random(out, 1); }},
    {"GenRandom48", 0x72D, 64, 64, [] { return brel_gen_random(out, 48); }},
    {"GenRandom49", 0x72D, 64, 128, [] { return brel_gen_random(out, 49); }},
    {"GenRandom4096", 0x72D, 64, 4160, [] { return brel_gen_random(out, 4096); }},
    {"BindCurMac", 0x72E, 64, 64, [] { return QeltBindCurMac(); }},
    {"UnbindMac", 0x72F, 64, 64, [] { return QeltUnbindMac(k16); }},
    {"QueryBindedMac", 0x730, 64, 128, [] { return QeltQueryBindedMac(&u32, &u32, &u32, out); }},
    {"ZeroSetCard", 0x732, 128, 64, [] { return QeltZeroSetCard(k16, k16, k64); }},
    {"XtsEnc16", 0x733, 64, 64, [] { return brel_xts_enc(1, k16, k128, 16, out); }},
    {"XtsEnc4096", 0x733, 4160, 4160, [] { return brel_xts_enc(1, k16, out, 4096, out); }},
    {"XtsDec16", 0x734, 64, 64, [] { return brel_xts_dec(1, k16, k128, 16, out); }},
    {"XtsDec4096", 0x734, 4160, 4160, [] { return brel_xts_dec(1, k16, out, 4096, out); }},
    {"BackupXk", 0x735, 64, 320, [] { return brel_backup_xk(k64, out); }},
    {"RecoveryXk", 0x736, 384, 64, [] { return brel_recovery_xk(k64, k304); }},
    {"ActiveDevEx", 0x737, 64, 64, [] { return QeltActiveDevEx(); }},
    {"Unsupport", 0x767, 64, 64, [] { return BREL_Unsupport(); }},
};

class Frames : public ScriptedCard, public ::testing::WithParamInterface<FrameCase> {};

TEST_P(Frames, SentAndReadAtRoundedLengthsWithTheHeaderWords) {
    const FrameCase& c = GetParam();
    // Longer than any read: the read takes what it asked for.
    answer(response(c.code, 8192));
    EXPECT_EQ(c.call(), 0u);
    const auto frames = sent();
    ASSERT_EQ(frames.size(), 1u);
    const Frame& f = frames[0];
    EXPECT_EQ(f.size(), c.sent);
    EXPECT_EQ(le32_at(f, 0), c.code);
    EXPECT_EQ(slice(f, 4, 4), (Frame{0x00, 0x00, 0x05, 0x35}));
    EXPECT_EQ(le32_at(f, 8), c.sent - 16);
    EXPECT_EQ(be32_at(f, 12), 0u);
    EXPECT_EQ(read_lengths(), std::vector<size_t>{c.read});
    EXPECT_EQ(card.device->open_handles(), 0u);
    EXPECT_TRUE(log.messages().empty());
}

INSTANTIATE_TEST_SUITE_P(EveryCommand, Frames, ::testing::ValuesIn(kFrameCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(ScriptedCard, PayloadlessRequestIs64BytesWithPayloadLength48) {
    answer(response(0x722, 64));
    ASSERT_EQ(QeltCardLoginOut(), 0u);
    EXPECT_EQ(sent()[0],
              (Frame{0x22, 0x07, 0x00, 0x00, 0x00, 0x00, 0x05, 0x35, 0x30, 0x00, 0x00, 0x00, 0x00,
                     0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
                     0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
                     0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
                     0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}));
}

TEST_F(ScriptedCard, StatusIsReadBigEndian) {
    Frame big = response(0x737, 64);
    put(big, 12, Frame{0x00, 0x00, 0x00, 0x14});
    answer(big);
    EXPECT_EQ(QeltActiveDevEx(), 20u);
    Frame little = response(0x737, 64);
    put(little, 12, Frame{0x14, 0x00, 0x00, 0x00});
    answer(little);
    EXPECT_EQ(QeltActiveDevEx(), 0x14000000u);
    EXPECT_EQ(log.messages(), (std::vector<std::string>{"proc err:00000014", "proc err:14000000"}));
}

TEST_F(ScriptedCard, ResponseHeaderOtherThanStatusIsNotRead) {
    Frame odd(128, 0);
    put(odd, 0, Frame{0xEF, 0xBE, 0xAD, 0xDE});  // another code
    put(odd, 4, Frame{0x35, 0x05, 0x00, 0x00});  // another tag
    put(odd, 8, Frame{0x78, 0x56, 0x34, 0x12});  // any payload length
    odd[16] = 0x42;
    answer(odd);
    uint8_t info[CARD_INFO_SIZE];
    EXPECT_EQ(QeltQueryCardInfo(info), 0u);
    EXPECT_EQ(info[0], 0x42);
}

// After a failed open, write or read, the lock is free and the link closed: the next call runs.
void expect_next_call_works(usbtest::Card& card) {
    card.device->clear_faults();
    card.queue->push(response(0x722, 64));
    EXPECT_EQ(QeltCardLoginOut(), 0u);
    EXPECT_EQ(card.device->open_handles(), 0u);
}

TEST_F(ScriptedCard, NoCardGives17AfterTheOpenError) {
    sim::usb::unplug_all();
    EXPECT_EQ(QeltCardLoginOut(), 17u);
    EXPECT_EQ(log.messages(), std::vector<std::string>{"open_usb_dev error:-2"});
    card = usbtest::plug_card();
    expect_next_call_works(card);
}

TEST_F(ScriptedCard, FailedWriteGives17WithTheBufferLine) {
    card.device->set_fault(0x02, {.transfers = 1, .usbd_status = sim::usb::kUsbdStall});
    EXPECT_EQ(QeltCardLoginOut(), 17u);
    const auto lines = log.messages();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "write error:-3");
    EXPECT_EQ(lines[1].rfind("sendbuf[", 0), 0u) << lines[1];
    EXPECT_NE(lines[1].find("]send_len[64]"), std::string::npos) << lines[1];
    EXPECT_TRUE(read_lengths().empty());
    expect_next_call_works(card);
}

TEST_F(ScriptedCard, ShortWriteGives17) {
    card.device->set_fault(0x02, {.transfers = 1, .max_bytes = 32});
    EXPECT_EQ(QeltUnlockCard(k16, k16, k64), 17u);
    const auto lines = log.messages();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "write error:-2");
    EXPECT_NE(lines[1].find("]send_len[128]"), std::string::npos) << lines[1];
    expect_next_call_works(card);
}

TEST_F(ScriptedCard, ShortAnswerGives17WithTheBufferLine) {
    uint8_t info[CARD_INFO_SIZE];
    std::fill(std::begin(info), std::end(info), 0xA5);
    answer(response(0x720, 64));  // 128 expected
    EXPECT_EQ(QeltQueryCardInfo(info), 17u);
    const auto lines = log.messages();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "read error:-2");
    EXPECT_EQ(lines[1].rfind("recvbuf[", 0), 0u) << lines[1];
    EXPECT_NE(lines[1].find("]recv_len[128]"), std::string::npos) << lines[1];
    for (uint8_t b : info) EXPECT_EQ(b, 0xA5);
    expect_next_call_works(card);
}

TEST_F(ScriptedCard, MissingAnswerTimesOutWith17) {
    EXPECT_EQ(QeltActiveDevEx(), 17u);  // nothing queued: the read is aborted after 3 s
    EXPECT_EQ(log.messages()[0], "read error:-3");
    expect_next_call_works(card);
}

TEST_F(ScriptedCard, FramesAreDumpedAtDebugAndTheAnswerEvenAfterAFailedRead) {
    LogSetLevel(LOG_DEBUG);
    uint8_t pin_field[17] = "12345678";
    answer(response(0x728, 32));  // short
    EXPECT_EQ(QeltResetPin(k16, k16, pin_field, k64), 17u);
    const auto dumps = log.messages(LOG_DEBUG);
    ASSERT_EQ(dumps.size(), 2u);
    EXPECT_EQ(dumps[0].rfind("sendbuf \n0x00000: 28 07 00 00 00 00 05 35 b0 00 00 00 ", 0), 0u);
    // The PIN field starts at offset 32.
    EXPECT_NE(dumps[0].find("\n0x00020: 31 32 33 34 35 36 37 38 00 00 00 00 00 00 00 00 \n"),
              std::string::npos)
        << dumps[0];
    EXPECT_EQ(dumps[1].rfind("recvbuf \n0x00000: 28 07 00 00 00 00 05 35 10 00 00 00 ", 0), 0u)
        << dumps[1];
    // The dump comes before the failure's lines.
    const auto all = log.all();
    ASSERT_GE(all.size(), 4u);
    EXPECT_EQ(all[0].level, LOG_DEBUG);
    EXPECT_EQ(all[1].level, LOG_DEBUG);
    EXPECT_EQ(all[2].message, "read error:-2");
}

TEST_F(ScriptedCard, FailuresAreLoggedAtTheCommandsOwnSite) {
    sim::usb::unplug_all();
    uint8_t info[CARD_INFO_SIZE];
    QeltQueryCardInfo(info);
    QeltCardLoginOut();
    const auto lines = log.all();
    ASSERT_EQ(lines.size(), 2u);
    for (const auto& l : lines) {
        EXPECT_EQ(l.level, LOG_ERROR);
        EXPECT_FALSE(l.file.empty());
        EXPECT_EQ(l.file.find('/'), std::string::npos) << l.file;
    }
    EXPECT_NE(lines[0].line, lines[1].line);
}

}  // namespace
