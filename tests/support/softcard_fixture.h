// A software card on a fresh machine: an empty machine root with the folders "C:/Halden/etc" and
// kFiles, the process logged out with no challenge. On Linux this PC is one simulated network
// adapter with a known address; under Windows it is the machine's own first adapter.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "card/commands/mac.h"
#include "softcard/exports.h"
#include "softcard/session.h"
#include "softcard/store.h"
#include "tests/support/temp_machine_root.h"
#ifndef _WIN32
#include "platform/testing/disk_controls.h"
#include "platform/testing/network_controls.h"
#include "platform/testing/random_controls.h"
#endif

template <size_t N>
std::vector<uint8_t> vector_of(const uint8_t (&array)[N]) {
    return std::vector<uint8_t>(array, array + N);
}

using MacAddress = std::array<uint8_t, 6>;

// The address of this PC's simulated adapter on Linux.
inline const MacAddress kSimulatedPc = {0x00, 0x1b, 0x21, 0xaa, 0xbb, 0xcc};
inline const char kDefaultPin[] = "58302741";
inline const char kOtherPin[] = "91640275";
inline const char kWrongPin[] = "27195038";
// Where tests keep the files they encrypt and decrypt.
inline const char kFiles[] = "C:/Halden/files";

inline const uint8_t* bytes_of(const char* text) {
    return reinterpret_cast<const uint8_t*>(text);
}

class SoftcardTest : public ::testing::Test {
  protected:
    void SetUp() override {
        root.make_folder("C:/Halden/etc");
        root.make_folder(kFiles);
        card_session() = CardSession{};
#ifdef _WIN32
        if (GetMac(this_pc.data()) != 0)
            GTEST_SKIP() << "the tests bind this PC, and its MAC address cannot be read here";
#else
        set_this_pc(kSimulatedPc);
#endif
    }
    void TearDown() override {
        card_session() = CardSession{};
#ifndef _WIN32
        sim::disk_clear_free_space_limits();
        sim::disk_clear_read_limits();
        sim::random_fail_generation(false);
        sim::network_use_real_adapters();
#endif
    }

#ifndef _WIN32
    void set_this_pc(const MacAddress& mac) {
        sim::network_set_adapters({{ "eth0", true, true, mac }});
        this_pc = mac;
    }
#endif

    std::filesystem::path store_file() const {
        return root.path("C:/Halden/etc/halden.ini");
    }

    static std::vector<uint8_t> file_bytes(const std::filesystem::path& path) {
        std::ifstream in(path, std::ios::binary);
        return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
    }
    static void write_file_bytes(const std::filesystem::path& path,
                                 const std::vector<uint8_t>& bytes) {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()),
                  static_cast<std::streamsize>(bytes.size()));
    }
    // The names in "C:/Halden/etc".
    std::set<std::string> etc_files() const {
        std::set<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(root.path("C:/Halden/etc")))
            names.insert(entry.path().filename().string());
        return names;
    }
    std::vector<uint8_t> store_bytes() const {
        return file_bytes(store_file());
    }
    void write_store_bytes(const std::vector<uint8_t>& bytes) const {
        write_file_bytes(store_file(), bytes);
    }
    CardRecord record() const {
        CardRecord r{};
        const auto bytes = store_bytes();
        EXPECT_EQ(bytes.size(), STORE_RECORD_SIZE);
        if (bytes.size() >= STORE_RECORD_SIZE) decode_record(bytes.data(), &r);
        return r;
    }
    void set_record(const CardRecord& r) const {
        std::vector<uint8_t> bytes(STORE_RECORD_SIZE);
        encode_record(r, bytes.data());
        write_store_bytes(bytes);
    }

    static uint32_t login(const char* pin = kDefaultPin) {
        uint32_t tries = 0;
        return QeltVerifyPinCode(bytes_of(pin), static_cast<int32_t>(std::strlen(pin)), &tries);
    }
    // A fresh card, logged in and bound to this PC.
    static void fresh_bound_login() {
        ASSERT_EQ(init_cfg(), 0u);
        ASSERT_EQ(login(), 15u);
        ASSERT_EQ(QeltBindCurMac(), 0u);
    }
    static uint8_t status() {
        uint8_t info[CARD_INFO_SIZE] = {};
        EXPECT_EQ(QeltQueryCardInfo(info), 0u);
        return info[0];
    }
    static std::string serial() {
        uint8_t info[CARD_INFO_SIZE] = {};
        EXPECT_EQ(QeltQueryCardInfo(info), 0u);
        return std::string(reinterpret_cast<const char*>(info + 1));
    }
    // Six wrong PINs: the card is locked afterwards.
    static void lock_card() {
        for (int i = 0; i < 6; ++i) ASSERT_EQ(login(kWrongPin), 1u);
    }

    TempMachineRoot root;
    MacAddress this_pc{};
};
