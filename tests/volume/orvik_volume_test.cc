// Both builds of Kelvane, each loaded as an application loads it, with Orvik in the simulated
// kernel and real image files: volumes formatted, mounted, written, dismounted and mounted again,
// and checked independently of the system: the image decrypted sector by sector with the
// OpenSSL-based SM4-XTS under the volume key is an NTFS volume that the host's ntfs-3g tools read.
#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <fstream>
#include <string>

#include "crypto/hex.h"
#include "crypto/sm2_encrypt.h"
#include "platform/testing/kernel_controls.h"
#include "platform/testing/network_controls.h"
#include "platform/testing/registry_controls.h"
#include "platform/testing/volume_controls.h"
#include "sim/card/card_controls.h"
#include "tests/support/orvik_test.h"
#include "tests/support/programs.h"
#include "tests/support/shared_library.h"
#include "tests/support/temp_machine_root.h"
#include "tests/support/volume_test.h"
#include "volume/exports.h"

namespace {

constexpr uint64_t kImageSize = 8 << 20;
constexpr char kImage[] = "C:\\Halden\\vol.img";
constexpr char kServiceKey[] = "SYSTEM\\CurrentControlSet\\Services\\Orvik";

// The volume exports of one build, by name.
class Kelvane : public SharedLibrary {
  public:
    using SharedLibrary::SharedLibrary;

    uint32_t format(char letter, std::string* text) const {
        const VolumeFormatArgs args{kImage, kImageSize, 1, letter};
        return call<decltype(QeltFormatVolume)>("QeltFormatVolume", text, &args);
    }
    // key null: card mode, or the software card's stored key.
    uint32_t mount(char letter, const uint8_t* key, std::string* text) const {
        const VolumeMountArgs args{kImage, 1, letter};
        return call<decltype(QeltMountVolume)>("QeltMountVolume", text, &args, key ? 1u : 0u, key);
    }
    uint32_t dismount(char letter, std::string* text) const {
        const VolumeDismountArgs args{letter, 0};
        return call<decltype(QeltDismountVolume)>("QeltDismountVolume", text, &args);
    }

  private:
    template <class F, class Args, class... More>
    uint32_t call(const char* name, std::string* text, const Args* args, More... more) const {
        ErrorText out;
        const uint32_t result = get<F>(name)(args, out.text, ErrorText::kSize, more...);
        *text = out.str();
        return result;
    }
};

class OrvikVolume : public ::testing::Test {
  protected:
    void SetUp() override {
        root_.make_folder("C:/Halden/etc");
        sim::registry_set_dword(kServiceKey, "MaxDevices", 2);
        ASSERT_EQ(sim::kernel::load_driver("Orvik", ORVIK_LIBRARY), STATUS_SUCCESS);
        letter_ = free_letter();
    }
    void TearDown() override {
        while (letter_defined(letter_))
            DefineDosDeviceA(DDD_REMOVE_DEFINITION, std::string(1, letter_).append(":").c_str(),
                             nullptr);
        EXPECT_EQ(sim::kernel::unload_driver("Orvik"), STATUS_SUCCESS);
        EXPECT_EQ(sim::kernel::pool_live_bytes("Orvk"), 0u);
        sim::usb::unplug_all();
        sim::network_use_real_adapters();
        sim::registry_delete_key(kServiceKey);
    }

    std::string host(const std::string& name) const {
        return root_.path("C:/Halden/" + name).string();
    }
    std::string image_bytes() const {
        std::ifstream in(host("vol.img"), std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    // The image decrypted sector by sector under key, as a host file; its path.
    std::string decrypted_image(const uint8_t* key) const {
        const std::string stored = image_bytes();
        const std::vector<uint8_t> plain = decrypt_sectors(stored, key, 0, stored.size());
        const std::string path = host("decrypted.img");
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(plain.data()),
                   static_cast<std::streamsize>(plain.size()));
        return path;
    }
    // A host file written through the drive as /name of its NTFS volume.
    void write_through_drive(const std::string& name, const std::string& content) const {
        const std::string source = host("source-" + name);
        std::ofstream(source, std::ios::binary) << content;
        std::string error;
        ASSERT_TRUE(sim::volume::copy_in(letter_, source, "/" + name, &error)) << error;
    }
    // What ntfscat reads of /name on the NTFS image at path.
    static std::string read_file(const std::string& image, const std::string& name) {
        std::string output;
        EXPECT_EQ(host_tool("ntfscat " + image + " /" + name, &output), 0) << output;
        return output;
    }
    static bool is_ntfs(const std::string& image) {
        std::string output;
        return host_tool("ntfsinfo -m " + image, &output) == 0;
    }
    // The volume on the drive, copied to a host file through the drive; its path.
    std::string snapshot() const {
        const std::string path = host("snapshot.img");
        std::string error;
        EXPECT_TRUE(sim::volume::snapshot(letter_, path, &error)) << error;
        return path;
    }
    std::string log_file() const {
        std::ifstream in(root_.path("C:/Halden/sdf-vrex.log"), std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    TempMachineRoot root_;
    char letter_ = 'Q';
};

std::string hex(const std::array<uint8_t, 32>& key) {
    char text[65];
    bytes_to_hex(key.data(), 32, text);
    return text;
}

// The software card: a volume under the stored key, written through the drive, read again under
// the stored key and under the same key given by the caller; another key does not give NTFS.
TEST_F(OrvikVolume, SoftwareCardVolumeUnderTheStoredKey) {
    Kelvane softcard(KELVANE_SOFTCARD_PATH);
    sim::network_set_adapters({{"eth0", true, true, {0x00, 0x1b, 0x21, 0x3c, 0x4d, 0x5e}}});
    ASSERT_EQ(softcard.get<uint32_t()>("init_cfg")(), 0u);
    uint32_t tries = 0;
    ASSERT_EQ(softcard.get<uint32_t(const uint8_t*, int32_t, uint32_t*)>("QeltVerifyPinCode")(
                  reinterpret_cast<const uint8_t*>("58302741"), 8, &tries),
              15u);
    uint8_t sign_key[64], enc_key[64];
    ASSERT_EQ(softcard.get<uint32_t(uint8_t*, uint8_t*)>("QeltExportPubkeys")(sign_key, enc_key),
              0u);
    std::array<uint8_t, 32> key;
    for (size_t i = 0; i < key.size(); ++i) key[i] = static_cast<uint8_t>(0x5A ^ (i * 29));
    uint8_t wrapped[128];
    ASSERT_EQ(sm2_encrypt(enc_key, key.data(), 32, wrapped, nullptr), 0);
    ASSERT_EQ(softcard.get<uint32_t(const uint8_t*, int32_t)>("QeltImportKey")(wrapped, 128), 0u);

    std::string text;
    ASSERT_EQ(softcard.format(letter_, &text), 0u) << text;
    EXPECT_FALSE(letter_defined(letter_));
    EXPECT_EQ(std::filesystem::file_size(host("vol.img")), kImageSize);
    EXPECT_FALSE(is_ntfs(host("vol.img")));
    EXPECT_TRUE(is_ntfs(decrypted_image(key.data())));

    ASSERT_EQ(softcard.mount(letter_, nullptr, &text), 0u) << text;
    write_through_drive("stored.txt", "under the stored key\n");
    ASSERT_EQ(softcard.dismount(letter_, &text), 0u) << text;
    EXPECT_EQ(read_file(decrypted_image(key.data()), "stored.txt"), "under the stored key\n");

    // The same 32 bytes given by the caller: the same volume.
    ASSERT_EQ(softcard.mount(letter_, key.data(), &text), 0u) << text;
    EXPECT_EQ(read_file(snapshot(), "stored.txt"), "under the stored key\n");
    write_through_drive("given.txt", "under the given key\n");
    ASSERT_EQ(softcard.dismount(letter_, &text), 0u) << text;
    EXPECT_EQ(read_file(decrypted_image(key.data()), "given.txt"), "under the given key\n");

    // Another key mounts (nothing checks it) but reads no NTFS volume.
    std::array<uint8_t, 32> other = key;
    other[0] ^= 1;
    ASSERT_EQ(softcard.mount(letter_, other.data(), &text), 0u) << text;
    EXPECT_FALSE(is_ntfs(snapshot()));
    std::string error;
    EXPECT_FALSE(sim::volume::copy_in(letter_, host("source-given.txt"), "/x.txt", &error));
    ASSERT_EQ(softcard.dismount(letter_, &text), 0u) << text;

    // Every mount's key stands in the log, as this build writes it.
    const std::string log = log_file();
    EXPECT_NE(log.find("[TRACE] HWkey:" + hex(key) + ": [api]"), std::string::npos);
    EXPECT_NE(log.find("[TRACE] SWkey:" + hex(key) + ": [api]"), std::string::npos);
    EXPECT_NE(log.find("[TRACE] SWkey:" + hex(other) + ": [api]"), std::string::npos);
}

// The device build in card mode: the card model encrypts under its volume key; the same key
// decrypts the image sector by sector, and given as a software key it mounts the same volume.
TEST_F(OrvikVolume, CardModeVolumeUnderTheCardsKey) {
    Kelvane device(KELVANE_DEVICE_PATH);
    sim::card::CardState state = sim::card::random_card();
    std::array<uint8_t, 32> key;
    for (size_t i = 0; i < key.size(); ++i) key[i] = static_cast<uint8_t>(0xC3 + i * 7);
    state.volume_key = key;
    auto card = sim::card::plug(state);

    std::string text;
    ASSERT_EQ(device.format(letter_, &text), 0u) << text;
    EXPECT_FALSE(letter_defined(letter_));
    EXPECT_FALSE(is_ntfs(host("vol.img")));
    EXPECT_TRUE(is_ntfs(decrypted_image(key.data())));
    bool fpga = false;
    for (const auto& frame : card->frames()) fpga = fpga || frame.fpga;
    EXPECT_TRUE(fpga) << "the card encrypted the sectors";

    ASSERT_EQ(device.mount(letter_, nullptr, &text), 0u) << text;
    write_through_drive("card.txt", "through the card\n");
    ASSERT_EQ(device.dismount(letter_, &text), 0u) << text;
    EXPECT_EQ(read_file(decrypted_image(key.data()), "card.txt"), "through the card\n");

    ASSERT_EQ(device.mount(letter_, key.data(), &text), 0u) << text;
    EXPECT_EQ(read_file(snapshot(), "card.txt"), "through the card\n");
    ASSERT_EQ(device.dismount(letter_, &text), 0u) << text;

    // The device build's threshold drops every volume trace.
    EXPECT_EQ(log_file().find("[TRACE]"), std::string::npos);
}

// The dismount sends the driver's close to whatever device the letter names and does not look at
// its result: a disk without an image refuses it, and the letter goes all the same.
TEST_F(OrvikVolume, DismountDoesNotLookAtTheDriversClose) {
    Kelvane device(KELVANE_DEVICE_PATH);
    const std::string name = std::string(1, letter_) + ":";
    ASSERT_TRUE(DefineDosDeviceA(DDD_RAW_TARGET_PATH, name.c_str(), "\\Device\\orvik\\device2"));
    std::string text;
    EXPECT_EQ(device.dismount(letter_, &text), 0u) << text;
    EXPECT_FALSE(letter_defined(letter_));
}

}  // namespace
