// Card information, PIN, login and binding of the software card.
#include <cstring>

#include "tests/softcard/child_process.h"
#include "tests/support/softcard_fixture.h"

namespace {

using Login = SoftcardTest;

struct BindList {
    uint32_t result;
    uint32_t current;
    uint32_t used;
    uint32_t left;
    std::vector<MacAddress> macs;
};

BindList bind_list() {
    BindList list{};
    uint8_t macs[30];
    std::memset(macs, 0xEE, sizeof macs);
    list.result = QeltQueryBindedMac(&list.current, &list.used, &list.left, macs);
    for (uint32_t i = 0; i < list.used && i < 5; ++i) {
        MacAddress mac;
        std::memcpy(mac.data(), macs + 6 * i, 6);
        list.macs.push_back(mac);
    }
    return list;
}

TEST_F(Login, CardInfoShowsTheSeedAsSerial) {
    ASSERT_EQ(init_cfg(), 0u);
    uint8_t info[CARD_INFO_SIZE];
    std::memset(info, 0xEE, sizeof info);
    ASSERT_EQ(QeltQueryCardInfo(info), 0u);
    const auto bytes = store_bytes();
    char expected[33];
    for (int i = 0; i < 16; ++i) std::snprintf(expected + 2 * i, 3, "%02x", bytes[i]);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(info + 1)), expected);
    EXPECT_EQ(info[33], 0);
    EXPECT_EQ(info[34] | info[35] << 8 | info[36] << 16 | info[37] << 24, 32);
    EXPECT_EQ(info[0], 0);
    EXPECT_EQ(QeltQueryCardInfo(nullptr), 3u);
}

TEST_F(Login, RightPinOnAnUnboundPcThenBinding) {
    ASSERT_EQ(init_cfg(), 0u);
    EXPECT_EQ(login(), 15u);
    EXPECT_EQ(status(), CARD_STATUS_LOGGED_IN);
    EXPECT_EQ(QeltBindCurMac(), 0u);
    EXPECT_EQ(status(), CARD_STATUS_LOGGED_IN | CARD_STATUS_BOUND);
    EXPECT_EQ(QeltBindCurMac(), 10u);
    ASSERT_EQ(QeltCardLoginOut(), 0u);
    EXPECT_EQ(status(), 0);
    EXPECT_EQ(login(), 0u);
    EXPECT_EQ(status(), CARD_STATUS_LOGGED_IN | CARD_STATUS_BOUND);
}

TEST_F(Login, VerifyWhileLoggedInDoesNotCount) {
    ASSERT_EQ(init_cfg(), 0u);
    ASSERT_EQ(login(), 15u);
    uint32_t tries = 77;
    EXPECT_EQ(QeltVerifyPinCode(bytes_of(kWrongPin), 8, &tries), 14u);
    EXPECT_EQ(tries, 77u);
    EXPECT_EQ(record().retries_left, 6);
}

TEST_F(Login, PinArguments) {
    ASSERT_EQ(init_cfg(), 0u);
    uint32_t tries = 0;
    EXPECT_EQ(QeltVerifyPinCode(nullptr, 8, &tries), 3u);
    EXPECT_EQ(QeltVerifyPinCode(bytes_of(kDefaultPin), 8, nullptr), 3u);
    EXPECT_EQ(QeltVerifyPinCode(bytes_of("5830274"), 7, &tries), 3u);
    EXPECT_EQ(QeltVerifyPinCode(bytes_of("58302741583027415"), 17, &tries), 3u);
    EXPECT_EQ(record().retries_left, 6);
    ASSERT_EQ(login(), 15u);
    ASSERT_EQ(QeltBindCurMac(), 0u);
    EXPECT_EQ(QeltSetPinCode(bytes_of(kDefaultPin), 8, bytes_of("1234567"), 7, &tries), 3u);
    EXPECT_EQ(QeltSetPinCode(bytes_of(kDefaultPin), 8, nullptr, 8, &tries), 3u);
    EXPECT_EQ(QeltSetPinCode(bytes_of(kDefaultPin), 8, bytes_of(kOtherPin), 8, nullptr), 3u);
}

TEST_F(Login, SetPinChecksTheOldPinAndKeepsTheLogin) {
    fresh_bound_login();
    uint32_t tries = 0;
    EXPECT_EQ(QeltSetPinCode(bytes_of(kWrongPin), 8, bytes_of(kOtherPin), 8, &tries), 1u);
    EXPECT_EQ(tries, 5u);
    const char sixteen[] = "0123456789abcdef";
    ASSERT_EQ(QeltSetPinCode(bytes_of(kDefaultPin), 8, bytes_of(sixteen), 16, &tries), 0u);
    EXPECT_EQ(status() & CARD_STATUS_LOGGED_IN, CARD_STATUS_LOGGED_IN);
    EXPECT_EQ(record().pin_length, 16);
    EXPECT_EQ(std::memcmp(record().pin, sixteen, 16), 0);
    EXPECT_EQ(record().retries_left, 6);
    ASSERT_EQ(QeltCardLoginOut(), 0u);
    EXPECT_EQ(login(kDefaultPin), 1u);
    EXPECT_EQ(login(sixteen), 0u);
}

TEST_F(Login, SetPinNeedsLoginAndBinding) {
    ASSERT_EQ(init_cfg(), 0u);
    uint32_t tries = 0;
    EXPECT_EQ(QeltSetPinCode(bytes_of(kDefaultPin), 8, bytes_of(kOtherPin), 8, &tries), 6u);
    ASSERT_EQ(login(), 15u);
    EXPECT_EQ(QeltSetPinCode(bytes_of(kDefaultPin), 8, bytes_of(kOtherPin), 8, &tries), 9u);
}

TEST_F(Login, SixthWrongOldPinLocksTheCard) {
    fresh_bound_login();
    uint32_t tries = 0;
    for (uint32_t expected = 5;; --expected) {
        ASSERT_EQ(QeltSetPinCode(bytes_of(kWrongPin), 8, bytes_of(kOtherPin), 8, &tries), 1u);
        EXPECT_EQ(tries, expected);
        if (expected == 0) break;
    }
    EXPECT_EQ(QeltSetPinCode(bytes_of(kDefaultPin), 8, bytes_of(kOtherPin), 8, &tries), 8u);
}

TEST_F(Login, UnbindingThisPcClearsTheBinding) {
    fresh_bound_login();
    ASSERT_EQ(QeltUnbindMac(this_pc.data()), 0u);
    EXPECT_EQ(status(), CARD_STATUS_LOGGED_IN);
    EXPECT_EQ(bind_list().current, 0u);
    EXPECT_EQ(QeltUnbindMac(this_pc.data()), 13u);
    EXPECT_EQ(QeltUnbindMac(nullptr), 3u);
    // Unbinding needs no binding: the freed slot is taken again.
    EXPECT_EQ(QeltBindCurMac(), 0u);
    EXPECT_EQ(bind_list().current, 1u);
}

// Another application binds this PC while this process is logged in unbound: binding here
// finds the address already in a slot.
TEST_F(Login, PcBoundFromASecondProcessIsNotBoundTwice) {
    ASSERT_EQ(init_cfg(), 0u);
    ASSERT_EQ(login(), 15u);
    char mac_hex[13];
    for (int i = 0; i < 6; ++i) std::snprintf(mac_hex + 2 * i, 3, "%02x", this_pc[i]);
    const auto results = root.path(std::string(kFiles) + "/client.txt");
    ChildProcess client({results.string(), "bind", mac_hex});
    ASSERT_EQ(client.wait(), 0);
    std::ifstream in(results);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "15\n0\n");
    EXPECT_EQ(QeltBindCurMac(), 10u);
    const BindList list = bind_list();
    EXPECT_EQ(list.used, 1u);
    EXPECT_EQ(list.macs, std::vector<MacAddress>{this_pc});
}

// Unbinding clears the whole slot in the store file, the address as well as the used flag.
TEST_F(Login, FreedSlotIsAllZeroInTheStore) {
    ASSERT_EQ(init_cfg(), 0u);
    CardRecord r = record();
    const MacAddress other = {0x02, 0x99, 0x88, 0x77, 0x66, 0x55};
    r.slots[0] = {1, {}};
    std::memcpy(r.slots[0].mac, other.data(), 6);
    r.slots[1] = {1, {}};
    std::memcpy(r.slots[1].mac, this_pc.data(), 6);
    set_record(r);
    ASSERT_EQ(login(), 0u);
    ASSERT_EQ(QeltUnbindMac(this_pc.data()), 0u);
    const auto stored = store_bytes();
    ASSERT_EQ(stored.size(), STORE_RECORD_SIZE);
    const auto slot = [&](int i) {
        return std::vector<uint8_t>(stored.begin() + STORE_BIND_SLOTS + i * BIND_SLOT_SIZE,
                                    stored.begin() + STORE_BIND_SLOTS + (i + 1) * BIND_SLOT_SIZE);
    };
    EXPECT_EQ(slot(1), std::vector<uint8_t>(BIND_SLOT_SIZE, 0));
    EXPECT_EQ(slot(0), (std::vector<uint8_t>{1, 0x02, 0x99, 0x88, 0x77, 0x66, 0x55}));
}

// Only the first bind-slots-allowed slots (never more than five) bind a PC at login.
TEST_F(Login, SlotsBeyondTheAllowedCountAreIgnored) {
    const struct {
        int32_t allowed;
        uint32_t result, index;
    } cases[] = {{5, 0, 3}, {3, 0, 3}, {2, 15, 0}, {0, 15, 0}, {-1, 15, 0}, {9, 0, 3}};
    for (const auto& c : cases) {
        ASSERT_EQ(init_cfg(), 0u);
        CardRecord r = record();
        r.bind_allowed = c.allowed;
        r.slots[2] = {1, {}};
        std::memcpy(r.slots[2].mac, this_pc.data(), 6);
        set_record(r);
        card_session() = CardSession{};
        EXPECT_EQ(login(), c.result) << c.allowed;
        EXPECT_EQ(bind_list().current, c.index) << c.allowed;
    }
}

TEST_F(Login, QueryBindedMacArguments) {
    fresh_bound_login();
    uint32_t a = 0, b = 0, c = 0;
    uint8_t macs[30];
    EXPECT_EQ(QeltQueryBindedMac(nullptr, &b, &c, macs), 3u);
    EXPECT_EQ(QeltQueryBindedMac(&a, nullptr, &c, macs), 3u);
    EXPECT_EQ(QeltQueryBindedMac(&a, &b, nullptr, macs), 3u);
    EXPECT_EQ(QeltQueryBindedMac(&a, &b, &c, nullptr), 3u);
}

TEST_F(Login, LockedCardRefusesAllButCardInfoAndLogout) {
    fresh_bound_login();
    // Locked while logged in: six wrong old PINs.
    uint32_t tries = 0;
    for (int i = 0; i < 6; ++i)
        ASSERT_EQ(QeltSetPinCode(bytes_of(kWrongPin), 8, bytes_of(kOtherPin), 8, &tries), 1u);
    EXPECT_EQ(status() & CARD_STATUS_LOCKED, CARD_STATUS_LOCKED);
    EXPECT_EQ(QeltBindCurMac(), 8u);
    EXPECT_EQ(QeltUnbindMac(this_pc.data()), 8u);
    uint32_t a, b, c;
    uint8_t macs[30];
    EXPECT_EQ(QeltQueryBindedMac(&a, &b, &c, macs), 8u);
    EXPECT_EQ(QeltSetPinCode(bytes_of(kDefaultPin), 8, bytes_of(kOtherPin), 8, &tries), 8u);
    EXPECT_EQ(QeltCardLoginOut(), 0u);
    EXPECT_EQ(login(), 8u);
    EXPECT_EQ(status(), CARD_STATUS_LOCKED);
}

TEST_F(Login, LogoutTwice) {
    fresh_bound_login();
    EXPECT_EQ(QeltCardLoginOut(), 0u);
    EXPECT_EQ(QeltCardLoginOut(), 6u);
}

#ifndef _WIN32
// Linux only: these steer the simulated adapters and free space of the Linux platform layer.

const MacAddress kOtherPcs[] = {
    {0x02, 0, 0, 0, 0, 1}, {0x02, 0, 0, 0, 0, 2}, {0x02, 0, 0, 0, 0, 3},
    {0x02, 0, 0, 0, 0, 4}, {0x02, 0, 0, 0, 0, 5},
};

// Binds the card to the PC with this address, as that PC would: log in there and bind.
void bind_from(const MacAddress& mac) {
    sim::network_set_adapters({{"eth0", true, true, mac}});
    QeltCardLoginOut();
    uint32_t tries = 0;
    ASSERT_EQ(QeltVerifyPinCode(bytes_of(kDefaultPin), 8, &tries), 15u);
    ASSERT_EQ(QeltBindCurMac(), 0u);
}

TEST_F(Login, UnreadableMacLogsInUnbound) {
    ASSERT_EQ(init_cfg(), 0u);
    ASSERT_EQ(login(), 15u);
    ASSERT_EQ(QeltBindCurMac(), 0u);
    ASSERT_EQ(QeltCardLoginOut(), 0u);
    sim::network_set_adapters({});
    EXPECT_EQ(login(), 15u);
    EXPECT_EQ(status(), CARD_STATUS_LOGGED_IN);
    EXPECT_EQ(QeltBindCurMac(), 11u);
}

TEST_F(Login, BindListWithTwoPcsAndAGap) {
    ASSERT_EQ(init_cfg(), 0u);
    bind_from(kOtherPcs[0]);
    bind_from(this_pc);
    BindList list = bind_list();
    ASSERT_EQ(list.result, 0u);
    EXPECT_EQ(list.current, 2u);
    EXPECT_EQ(list.used, 2u);
    EXPECT_EQ(list.left, 3u);
    EXPECT_EQ(list.macs, (std::vector<MacAddress>{kOtherPcs[0], this_pc}));

    bind_from(kOtherPcs[1]);
    ASSERT_EQ(QeltUnbindMac(this_pc.data()), 0u);
    list = bind_list();
    EXPECT_EQ(list.current, 3u);
    EXPECT_EQ(list.macs, (std::vector<MacAddress>{kOtherPcs[0], kOtherPcs[1]}));
    EXPECT_EQ(list.left, 3u);
}

TEST_F(Login, NoFreeSlotWhenFiveOtherPcsAreBound) {
    ASSERT_EQ(init_cfg(), 0u);
    for (const auto& pc : kOtherPcs) bind_from(pc);
    set_this_pc(this_pc);
    QeltCardLoginOut();
    ASSERT_EQ(login(), 15u);
    EXPECT_EQ(QeltBindCurMac(), 12u);
    BindList list = bind_list();
    EXPECT_EQ(list.used, 5u);
    EXPECT_EQ(list.left, 0u);
}

// A write that fails leaves both the record and the login state as they were.
TEST_F(Login, FailedBindWriteChangesNothing) {
    ASSERT_EQ(init_cfg(), 0u);
    ASSERT_EQ(login(), 15u);
    sim::disk_set_free_space('C', 10);
    EXPECT_EQ(QeltBindCurMac(), 2u);
    sim::disk_clear_free_space_limits();
    EXPECT_EQ(status(), CARD_STATUS_LOGGED_IN);
    EXPECT_EQ(bind_list().used, 0u);
}
#endif

}  // namespace
