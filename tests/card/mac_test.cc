// GetMac and get_mac over replaced adapter lists and over the machine's real interfaces.
#include "card/commands/mac.h"

#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/testing/network_controls.h"
#include "platform/win32.h"

namespace {

using Address = std::array<uint8_t, 6>;

const Address kFirst = {0x00, 0x1b, 0x21, 0x0a, 0x0b, 0x0c};
const Address kSecond = {0x3c, 0x97, 0x0e, 0x11, 0x22, 0x33};

class MacLookup : public ::testing::Test {
  protected:
    void TearDown() override { sim::network_use_real_adapters(); }
};

struct LookupCase {
    const char* name;
    std::vector<sim::Adapter> adapters;
    int32_t result;
    Address address;
};

TEST_F(MacLookup, FirstAdapterThatAnswersWins) {
    const LookupCase cases[] = {
        {"no adapters", {}, -1, {}},
        {"first has no device, second answers",
         {{"eth_a", false, true, kFirst}, {"eth_b", true, true, kSecond}},
         0,
         kSecond},
        {"first refuses the query",
         {{"eth_a", true, false, kFirst}, {"eth_b", true, true, kSecond}},
         0,
         kSecond},
        {"two answer", {{"eth_a", true, true, kFirst}, {"eth_b", true, true, kSecond}}, 0, kFirst},
        {"none answers", {{"eth_a", false, true, kFirst}, {"eth_b", true, false, kSecond}}, -1, {}},
    };
    for (const auto& c : cases) {
        sim::network_set_adapters(c.adapters);
        Address out = {0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE};
        EXPECT_EQ(GetMac(out.data()), c.result) << c.name;
        EXPECT_EQ(get_mac(out.data()), c.result == 0 ? 0u : 1u) << c.name;
        if (c.result == 0)
            EXPECT_EQ(out, c.address) << c.name;
        else
            EXPECT_EQ(out, (Address{0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE})) << c.name;
    }
}

TEST_F(MacLookup, NullBuffer) {
    sim::network_set_adapters({{"eth_a", true, true, kFirst}});
    EXPECT_EQ(GetMac(nullptr), -1);
    EXPECT_EQ(get_mac(nullptr), 1u);
}

// The machine's interfaces that a hardware device backs, with a 6-byte hardware address, in the
// order of their devices' places in the device tree.
std::vector<std::string> machine_interfaces() {
    std::vector<std::pair<std::string, std::string>> found;
    for (const auto& entry : std::filesystem::directory_iterator("/sys/class/net")) {
        std::error_code no_device;
        const auto device = std::filesystem::canonical(entry.path() / "device", no_device);
        if (no_device) continue;
        std::ifstream in(entry.path() / "addr_len");
        std::string length;
        std::getline(in, length);
        if (length != "6") continue;
        found.emplace_back(device.string(), entry.path().filename().string());
    }
    std::sort(found.begin(), found.end());
    std::vector<std::string> names;
    for (auto& f : found) names.push_back(f.second);
    return names;
}

TEST_F(MacLookup, RealInterfacesAreTheNetworkCards) {
    const auto expected = machine_interfaces();
    HKEY cards;
    ASSERT_EQ(
        RegOpenKeyA(HKEY_LOCAL_MACHINE,
                    "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\NetworkCards\\", &cards),
        ERROR_SUCCESS);
    std::vector<std::string> services;
    for (DWORD i = 0;; ++i) {
        char name[260];
        DWORD size = sizeof name;
        if (RegEnumKeyExA(cards, i, name, &size, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS)
            break;
        HKEY card;
        ASSERT_EQ(RegOpenKeyA(cards, name, &card), ERROR_SUCCESS);
        char service[260];
        DWORD type = 0;
        DWORD bytes = sizeof service;
        ASSERT_EQ(RegQueryValueExA(card, "ServiceName", nullptr, &type,
                                   reinterpret_cast<BYTE*>(service), &bytes),
                  ERROR_SUCCESS);
        EXPECT_EQ(type, REG_SZ);
        services.push_back(service);
        RegCloseKey(card);
    }
    RegCloseKey(cards);
    EXPECT_EQ(services, expected);

    Address out{};
    if (expected.empty()) {
        EXPECT_EQ(GetMac(out.data()), -1);
        return;
    }
    // Every real interface answers, with its permanent address or, lacking one, its current one.
    ASSERT_EQ(GetMac(out.data()), 0);
    EXPECT_NE(out, Address{});
}

}  // namespace
