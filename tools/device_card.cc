// The device build of Kelvane end to end: plugs a simulated card (the card's firmware model) and
// a simulated network adapter, then runs the card commands through device/libKelvane.so and
// prints each result. The signature is checked with Pemra's sm2_verify. Last, a file goes into a
// V1 container and a V2 container and back.
//
// The caller points HALDEN_ROOT at a machine root with the folder C/Halden (the log file).
#include <dlfcn.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <string>

#include "card/card_api.h"
#include "platform/testing/network_controls.h"
#include "platform/win32.h"
#include "sim/card/card_controls.h"

namespace {

const std::array<uint8_t, 6> kHostMac = {0x02, 0x00, 0x5e, 0x10, 0x00, 0x01};
constexpr char kNewPin[] = "27-oct-pin";
constexpr char kFilePin[] = "file-pin-2718";

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

// The whole file, or empty when it cannot be read.
std::string read_file(const char* path) {
    std::string bytes;
    if (FILE* file = fopen(path, "rb")) {
        char chunk[4096];
        for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, file)) > 0;) bytes.append(chunk, n);
        std::fclose(file);
    }
    return bytes;
}

bool write_file(const char* path, const std::string& bytes) {
    FILE* file = fopen(path, "wb");
    if (!file) return false;
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return std::fclose(file) == 0 && written;
}

std::string size_of(const char* path) {
    return std::to_string(read_file(path).size()) + " bytes";
}

// Encrypts, then decrypts; prints both and whether the file came back unchanged.
bool round_trip(const char* what, const std::function<uint32_t()>& encrypt, const char* container,
                const std::function<uint32_t()>& decrypt, const char* original,
                const char* restored) {
    const uint32_t encrypted = encrypt();
    print((std::string(what) + ", encrypt").c_str(), encrypted,
          container + (" " + size_of(container)));
    const uint32_t decrypted = decrypt();
    const bool same =
        encrypted == 0 && decrypted == 0 && read_file(original) == read_file(restored);
    print((std::string(what) + ", decrypt").c_str(), decrypted,
          std::string(restored) + (same ? " equals " : " DIFFERS FROM ") + original);
    return same;
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
    // File containers: V1 under the card's encryption key, written with card commands and read
    // through FPGA frames; V2 under a PIN.
    std::string report;
    for (int line = 1; report.size() < 10000; ++line)
        report += "line " + std::to_string(line) + " of a report kept in a container\n";
    const char* plain = "C:/Halden/report.txt";
    bool containers = write_file(plain, report);
    containers &= round_trip(
        "V1 (QeltEvEncFile)", [&] { return QeltEvEncFile(enc_key, plain, "C:/Halden/report.v1"); },
        "C:/Halden/report.v1",
        [] { return QeltEvDecFile_FPGA("C:/Halden/report.v1", "C:/Halden/report.v1.txt"); }, plain,
        "C:/Halden/report.v1.txt");
    containers &= round_trip(
        "V2 (QeltEvEncFile_V2)",
        [&] { return QeltEvEncFile_V2(kFilePin, plain, "C:/Halden/report.v2"); },
        "C:/Halden/report.v2",
        [] { return QeltEvDecFile_V2(kFilePin, "C:/Halden/report.v2", "C:/Halden/report.v2.txt"); },
        plain, "C:/Halden/report.v2.txt");
    const uint32_t wrong =
        QeltEvDecFile_V2("not-the-pin", "C:/Halden/report.v2", "C:/Halden/report.v2.bad");
    print("QeltEvDecFile_V2, wrong PIN", wrong,
          read_file("C:/Halden/report.v2.bad").empty() ? "no plaintext written"
                                                       : "PLAINTEXT WRITTEN");
    containers &= wrong == 30;

    print("QeltUnbindMac", QeltUnbindMac(kHostMac.data()));
    print("QeltCardLoginOut", QeltCardLoginOut());

    sim::usb::unplug_all();
    dlclose(pemra);
    return verified == 0 && containers ? 0 : 1;
}
