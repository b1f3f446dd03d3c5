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
//   softcard_store_client <results file> pins-and-keys <MAC as 12 hex digits>
//       logs in with the default PIN (binding this PC when it is not bound, as for bind), then
//       until it is killed: changes the PIN to kOtherPin, imports the volume key 11..11, changes
//       the PIN back, imports 22..22 (no results).
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include "crypto/sm2_encrypt.h"
#include "softcard/exports.h"
#ifndef _WIN32
#include "platform/testing/network_controls.h"
#endif

namespace {

constexpr char kDefaultPin[] = "58302741";
constexpr char kWrongPin[] = "27195038";
constexpr char kOtherPin[] = "91640275";

const uint8_t* bytes_of(const char* text) {
    return reinterpret_cast<const uint8_t*>(text);
}

uint32_t login(const char* pin, uint32_t* tries) {
    return QeltVerifyPinCode(bytes_of(pin), 8, tries);
}

// On Linux, this PC becomes one simulated adapter with the given address; false for a malformed
// one.
bool use_this_pc(const char* mac_hex) {
    if (std::strlen(mac_hex) != 12) return false;
#ifndef _WIN32
    sim::Adapter adapter{"eth0", true, true, {}};
    for (int i = 0; i < 6; ++i)
        adapter.permanent[i] = static_cast<uint8_t>(
            std::strtoul(std::string(mac_hex + 2 * i, 2).c_str(), nullptr, 16));
    sim::network_set_adapters({adapter});
#endif
    return true;
}

int bind(std::ofstream& results, const char* mac_hex) {
    if (!use_this_pc(mac_hex)) return 2;
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

int pins_and_keys(const char* mac_hex) {
    if (!use_this_pc(mac_hex)) return 2;
    uint32_t tries = 0;
    const uint32_t logged_in = login(kDefaultPin, &tries);
    if (logged_in == 15 && QeltBindCurMac() != 0) return 1;
    if (logged_in != 0 && logged_in != 15) return 1;
    uint8_t sign_public[64], enc_public[64];
    if (QeltExportPubkeys(sign_public, enc_public) != 0) return 1;
    uint8_t wrapped[2][128];
    for (uint8_t i = 0; i < 2; ++i) {
        uint8_t key[32];
        std::memset(key, 0x11 * (i + 1), sizeof key);
        if (sm2_encrypt(enc_public, key, sizeof key, wrapped[i], nullptr) != 0) return 1;
    }
    for (;;) {
        QeltSetPinCode(bytes_of(kDefaultPin), 8, bytes_of(kOtherPin), 8, &tries);
        QeltImportKey(wrapped[0], sizeof wrapped[0]);
        QeltSetPinCode(bytes_of(kOtherPin), 8, bytes_of(kDefaultPin), 8, &tries);
        QeltImportKey(wrapped[1], sizeof wrapped[1]);
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
    if (command == "pins-and-keys" && argc == 4) return pins_and_keys(argv[3]);
    return 2;
}
