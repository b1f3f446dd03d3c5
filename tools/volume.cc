// Volumes end to end: Orvik loaded into the simulated kernel, then a volume made and used with
// the software card (softcard/libKelvane.so, under the volume key it stores) and with a simulated
// card in card mode (device/libKelvane.so, the card encrypting under its volume key): format the
// image, mount it on a drive letter, write a file through the drive, list the volume, dismount it.
// Each step is printed with its result. Needs no root: the file system's writes are ntfs-3g's
// tools on a copy of the volume, every sector read and written through the drive.
//
// The caller points HALDEN_ROOT at a machine root with the folder C/Halden/etc.
#include <dlfcn.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <string>

#include "crypto/sm2_encrypt.h"
#include "platform/testing/kernel_controls.h"
#include "platform/testing/network_controls.h"
#include "platform/testing/registry_controls.h"
#include "platform/testing/volume_controls.h"
#include "sim/card/card_controls.h"
#include "volume/exports.h"

namespace {

constexpr uint64_t kImageSize = 16 << 20;
constexpr char kLetter = 'Q';
constexpr char kServiceKey[] = "SYSTEM\\CurrentControlSet\\Services\\Orvik";

void print(const std::string& what, uint32_t result, const std::string& detail = "") {
    std::printf("%-48s %3u%s%s\n", what.c_str(), result, detail.empty() ? "" : "  ",
                detail.c_str());
}

// What a host command printed; its exit status in *status.
std::string run(const std::string& command, int* status) {
    std::string output;
    FILE* pipe = popen((command + " 2>&1").c_str(), "r");
    if (!pipe) {
        *status = -1;
        return output;
    }
    char chunk[4096];
    for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, pipe)) > 0;) output.append(chunk, n);
    *status = pclose(pipe);
    return output;
}

std::string one_line(std::string text) {
    for (char& c : text)
        if (c == '\n') c = ' ';
    while (!text.empty() && text.back() == ' ') text.pop_back();
    return text;
}

class Kelvane {
  public:
    explicit Kelvane(const char* path) : library_(dlopen(path, RTLD_NOW | RTLD_LOCAL)) {
        if (!library_) std::printf("cannot load %s: %s\n", path, dlerror());
    }
    ~Kelvane() {
        if (library_) dlclose(library_);
    }
    Kelvane(const Kelvane&) = delete;
    Kelvane& operator=(const Kelvane&) = delete;

    bool loaded() const { return library_ != nullptr; }
    template <class F>
    F* get(const char* name) const {
        return reinterpret_cast<F*>(dlsym(library_, name));
    }

  private:
    void* library_;
};

// Format, mount, write, list, dismount, through one build of Kelvane: the device build in card
// mode, or the software card under its stored volume key.
bool volume_steps(const Kelvane& kelvane, const char* image, const char* host_image,
                  const std::string& host_folder) {
    char text[512] = {};
    const VolumeFormatArgs format_args{image, kImageSize, 1, kLetter};
    uint32_t result = kelvane.get<decltype(QeltFormatVolume)>("QeltFormatVolume")(
        &format_args, text, sizeof text);
    print(std::string("format ") + image + " (16 MiB) on Q:", result, result ? text : "");
    if (result != 0) return false;

    const VolumeMountArgs mount_args{image, 1, kLetter};
    result = kelvane.get<decltype(QeltMountVolume)>("QeltMountVolume")(&mount_args, text,
                                                                       sizeof text, 0, nullptr);
    print("mount it on Q:", result, result ? text : "");
    if (result != 0) return false;

    const std::string source = host_folder + "/hello.txt";
    if (FILE* file = fopen(source.c_str(), "w")) {
        std::fputs("Hello from an encrypted volume.\n", file);
        std::fclose(file);
    }
    std::string error;
    const bool written = sim::volume::copy_in(kLetter, source, "/hello.txt", &error);
    print("write /hello.txt through Q:", written ? 0 : 1, error);

    const std::string snapshot = host_folder + "/snapshot.img";
    int status = 0;
    const std::string listing = sim::volume::snapshot(kLetter, snapshot, &error)
                                    ? run("ntfsls " + snapshot, &status)
                                    : error;
    print("list Q:", status == 0 ? 0 : 1, one_line(listing));
    std::remove(snapshot.c_str());

    const VolumeDismountArgs dismount_args{kLetter, 0};
    result = kelvane.get<decltype(QeltDismountVolume)>("QeltDismountVolume")(&dismount_args, text,
                                                                             sizeof text);
    print("dismount Q:", result, result ? text : "");

    run("ntfsinfo -m " + std::string(host_image), &status);
    print("the image as stored is no NTFS volume", status != 0 ? 0 : 1,
          "(its sectors are encrypted)");
    return result == 0 && written;
}

// A fresh software card that stores a volume key (imported as the card's API imports it).
bool store_volume_key(const Kelvane& softcard) {
    sim::network_set_adapters({{"eth0", true, true, {0x02, 0x00, 0x5e, 0x10, 0x00, 0x02}}});
    uint32_t result = softcard.get<uint32_t()>("init_cfg")();
    print("software card: a new store", result);
    uint32_t tries = 0;
    result = softcard.get<uint32_t(const uint8_t*, int32_t, uint32_t*)>("QeltVerifyPinCode")(
        reinterpret_cast<const uint8_t*>("58302741"), 8, &tries);
    print("software card: log in (this PC is not bound)", result);
    uint8_t sign_key[64], enc_key[64];
    result = softcard.get<uint32_t(uint8_t*, uint8_t*)>("QeltExportPubkeys")(sign_key, enc_key);
    std::array<uint8_t, 32> key;
    for (size_t i = 0; i < key.size(); ++i) key[i] = static_cast<uint8_t>(i * 41 + 7);
    uint8_t wrapped[128];
    if (result != 0 || sm2_encrypt(enc_key, key.data(), 32, wrapped, nullptr) != 0) return false;
    result = softcard.get<uint32_t(const uint8_t*, int32_t)>("QeltImportKey")(wrapped, 128);
    print("software card: import a volume key", result);
    return result == 0;
}

}  // namespace

int main() {
    const char* root = std::getenv("HALDEN_ROOT");
    if (!root) {
        std::printf("HALDEN_ROOT is not set\n");
        return 1;
    }
    const std::string host_folder = std::string(root) + "/C/Halden";

    sim::registry_set_dword(kServiceKey, "MaxDevices", 2);
    const NTSTATUS loaded = sim::kernel::load_driver("Orvik", ORVIK_LIBRARY);
    print("load Orvik with 2 disks", static_cast<uint32_t>(loaded));
    if (loaded != STATUS_SUCCESS) return 1;

    bool ok = true;
    std::printf("\nSoftware card (softcard/libKelvane.so), software mode under the stored key:\n");
    {
        Kelvane softcard(KELVANE_SOFTCARD_PATH);
        ok = softcard.loaded() && store_volume_key(softcard) &&
             volume_steps(softcard, "C:\\Halden\\soft.img", (host_folder + "/soft.img").c_str(),
                          host_folder);
    }

    std::printf("\nSimulated card (device/libKelvane.so), card mode under the card's key:\n");
    {
        Kelvane device(KELVANE_DEVICE_PATH);
        sim::card::CardState state = sim::card::random_card();
        state.volume_key = sim::card::Key32{};
        for (size_t i = 0; i < state.volume_key->size(); ++i)
            (*state.volume_key)[i] = static_cast<uint8_t>(0xE5 - i * 3);
        auto card = sim::card::plug(state);
        ok = device.loaded() &&
             volume_steps(device, "C:\\Halden\\card.img", (host_folder + "/card.img").c_str(),
                          host_folder) &&
             ok;
        size_t frames = 0;
        for (const auto& frame : card->frames()) frames += frame.fpga;
        std::printf("the card encrypted and decrypted the sectors in %zu data frames\n", frames);
        sim::usb::unplug_all();
    }

    std::printf("\n");
    print("unload Orvik", static_cast<uint32_t>(sim::kernel::unload_driver("Orvik")));
    return ok ? 0 : 1;
}
