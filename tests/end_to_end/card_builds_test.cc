// One scenario through both builds of Kelvane, each loaded as an application loads it: the device
// build against the card's firmware model, the software-card build against a fresh store file.
// Both give the same results, except that a wrong PIN is the card's status 20 in the device build
// and the software card's own 1; the remaining tries are the same.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "crypto/sm2_encrypt.h"
#include "platform/testing/network_controls.h"
#include "platform/usb_bus/usb_controls.h"
#include "sim/card/card_controls.h"
#include "tests/support/admin_signer.h"
#include "tests/support/shared_library.h"
#include "tests/support/temp_machine_root.h"

namespace {

using Bytes = std::vector<uint8_t>;

const std::array<uint8_t, 6> kHostMac = {0x00, 0x1b, 0x21, 0x3c, 0x4d, 0x5e};
constexpr char kDefaultPin[] = "58302741";
constexpr char kWrongPin[] = "11111111";
constexpr char kNewPin[] = "new-pin-16-chars";
constexpr char kResetPin[] = "reset-pin";

// The exports both builds share, by name.
class Kelvane : public SharedLibrary {
  public:
    using SharedLibrary::SharedLibrary;

    uint32_t query_card_info(uint8_t* info) const {
        return get<uint32_t(uint8_t*)>("QeltQueryCardInfo")(info);
    }
    uint32_t verify_pin(const char* pin, uint32_t* tries) const {
        return get<uint32_t(const uint8_t*, uint32_t, uint32_t*)>("QeltVerifyPinCode")(
            reinterpret_cast<const uint8_t*>(pin), static_cast<uint32_t>(std::strlen(pin)), tries);
    }
    uint32_t set_pin(const char* old_pin, const char* new_pin, uint32_t* tries) const {
        return get<uint32_t(const uint8_t*, uint32_t, const uint8_t*, uint32_t, uint32_t*)>(
            "QeltSetPinCode")(reinterpret_cast<const uint8_t*>(old_pin),
                              static_cast<uint32_t>(std::strlen(old_pin)),
                              reinterpret_cast<const uint8_t*>(new_pin),
                              static_cast<uint32_t>(std::strlen(new_pin)), tries);
    }
    uint32_t logout() const { return get<uint32_t()>("QeltCardLoginOut")(); }
    uint32_t bind() const { return get<uint32_t()>("QeltBindCurMac")(); }
    uint32_t unbind(const uint8_t* mac) const {
        return get<uint32_t(const uint8_t*)>("QeltUnbindMac")(mac);
    }
    uint32_t query_bound(uint32_t* index, uint32_t* count, uint32_t* left, uint8_t* list) const {
        return get<uint32_t(uint32_t*, uint32_t*, uint32_t*, uint8_t*)>("QeltQueryBindedMac")(
            index, count, left, list);
    }
    uint32_t export_keys(uint8_t* sign, uint8_t* enc) const {
        return get<uint32_t(uint8_t*, uint8_t*)>("QeltExportPubkeys")(sign, enc);
    }
    uint32_t sign(const Bytes& message, uint8_t* signature) const {
        return get<uint32_t(const uint8_t*, uint32_t, uint8_t*)>("QeltSm2SignIn")(
            message.data(), static_cast<uint32_t>(message.size()), signature);
    }
    uint32_t import_key(const uint8_t* key) const {
        return get<uint32_t(const uint8_t*, uint32_t)>("QeltImportKey")(key, 128);
    }
    uint32_t challenge(uint8_t* out) const {
        return get<uint32_t(uint8_t*)>("QeltGetChallengeCode")(out);
    }
    uint32_t unlock(const uint8_t* c, const uint8_t* extra, const uint8_t* signature) const {
        return get<uint32_t(const uint8_t*, const uint8_t*, const uint8_t*)>("QeltUnlockCard")(
            c, extra, signature);
    }
    uint32_t zeroise(const uint8_t* c, const uint8_t* extra, const uint8_t* signature) const {
        return get<uint32_t(const uint8_t*, const uint8_t*, const uint8_t*)>("QeltZeroSetCard")(
            c, extra, signature);
    }
    uint32_t reset_pin(const uint8_t* c, const uint8_t* extra, const uint8_t* pin_field,
                       const uint8_t* signature) const {
        return get<uint32_t(const uint8_t*, const uint8_t*, const uint8_t*, const uint8_t*)>(
            "QeltResetPin")(c, extra, pin_field, signature);
    }
};

// One step's outcome: its result and what came with it.
struct Step {
    std::string name;
    uint32_t result;
    std::string detail;
    bool operator==(const Step&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Step& s) {
    return os << s.name << ": " << s.result << " " << s.detail;
}

class Scenario {
  public:
    Scenario(const Kelvane& api, const char* pemra_path) : api_(api), pemra_(pemra_path) {}

    std::vector<Step> run() {
        uint32_t tries = 0;
        state("fresh card");
        step("wrong PIN", api_.verify_pin(kWrongPin, &tries), "tries " + std::to_string(tries));
        step("login, host not bound", api_.verify_pin(kDefaultPin, &tries));
        step("bind this host", api_.bind());
        bound_list("bound list");
        step("bind again", api_.bind());
        step("set PIN", api_.set_pin(kDefaultPin, kNewPin, &tries));
        step("logout", api_.logout());
        step("login with the new PIN", api_.verify_pin(kNewPin, &tries));
        keys_and_signature();
        state("logged in, bound, volume key");
        step("logout", api_.logout());
        step("logout again", api_.logout());
        for (int i = 0; i < 6; ++i)
            step("wrong PIN", api_.verify_pin(kWrongPin, &tries), "tries " + std::to_string(tries));
        step("login on a locked card", api_.verify_pin(kNewPin, &tries));
        state("locked");
        unlock();
        step("login after the unlock", api_.verify_pin(kNewPin, &tries));
        step("unbind this host", api_.unbind(kHostMac.data()));
        bound_list("bound list after the unbind");
        step("unbind again", api_.unbind(kHostMac.data()));
        reset_pin();
        step("login with the reset PIN", api_.verify_pin(kResetPin, &tries));
        zeroise();
        step("login after zeroise", api_.verify_pin(kDefaultPin, &tries));
        return steps_;
    }

  private:
    void step(std::string name, uint32_t result, std::string detail = "") {
        steps_.push_back({std::move(name), result, std::move(detail)});
    }
    void state(const char* name) {
        uint8_t info[38] = {};
        const uint32_t result = api_.query_card_info(info);
        const std::string serial(reinterpret_cast<char*>(info + 1));
        step(name, result,
             "state " + std::to_string(info[0]) + ", serial length " +
                 std::to_string(serial.size()) + ", field " + std::to_string(info[34]));
    }
    void bound_list(const char* name) {
        uint32_t index = 9, count = 9, left = 9;
        uint8_t list[30] = {};
        const uint32_t result = api_.query_bound(&index, &count, &left, list);
        const bool first_is_host = std::memcmp(list, kHostMac.data(), 6) == 0;
        step(name, result,
             std::to_string(index) + " " + std::to_string(count) + " " + std::to_string(left) +
                 (first_is_host ? " host first" : ""));
    }
    void keys_and_signature() {
        uint8_t sign_key[64], enc_key[64], signature[64];
        step("export keys", api_.export_keys(sign_key, enc_key));
        const Bytes message = {'s', 'i', 'g', 'n', ' ', 'm', 'e'};
        step("sign", api_.sign(message, signature));
        auto verify = pemra_.get<int32_t(const uint8_t*, const uint8_t*, uint32_t, const uint8_t*)>(
            "sm2_verify");
        ASSERT_NE(verify, nullptr);
        step("verify with Pemra",
             static_cast<uint32_t>(verify(sign_key, message.data(), 7, signature)));
        Bytes other = message;
        other[0] ^= 1;
        step("verify another message", verify(sign_key, other.data(), 7, signature) != 0 ? 1 : 0);
        uint8_t volume_key[32] = {7}, wrapped[128];
        ASSERT_EQ(sm2_encrypt(enc_key, volume_key, 32, wrapped, nullptr), 0);
        step("import the volume key", api_.import_key(wrapped));
    }
    Bytes challenge() {
        uint8_t c[16] = {};
        step("challenge", api_.challenge(c));
        return Bytes(c, c + 16);
    }
    void unlock() {
        const Bytes extra(16, 0x42);
        const Bytes c = challenge();
        const Bytes forged = admin_signature({extra, c});
        step("unlock with a signature over other bytes",
             api_.unlock(c.data(), extra.data(), forged.data()));
        const Bytes signature = admin_signature({c, extra});
        step("unlock", api_.unlock(c.data(), extra.data(), signature.data()));
        step("unlock with the used challenge",
             api_.unlock(c.data(), extra.data(), signature.data()));
    }
    void reset_pin() {
        const Bytes extra(16, 0x17);
        Bytes field(17, 0);
        std::memcpy(field.data(), kResetPin, std::strlen(kResetPin));
        const Bytes c = challenge();
        const Bytes signature = admin_signature({c, field, extra});
        step("reset PIN", api_.reset_pin(c.data(), extra.data(), field.data(), signature.data()));
    }
    void zeroise() {
        const Bytes extra(16, 0x99);
        const Bytes c = challenge();
        const Bytes signature = admin_signature({c, extra});
        step("logout", api_.logout());
        step("zeroise logged out", api_.zeroise(c.data(), extra.data(), signature.data()));
        uint32_t tries = 0;
        step("login", api_.verify_pin(kResetPin, &tries));
        step("zeroise", api_.zeroise(c.data(), extra.data(), signature.data()));
        state("zeroised");
    }

    const Kelvane& api_;
    SharedLibrary pemra_;
    std::vector<Step> steps_;
};

TEST(CardBuilds, SameScenarioSameResults) {
    TempMachineRoot root;
    root.make_folder("C:/Halden/etc");
    sim::network_set_adapters({{"eth0", true, true, kHostMac}});

    std::vector<Step> device_steps, softcard_steps;
    {
        sim::usb::unplug_all();
        auto card = sim::card::random_card();
        std::memcpy(card.admin_public_key.data(), kAdminPublicKey, 64);
        auto plugged = sim::card::plug(card);
        Kelvane device(KELVANE_DEVICE_PATH);
        device_steps = Scenario(device, PEMRA_PATH).run();
        EXPECT_TRUE(plugged->refused().empty());
        sim::usb::unplug_all();
    }
    {
        Kelvane softcard(KELVANE_SOFTCARD_PATH);
        ASSERT_EQ(softcard.get<uint32_t()>("init_cfg")(), 0u);
        softcard_steps = Scenario(softcard, PEMRA_PATH).run();
    }
    sim::network_use_real_adapters();

    // The scenario does what it says on the software card.
    const std::map<std::string, uint32_t> landmarks = {{"login with the new PIN", 0},
                                                       {"sign", 0},
                                                       {"verify with Pemra", 0},
                                                       {"verify another message", 1},
                                                       {"unlock", 0},
                                                       {"reset PIN", 0},
                                                       {"zeroise", 0},
                                                       {"login on a locked card", 8},
                                                       {"unbind again", 13}};
    for (const Step& s : softcard_steps) {
        auto it = landmarks.find(s.name);
        if (it != landmarks.end()) {
            EXPECT_EQ(s.result, it->second) << s;
        }
    }
    ASSERT_EQ(device_steps.size(), softcard_steps.size());
    for (size_t i = 0; i < device_steps.size(); ++i) {
        Step expected = softcard_steps[i];
        if (expected.name == "wrong PIN") {
            EXPECT_EQ(expected.result, 1u);
            expected.result = 20;  // the card's status for a wrong PIN
        }
        EXPECT_EQ(device_steps[i], expected) << "step " << i;
    }
}

}  // namespace
