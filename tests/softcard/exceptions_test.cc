// No exception crosses an export of the software-card build. A platform call that raises
// std::bad_alloc (a file's open, read or write, as the platform's own raise when they cannot
// allocate) ends a card export with 1 and a volume export with 1 and the text of
// ERROR_NOT_ENOUGH_MEMORY; the store lock is free again for the next call. A program of its own:
// it stands in front of the platform's file calls.
#include <functional>
#include <ostream>
#include <string>

#include "crypto/sm2_encrypt.h"
#include "tests/support/admin_signer.h"
#include "tests/support/log_capture.h"
#include "tests/support/raising_calls.h"
#include "tests/support/raising_exports.h"
#include "tests/support/softcard_fixture.h"
#include "volume/exports.h"

namespace {

const std::string kPlain = std::string(kFiles) + "/plain.bin";
const std::string kEnvelope = std::string(kFiles) + "/plain.ev";

struct ExportCall {
    const char* name;
    std::function<uint32_t()> call;
};

// A signed challenge for the administrator's exports.
struct Signed {
    uint8_t challenge[16] = {}, extra[16] = {}, pin[17] = "0123456789abcdef";
    std::vector<uint8_t> signature;
};
Signed& signed_challenge() {
    static Signed s;
    return s;
}

void PrintTo(const ExportCall& c, std::ostream* os) {
    *os << c.name;
}

class RaisingCalls : public SoftcardTest, public ::testing::WithParamInterface<ExportCall> {
  protected:
    // A fresh card, logged in and bound, with an envelope of the plaintext and a challenge that
    // the administrator signed for a PIN reset.
    void prepare() {
        card_session() = CardSession{};
        fresh_bound_login();
        uint8_t sign[64];
        ASSERT_EQ(QeltExportPubkeys(sign, enc_public), 0u);
        write_file_bytes(root.path(kPlain), std::vector<uint8_t>(3000, 0x5A));
        testing::internal::CaptureStdout();
        ASSERT_EQ(QeltEvEncFile(enc_public, kPlain.c_str(), kEnvelope.c_str()), 0u);
        testing::internal::GetCapturedStdout();
        Signed& s = signed_challenge();
        ASSERT_EQ(QeltGetChallengeCode(s.challenge), 0u);
        s.signature = admin_signature({std::vector<uint8_t>(s.challenge, s.challenge + 16),
                                       std::vector<uint8_t>(s.pin, s.pin + 17),
                                       std::vector<uint8_t>(s.extra, s.extra + 16)});
    }

  public:
    static uint8_t enc_public[64];
};
uint8_t RaisingCalls::enc_public[64];

TEST_P(RaisingCalls, EndTheExportWith1) {
    const ExportCall& c = GetParam();
    int raised = 0;
    for (long n = 0;; ++n) {
        prepare();
        uint32_t result = 99;
        bool crossed = false;
        testing::internal::CaptureStdout();
        raising::arm(n);
        try {
            result = c.call();
        } catch (...) {
            crossed = true;
        }
        const bool armed_raised = raising::disarm();
        testing::internal::GetCapturedStdout();
        if (!armed_raised) break;
        ++raised;
        SCOPED_TRACE(std::string(c.name) + ", call " + std::to_string(n) + " raised");
        ASSERT_FALSE(crossed);
        EXPECT_EQ(result, 1u);
        // The store lock was released (held, this thread would wait here for ever).
        const StoreLock lock;
        EXPECT_TRUE(lock.held());
    }
    EXPECT_GT(raised, 0) << c.name;
}

uint8_t card_info[CARD_INFO_SIZE], key_ct[128], signature[64], macs[30];
uint32_t tries, counts[3];

INSTANTIATE_TEST_SUITE_P(
    CardExports, RaisingCalls,
    ::testing::Values(
        ExportCall{"InitCfg", [] { return init_cfg(); }},
        ExportCall{"QueryCardInfo", [] { return QeltQueryCardInfo(card_info); }},
        ExportCall{"VerifyPinCode",
                   [] {
                       QeltCardLoginOut();
                       return QeltVerifyPinCode(bytes_of(kDefaultPin), 8, &tries);
                   }},
        ExportCall{"SetPinCode",
                   [] {
                       return QeltSetPinCode(bytes_of(kDefaultPin), 8, bytes_of(kOtherPin), 8,
                                             &tries);
                   }},
        ExportCall{"ResetPin",
                   [] {
                       const Signed& s = signed_challenge();
                       return QeltResetPin(s.challenge, s.extra, s.pin, s.signature.data());
                   }},
        ExportCall{"ImportKey",
                   [] {
                       const uint8_t key[32] = {7};
                       sm2_encrypt(RaisingCalls::enc_public, key, 32, key_ct, nullptr);
                       return QeltImportKey(key_ct, 128);
                   }},
        ExportCall{"Sm2SignIn", [] { return QeltSm2SignIn(bytes_of("message"), 7, signature); }},
        ExportCall{"UnbindMac", [] { return QeltUnbindMac(kSimulatedPc.data()); }},
        ExportCall{"QueryBindedMac",
                   [] { return QeltQueryBindedMac(&counts[0], &counts[1], &counts[2], macs); }},
        ExportCall{"EvEncFile",
                   [] {
                       return QeltEvEncFile(RaisingCalls::enc_public, kPlain.c_str(),
                                            (kEnvelope + "2").c_str());
                   }},
        ExportCall{"EvDecFile",
                   [] { return QeltEvDecFile(kEnvelope.c_str(), (kPlain + "2").c_str()); }}),
    [](const auto& info) { return std::string(info.param.name); });

// The volume exports: the first file call raising.
TEST_F(SoftcardTest, VolumeExportsGive1AndTheTextOfNoMemory) {
    ASSERT_EQ(init_cfg(), 0u);
    const LogCapture log;  // the traces go here, not through a file
    const uint8_t key[32] = {1};
    const std::string image = std::string("C:\\Halden\\files\\vol.img");
    write_file_bytes(root.path("C:/Halden/files/vol.img"), std::vector<uint8_t>(1 << 20));
    const char letter = free_letter();
    const VolumeFormatArgs format{image.c_str(), 1 << 20, 1, letter};
    const VolumeMountArgs mount{image.c_str(), 1, letter};
    expect_first_raise_ends_with_1(
        {{kCreateVolume,
          [&](char* text, uint32_t size) { return QeltFormatVolume(&format, text, size); }},
         {kMountVolume,
          [&](char* text, uint32_t size) { return QeltMountVolume(&mount, text, size, 1, key); }}},
        letter);
}

}  // namespace
