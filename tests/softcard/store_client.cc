// Another application using the software card, for the tests that need a second process: it
// runs one command against the store file of the machine it shares with the test (HALDEN_ROOT
// on Linux) and writes the result of each export it calls as a line to the results file.
//
//   softcard_store_client <results file> bind <MAC as 12 hex digits>
//       logs in with the default PIN and binds this PC. On Linux the MAC address is this PC's
//       simulated adapter; under Windows this PC is the machine's own and the argument is unused.
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

uint32_t login() {
    uint32_t tries = 0;
    return QeltVerifyPinCode(reinterpret_cast<const uint8_t*>(kDefaultPin), 8, &tries);
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
    results << login() << "\n";
    results << QeltBindCurMac() << "\n";
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) return 2;
    std::ofstream results(argv[1]);
    const std::string command = argv[2];
    if (command == "bind" && argc == 4) return bind(results, argv[3]);
    return 2;
}
