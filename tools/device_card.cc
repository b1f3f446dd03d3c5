// The device build of Kelvane end to end: plugs a simulated card (the card's firmware model) and
// a simulated network adapter, then runs the card commands through device/libKelvane.so and
// prints each result. The signature is checked with Pemra's sm2_verify.
//
// The caller points HALDEN_ROOT at a machine root with the folder C/Halden (the log file).
#include <dlfcn.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "card/card_api.h"
#include "platform/sim/card.h"
#include "platform/sim/network.h"

namespace {

const std::array<uint8_t, 6> kHostMac = {0x02, 0x00, 0x5e, 0x10, 0x00, 0x01};
constexpr char kNewPin[] = "27-oct-pin";

std::string hex(const uint8_t* data, size_t n) {
    std::string s;
    char two[3];
    for (size_t i = 0; i < n; ++i) {
        std::snprintf(two, sizeof two, "%02x", data[i]);
        s += two;
    }
    return s;
}

void print(const char* what, uint32_t result, const std::string& detail = "") {
    std::printf("%-34s %3u%s%s\n", what, result, detail.empty() ? "" : "  ", detail.c_str());
}

uint32_t verify_pin(const char* pin, uint32_t* tries) {
    return QeltVerifyPinCode(reinterpret_cast<const uint8_t*>(pin),
                             static_cast<uint32_t>(std::strlen(pin)), tries);
}

}  // namespace

int main() {
    void* pemra = dlopen(PEMRA_PATH, RTLD_NOW | RTLD_LOCAL);
    auto pemra_verify =
        pemra ? reinterpret_cast<int32_t (*)(const uint8_t*, const uint8_t*, uint32_t,
                                             const uint8_t*)>(dlsym(pemra, "sm2_verify"))
              : nullptr;
    if (!pemra_verify) {
        std::fprintf(stderr, "cannot load sm2_verify from %s\n", PEMRA_PATH);
        return 1;
    }
    sim::network_set_adapters({{"eth0", true, true, kHostMac}});
    auto card = sim::card::plug(sim::card::random_card());
    std::printf("device build of Kelvane, one simulated card, this host %s\n",
                hex(kHostMac.data(), 6).c_str());

    uint32_t count = 0;
    uint32_t result = QeltGetCardCnt(&count);
    print("QeltGetCardCnt", result, "cards " + std::to_string(count));
    uint8_t info[CARD_INFO_SIZE] = {};
    result = QeltQueryCardInfo(info);
    print("QeltQueryCardInfo", result,
          "state 0x" + hex(info, 1) + ", serial " + reinterpret_cast<char*>(info + 1));

    uint32_t tries = 0;
    result = verify_pin("00000000", &tries);
    print("QeltVerifyPinCode, wrong PIN", result, "tries left " + std::to_string(tries));
    print("QeltVerifyPinCode", verify_pin(sim::card::kDefaultPin, &tries),
          "right PIN, this host not bound");
    print("QeltBindCurMac", QeltBindCurMac());
    uint32_t index = 0, bound = 0, left = 0;
    uint8_t list[BIND_LIST_SIZE] = {};
    result = QeltQueryBindedMac(&index, &bound, &left, list);
    print("QeltQueryBindedMac", result,
          "index " + std::to_string(index) + ", bound " + std::to_string(bound) + ", left " +
              std::to_string(left) + ", first " + hex(list, 6));
    print("QeltSetPinCode", QeltSetPinCode(reinterpret_cast<const uint8_t*>(sim::card::kDefaultPin),
                                           8, reinterpret_cast<const uint8_t*>(kNewPin),
                                           static_cast<uint32_t>(std::strlen(kNewPin)), &tries));
    print("QeltCardLoginOut", QeltCardLoginOut());
    print("QeltVerifyPinCode, new PIN", verify_pin(kNewPin, &tries), "logged in, bound");

    uint8_t sign_key[64], enc_key[64];
    result = QeltExportPubkeys(sign_key, enc_key);
    print("QeltExportPubkeys", result, "signing key " + hex(sign_key, 8) + "...");
    const char message[] = "signed by the card";
    const auto* text = reinterpret_cast<const uint8_t*>(message);
    const auto length = static_cast<uint32_t>(std::strlen(message));
    uint8_t signature[64] = {};
    result = QeltSm2SignIn(text, length, signature);
    print("QeltSm2SignIn", result, "r " + hex(signature, 8) + "...");
    const int32_t verified = pemra_verify(sign_key, text, length, signature);
    std::printf("%-34s %3d  %s\n", "sm2_verify (Pemra)", verified,
                verified == 0 ? "signature valid" : "signature INVALID");

    uint8_t random[32] = {};
    result = QeltGenRand(random, sizeof random);
    print("QeltGenRand, 32 bytes", result, hex(random, sizeof random));
    result = QeltQueryCardInfo(info);
    print("QeltQueryCardInfo", result, "state 0x" + hex(info, 1) + ": logged in, bound");
    print("QeltUnbindMac", QeltUnbindMac(kHostMac.data()));
    print("QeltCardLoginOut", QeltCardLoginOut());

    sim::usb::unplug_all();
    dlclose(pemra);
    return verified == 0 ? 0 : 1;
}
