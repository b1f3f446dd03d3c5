// Every export in each card state: no store, logged out, logged in (bound), locked.
#include <cstring>
#include <functional>

#include "softcard/admin_key.h"
#include "tests/support/softcard_fixture.h"

namespace {

enum State { kNoStore, kLoggedOut, kLoggedIn, kLocked };
const char* const kStateNames[] = {"no store", "logged out", "logged in", "locked"};

struct Row {
    const char* name;
    std::function<uint32_t()> call;
    uint32_t expected[4];  // by State
};

const MacAddress kElsewhere = {0x02, 0x11, 0x22, 0x33, 0x44, 0x55};
const std::string kPlain = std::string(kFiles) + "/pt.txt";
const std::string kEnvelope = std::string(kFiles) + "/pt.ev";
const std::string kMissing = std::string(kFiles) + "/missing.ev";
const std::string kBack = std::string(kFiles) + "/back.txt";

class StateTable : public SoftcardTest {
  protected:
    void SetUp() override {
        SoftcardTest::SetUp();
        std::ofstream(root.path(kPlain)) << "plain text";
    }
    void enter(State state) {
        card_session() = CardSession{};
        std::filesystem::remove(store_file());
        if (state == kNoStore) return;
        fresh_bound_login();
        if (state == kLoggedIn) return;
        ASSERT_EQ(QeltCardLoginOut(), 0u);
        if (state == kLocked) lock_card();
    }
};

TEST_F(StateTable, EveryExportInEveryState) {
    uint8_t info[CARD_INFO_SIZE], pub1[64], pub2[64], sig[64] = {}, challenge[16] = {},
                                                      extra[16] = {}, wrapped[128] = {};
    uint8_t pin_field[17] = "91640275";
    uint32_t tries = 0, a = 0, b = 0, c = 0;
    uint8_t macs[30], mac[6];
    const uint8_t message[] = "message";
    const std::vector<Row> rows = {
        {"QeltQueryCardInfo", [&] { return QeltQueryCardInfo(info); }, {2, 0, 0, 0}},
        {"QeltVerifyPinCode",
         [&] { return QeltVerifyPinCode(bytes_of(kDefaultPin), 8, &tries); },
         {2, 0, 14, 8}},
        {"QeltSetPinCode",
         [&] { return QeltSetPinCode(bytes_of(kDefaultPin), 8, bytes_of(kOtherPin), 8, &tries); },
         {2, 6, 0, 8}},
        {"QeltCardLoginOut", [&] { return QeltCardLoginOut(); }, {6, 6, 0, 6}},
        {"QeltBindCurMac", [&] { return QeltBindCurMac(); }, {2, 6, 10, 8}},
        {"QeltUnbindMac", [&] { return QeltUnbindMac(kElsewhere.data()); }, {2, 6, 13, 8}},
        {"QeltQueryBindedMac", [&] { return QeltQueryBindedMac(&a, &b, &c, macs); }, {2, 6, 0, 8}},
        {"QeltImportKey", [&] { return QeltImportKey(wrapped, 128); }, {2, 6, 1, 8}},
        {"QeltExportPubkeys", [&] { return QeltExportPubkeys(pub1, pub2); }, {2, 6, 0, 8}},
        {"QeltSm2SignIn",
         [&] { return QeltSm2SignIn(message, sizeof message, sig); },
         {2, 6, 0, 8}},
        {"QeltGetChallengeCode", [&] { return QeltGetChallengeCode(challenge); }, {0, 0, 0, 0}},
        {"QeltUnlockCard", [&] { return QeltUnlockCard(challenge, extra, sig); }, {1, 1, 1, 1}},
        {"QeltResetPin",
         [&] { return QeltResetPin(challenge, extra, pin_field, sig); },
         {1, 1, 1, 1}},
        {"QeltZeroSetCard", [&] { return QeltZeroSetCard(challenge, extra, sig); }, {6, 6, 1, 6}},
        {"QeltEvEncFile",
         [&] { return QeltEvEncFile(kAdminPublicKey, kPlain.c_str(), kEnvelope.c_str()); },
         {2, 6, 0, 8}},
        {"QeltEvDecFile",
         [&] {
             testing::internal::CaptureStdout();
             const uint32_t result = QeltEvDecFile(kMissing.c_str(), kBack.c_str());
             testing::internal::GetCapturedStdout();
             return result;
         },
         {2, 6, 1, 8}},
        {"get_mac", [&] { return get_mac(mac); }, {0, 0, 0, 0}},
    };
    for (State state : {kNoStore, kLoggedOut, kLoggedIn, kLocked}) {
        for (const auto& row : rows) {
            enter(state);
            EXPECT_EQ(row.call(), row.expected[state])
                << row.name << " in state " << kStateNames[state];
        }
    }
}

TEST_F(StateTable, InitCfgLeavesEveryStateForAFreshLoggedOutCard) {
    for (State state : {kNoStore, kLoggedOut, kLocked}) {
        enter(state);
        ASSERT_EQ(init_cfg(), 0u) << kStateNames[state];
        EXPECT_EQ(CheckCardState(), 0u);
        EXPECT_EQ(status(), 0) << kStateNames[state];
    }
    // init_cfg does not touch the volatile state: the login stays.
    enter(kLoggedIn);
    ASSERT_EQ(init_cfg(), 0u);
    EXPECT_EQ(status() & CARD_STATUS_LOGGED_IN, CARD_STATUS_LOGGED_IN);
}

}  // namespace
