// Another application using the software card, for the tests that need a second process: it
// runs one command against the store file of the machine it shares with the test (HALDEN_ROOT
// on Linux) and writes the result of each export it calls as a line to the results file.
//
//   softcard_store_client <results file> bind <MAC as 12 hex digits>
//       logs in with the default PIN and binds this PC. On Linux the MAC address is this PC's
//       simulated adapter; under Windows this PC is the machine's own and the argument is unused.
//   softcard_store_client <results file> wrong-pins <n>
//       n logins with a wrong PIN: "<result> <tries left>" each.
//   softcard_store_client <results file> right-pins <n>
//       n logins with the default PIN, each followed by a logout: "<result>" each.
//   softcard_store_client <results file> rewrite
//       stores the volume keys 11..11 and 22..22 in turn until it is killed (no results).
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include "softcard/exports.h"
#ifndef _WIN32
#include "platform/sim/network.h"
#endif

namespace {

constexpr char kDefaultPin[] = "58302741";
constexpr char kWrongPin[] = "27195038";

uint32_t login(const char* pin, uint32_t* tries) {
    return QeltVerifyPinCode(reinterpret_cast<const uint8_t*>(pin), 8, tries);
}

int bind(std::ofstream& results, const char* mac_hex) {
    if (std::strlen(mac_hex) != 12) return 2;
#ifndef _WIN32
    sim::Adapter adapter{"eth0", true, true, {}};
    for (int i = 0; i < 6; ++i)
        adapter.permanent[i] = static_cast<uint8_t>(
            std::strtoul(std::string(mac_hex + 2 * i, 2).c_str(), nullptr, 16));
    sim::network_set_adapters({adapter});
#endif
    uint32_t tries = 0;
    results << login(kDefaultPin, &tries) << "\n";
    results << QeltBindCurMac() << "\n";
    return 0;
}

int wrong_pins(std::ofstream& results, int count) {
    for (int i = 0; i < count; ++i) {
        uint32_t tries = 99;
        const uint32_t result = login(kWrongPin, &tries);
        results << result << " " << tries << "\n";
    }
    return 0;
}

int right_pins(std::ofstream& results, int count) {
    for (int i = 0; i < count; ++i) {
        uint32_t tries = 0;
        const uint32_t result = login(kDefaultPin, &tries);
        results << result << "\n";
        if (result == 0 || result == 15) QeltCardLoginOut();
    }
    return 0;
}

[[noreturn]] void rewrite() {
    uint8_t key[32];
    for (uint8_t value = 0x11;; value ^= 0x11 ^ 0x22) {
        std::memset(key, value, sizeof key);
        StoreVolumeKey(key);
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) return 2;
    std::ofstream results(argv[1]);
    const std::string command = argv[2];
    if (command == "bind" && argc == 4) return bind(results, argv[3]);
    if (command == "wrong-pins" && argc == 4) return wrong_pins(results, std::atoi(argv[3]));
    if (command == "right-pins" && argc == 4) return right_pins(results, std::atoi(argv[3]));
    if (command == "rewrite" && argc == 3) rewrite();
    return 2;
}
