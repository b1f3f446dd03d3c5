// What needs no card: the argument checks, which return 3 without waiting for the card lock, and
// every card export on a machine without the card, which answers 17. Runs on Linux and under
// Wine.
#include <gtest/gtest.h>

#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <ostream>
#include <string>
#include <thread>

#include "card/card_api.h"
#include "card/commands/card_random.h"
#include "card/commands/key_backup.h"
#include "card/commands/key_slots.h"
#include "card/containers/fpga_frame.h"
#include "card/exchange/card_lock.h"
#include "tests/support/log_capture.h"

namespace {

const uint8_t k16[16] = {};
const uint8_t k64[64] = {};
const uint8_t k128[128] = {};
const uint8_t kPin[] = "14725836";
const uint8_t kBlock[4096] = {};
const std::string kPath255(255, 'p');
uint8_t out[4096];
uint32_t u32;

struct Call {
    const char* name;
    std::function<uint32_t()> call;
};

void PrintTo(const Call& c, std::ostream* os) {
    *os << c.name;
}

// A thread that holds the card lock until the fixture ends.
class LockHolder {
  public:
    LockHolder() {
        holder_ = std::thread([this] {
            std::lock_guard card(card_lock());
            std::unique_lock l(m_);
            held_ = true;
            cv_.notify_all();
            cv_.wait(l, [this] { return release_; });
        });
        std::unique_lock l(m_);
        cv_.wait(l, [this] { return held_; });
    }
    ~LockHolder() {
        {
            std::lock_guard l(m_);
            release_ = true;
        }
        cv_.notify_all();
        holder_.join();
    }

  private:
    std::mutex m_;
    std::condition_variable cv_;
    bool held_ = false, release_ = false;
    std::thread holder_;
};

const uint8_t kPinField7[17] = "1234567";
const uint8_t kPinField16[17] = "1234567890123456";
const uint8_t kPinField17[17] = {'1', '2', '3', '4', '5', '6', '7', '8', '9',
                                 '0', '1', '2', '3', '4', '5', '6', '7'};

const Call kInvalid[] = {
    {"QueryCardInfoNull", [] { return QeltQueryCardInfo(nullptr); }},
    {"VerifyPinNull", [] { return QeltVerifyPinCode(nullptr, 8, &u32); }},
    {"VerifyPin7", [] { return QeltVerifyPinCode(kPin, 7, &u32); }},
    {"VerifyPin17", [] { return QeltVerifyPinCode(kPin, 17, &u32); }},
    {"SetPinOldNull", [] { return QeltSetPinCode(nullptr, 8, kPin, 8, &u32); }},
    {"SetPinNewNull", [] { return QeltSetPinCode(kPin, 8, nullptr, 8, &u32); }},
    {"SetPinOld7", [] { return QeltSetPinCode(kPin, 7, kPin, 8, &u32); }},
    {"SetPinNew17", [] { return QeltSetPinCode(kPin, 8, kPin, 17, &u32); }},
    {"ExportPubkeysSignNull", [] { return QeltExportPubkeys(nullptr, out); }},
    {"ExportPubkeysEncNull", [] { return QeltExportPubkeys(out, nullptr); }},
    {"SignInMessageNull", [] { return QeltSm2SignIn(nullptr, 1, out); }},
    {"SignInSignatureNull", [] { return QeltSm2SignIn(k16, 1, nullptr); }},
    {"SignInLength0", [] { return QeltSm2SignIn(k16, 0, out); }},
    {"ImportKeyNull", [] { return QeltImportKey(nullptr, 128); }},
    {"ImportKey127", [] { return QeltImportKey(k128, 127); }},
    {"ImportKey129", [] { return QeltImportKey(k128, 129); }},
    {"ChallengeNull", [] { return QeltGetChallengeCode(nullptr); }},
    {"UnlockChallengeNull", [] { return QeltUnlockCard(nullptr, k16, k64); }},
    {"UnlockExtraNull", [] { return QeltUnlockCard(k16, nullptr, k64); }},
    {"UnlockSignatureNull", [] { return QeltUnlockCard(k16, k16, nullptr); }},
    {"ZeroSetNull", [] { return QeltZeroSetCard(k16, nullptr, k64); }},
    {"ResetPinNewPinNull", [] { return QeltResetPin(k16, k16, nullptr, k64); }},
    {"ResetPinSignatureNull", [] { return QeltResetPin(k16, k16, kPinField17, nullptr); }},
    {"ResetPin7", [] { return QeltResetPin(k16, k16, kPinField7, k64); }},
    {"ResetPin17", [] { return QeltResetPin(k16, k16, kPinField17, k64); }},
    {"UnbindNull", [] { return QeltUnbindMac(nullptr); }},
    {"QueryBoundNull", [] { return QeltQueryBindedMac(&u32, &u32, nullptr, out); }},
    {"QueryBoundListNull", [] { return QeltQueryBindedMac(&u32, &u32, &u32, nullptr); }},
    {"GenRandNull", [] { return QeltGenRand(nullptr, 16); }},
    {"GenRand0", [] { return QeltGenRand(out, 0); }},
    {"GenRandomNull", [] { return brel_gen_random(nullptr, 16); }},
    {"GenRandom0", [] { return brel_gen_random(out, 0); }},
    {"GenRandom4097", [] { return brel_gen_random(out, 4097); }},
    {"CardCountNull", [] { return QeltGetCardCnt(nullptr); }},
    {"BackupNameNull", [] { return QeltBackupXk(nullptr, "password"); }},
    {"BackupPassword7", [] { return QeltBackupXk("backup.bin", "passwor"); }},
    {"RecoveryEmptyName", [] { return QeltRecoveryXk("", "password"); }},
    {"BrelBackupNull", [] { return brel_backup_xk(k64, nullptr); }},
    {"BrelRecoveryNull", [] { return brel_recovery_xk(nullptr, out); }},
    {"GenWrappedNull", [] { return brel_gen_wrapped_sk(k64, out, nullptr); }},
    {"ImportSkNull", [] { return brel_import_sk(nullptr, &u32); }},
    {"FreeSk0", [] { return brel_free_sk(0); }},
    {"XtsLength8", [] { return brel_xts_enc(1, k16, k128, 8, out); }},
    {"XtsSlot129", [] { return brel_xts_dec(129, k16, k128, 16, out); }},
    {"FpgaLength4095", [] { return brel_xts_fpga(1, k16, kBlock, 4095, out, 1); }},
    {"FpgaLength4097", [] { return brel_xts_fpga(1, k16, kBlock, 4097, out, 0); }},
    {"FpgaSlot129", [] { return brel_xts_fpga(129, k16, kBlock, 4096, out, 1); }},
    {"FpgaTweakNull", [] { return brel_xts_fpga(1, nullptr, kBlock, 4096, out, 1); }},
    {"FpgaInNull", [] { return brel_xts_fpga(1, k16, nullptr, 4096, out, 1); }},
    {"FpgaOutNull", [] { return brel_xts_fpga(1, k16, kBlock, 4096, nullptr, 1); }},
    {"FpgaDevLength4097",
     [] {
         return static_cast<uint32_t>(brel_xts_fpga_dev(nullptr, 1, k16, kBlock, 4097, out, 1));
     }},
    {"FpgaDevSlot129",
     [] {
         return static_cast<uint32_t>(brel_xts_fpga_dev(nullptr, 129, k16, kBlock, 4096, out, 1));
     }},
    {"FpgaRawKeyNull", [] { return brel_xts_fpga_rawkey(nullptr, kBlock, 4096, out, 1); }},
    {"FpgaRawKeyLength4095", [] { return brel_xts_fpga_rawkey(k64, kBlock, 4095, out, 1); }},
    {"EncFilePkeNull", [] { return QeltEvEncFile(nullptr, "a", "b"); }},
    {"EncFileEmptyPath", [] { return QeltEvEncFile(k64, "", "b"); }},
    {"EncFilePath255", [] { return QeltEvEncFile(k64, "a", kPath255.c_str()); }},
    {"DecFileNull", [] { return QeltEvDecFile(nullptr, "a"); }},
    {"DecFilePath255", [] { return QeltEvDecFile("a", kPath255.c_str()); }},
    {"EncFileFpgaPath255", [] { return QeltEvEncFile_FPGA(k64, kPath255.c_str(), "b"); }},
};

class InvalidArguments : public ::testing::TestWithParam<Call> {};

// The check comes before the lock: with the lock held elsewhere the call returns at once (were it
// to wait for the lock, the test would hang until its time-out).
TEST_P(InvalidArguments, GiveThreeWithoutTakingTheLock) {
    LogCapture log;
    LockHolder held;
    EXPECT_EQ(GetParam().call(), 3u);
    EXPECT_EQ(log.messages(), std::vector<std::string>{"invalid arg"});
}

INSTANTIATE_TEST_SUITE_P(EveryCheck, InvalidArguments, ::testing::ValuesIn(kInvalid),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- No card on this machine ----

std::string temp_file(const char* name) {
    return (std::filesystem::temp_directory_path() / name).string();
}

const Call kCardCalls[] = {
    {"QueryCardInfo", [] { return QeltQueryCardInfo(out); }},
    {"VerifyPinCode", [] { return QeltVerifyPinCode(kPin, 8, &u32); }},
    {"CardLoginOut", [] { return QeltCardLoginOut(); }},
    {"SetPinCode", [] { return QeltSetPinCode(kPin, 8, kPin, 8, &u32); }},
    {"ExportPubkeys", [] { return QeltExportPubkeys(out, out + 64); }},
    {"Sm2SignIn", [] { return QeltSm2SignIn(k16, 16, out); }},
    {"ImportKey", [] { return QeltImportKey(k128, 128); }},
    {"GetChallengeCode", [] { return QeltGetChallengeCode(out); }},
    {"UnlockCard", [] { return QeltUnlockCard(k16, k16, k64); }},
    {"ResetPin", [] { return QeltResetPin(k16, k16, kPinField16, k64); }},
    {"ZeroSetCard", [] { return QeltZeroSetCard(k16, k16, k64); }},
    {"UnbindMac", [] { return QeltUnbindMac(k16); }},
    {"QueryBindedMac", [] { return QeltQueryBindedMac(&u32, &u32, &u32, out); }},
    {"GenRand", [] { return QeltGenRand(out, 4096); }},
    {"ActiveDevEx", [] { return QeltActiveDevEx(); }},
    {"Unsupport", [] { return BREL_Unsupport(); }},
    {"XtsFpga", [] { return brel_xts_fpga(1, k16, kBlock, 4096, out, 1); }},
    {"XtsFpgaRawKey", [] { return brel_xts_fpga_rawkey(k64, kBlock, 4096, out, 0); }},
    {"BackupXk", [] { return QeltBackupXk(temp_file("kelvane-no-card.bak").c_str(), "password"); }},
    {"RecoveryXk",
     [] {
         const std::string name = temp_file("kelvane-no-card-recovery.bak");
         std::ofstream(name, std::ios::binary) << std::string(304, 'b');
         return QeltRecoveryXk(name.c_str(), "password");
     }},
};

class NoCard : public ::testing::TestWithParam<Call> {};

TEST_P(NoCard, AnswersSeventeen) {
    LogCapture log;
    std::memset(out, 0xA5, sizeof out);
    EXPECT_EQ(GetParam().call(), 17u);
    EXPECT_EQ(log.messages(), std::vector<std::string>{"open_usb_dev error:-2"});
    for (uint8_t b : out) ASSERT_EQ(b, 0xA5);
}

INSTANTIATE_TEST_SUITE_P(EveryCardExport, NoCard, ::testing::ValuesIn(kCardCalls),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(NoCardCount, IsZeroAndNoError) {
    uint32_t count = 7;
    EXPECT_EQ(QeltGetCardCnt(&count), 0u);
    EXPECT_EQ(count, 0u);
}

// This host's MAC comes first; without one the answer is 11, with one the missing card's 17.
TEST(NoCardBind, AnswersElevenOrSeventeen) {
    LogCapture log;
    uint8_t mac[6];
    const uint32_t expected = get_mac(mac) == 0 ? 17u : 11u;
    EXPECT_EQ(QeltBindCurMac(), expected);
}

}  // namespace
