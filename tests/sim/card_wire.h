// The tests' own side of the wire to a simulated card: frames built field by field here, sent
// through the host's USB classes on the simulated bus.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "sim/card/card_controls.h"
#include "usb/device.h"

namespace cardtest {

using Bytes = std::vector<uint8_t>;

// A command frame of length bytes before rounding: header (code, tag 0x535, payload length =
// rounded length - 16, status 0), the rest zero until fields are put.
class Frame {
  public:
    Frame(uint32_t code, uint32_t length);
    Frame& be32(size_t offset, uint32_t value);
    Frame& bytes(size_t offset, const uint8_t* data, size_t size);
    template <size_t N>
    Frame& bytes(size_t offset, const std::array<uint8_t, N>& data) {
        return bytes(offset, data.data(), N);
    }
    Frame& text(size_t offset, const std::string& text);  // without its NUL
    const Bytes& data() const { return data_; }
    Bytes& data() { return data_; }

  private:
    Bytes data_;
};

// An FPGA data frame: opcode, 24-bit length, flag byte 7, key field (32 bytes), tweak (16), the
// sector at 56, then the data.
Bytes fpga_frame(uint32_t opcode, const Bytes& data, const uint8_t* key_field, const uint8_t* tweak,
                 uint64_t sector = 0, uint8_t flag = 0);
Bytes fpga_slot_frame(uint32_t opcode, uint32_t slot, const Bytes& data, const Bytes& tweak);
// The driver's form: a zero key field, the first sector as tweak and again at 56.
Bytes sector_frame(uint32_t opcode, uint64_t sector, const Bytes& data);

uint32_t load_be32(const Bytes& b, size_t offset);
uint32_t load_le32(const Bytes& b, size_t offset);
uint64_t load_le64(const Bytes& b, size_t offset);
Bytes slice(const Bytes& b, size_t offset, size_t size);

// The status word of a command answer.
inline uint32_t status_of(const Bytes& answer) {
    return load_be32(answer, 12);
}

// One open link to the index-th device of the bridge's interface GUID.
class Link {
  public:
    explicit Link(uint8_t index = 0);
    ~Link();
    bool attached() const { return attached_; }
    // 0, -2 short, -3 failed (the card link's results).
    int write(Bytes frame);
    int read(Bytes& into, uint32_t length, uint32_t timeout_ms = 3000);

  private:
    std::unique_ptr<CCyUSBDriverDevice> device_;
    bool attached_ = false;
};

struct Answer {
    int write = 0, read = 0;  // link results
    Bytes bytes;
    uint32_t status() const { return status_of(bytes); }
};

// Open, write, read read_length bytes, close: the host's exchange.
Answer roundtrip(const Bytes& frame, uint32_t read_length, uint8_t index = 0,
                 uint32_t timeout_ms = 3000);
inline Answer roundtrip(const Frame& frame, uint32_t read_length, uint8_t index = 0) {
    return roundtrip(frame.data(), read_length, index);
}

// Fixed keys for the tests.
sim::card::KeyPair admin_keys();
std::array<uint8_t, 64> admin_signature(const Bytes& message);
inline constexpr std::array<uint8_t, 6> kHostMac = {0x02, 0x11, 0x22, 0x33, 0x44, 0x55};
inline constexpr char kPin[] = "12345678";

// A card with serial 00 01 .. 0f, PIN "12345678", random key pairs and the tests' administrator.
sim::card::CardState known_card();

// Every test starts and ends with an empty bus.
class SimCard : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    // Plugs known_card() (changed by the caller first, if wanted).
    std::shared_ptr<sim::card::Card> plug(sim::card::CardState state = known_card());

    // Command exchanges on device 0 that the tests repeat: each returns the status word.
    uint32_t login(const std::string& pin = kPin, const std::array<uint8_t, 6>& mac = kHostMac);
    uint32_t bind(const std::array<uint8_t, 6>& mac = kHostMac);
    // Logged in and bound (asserts both).
    void login_bound();
};

// The command's code and lengths before rounding.
struct Command {
    uint32_t code, request, response;
};
inline constexpr Command kQueryCardInfo{0x720, 16, 117}, kVerifyPin{0x721, 42, 20},
    kLogout{0x722, 16, 16}, kSetPin{0x723, 56, 20}, kExportPublicKeys{0x724, 16, 144},
    kSign{0x725, 48, 80}, kChallenge{0x726, 16, 32}, kUnlock{0x727, 112, 16},
    kResetPin{0x728, 129, 16}, kMakeKey{0x729, 80, 148}, kImportKey{0x72A, 144, 20},
    kFreeSlot{0x72B, 20, 16}, kImportVolumeKey{0x72C, 144, 16}, kBind{0x72E, 22, 16},
    kUnbind{0x72F, 22, 16}, kQueryBinding{0x730, 16, 128}, kZeroise{0x732, 112, 16},
    kBackup{0x735, 48, 320}, kRecover{0x736, 352, 16}, kActivate{0x737, 16, 16},
    kUnsupported{0x767, 16, 16};

inline uint32_t rounded(uint32_t n) {
    return (n + 63) / 64 * 64;
}
inline Frame request(const Command& c) {
    return Frame(c.code, c.request);
}
inline Answer roundtrip(const Command& c, const Frame& frame, uint8_t index = 0) {
    return roundtrip(frame.data(), rounded(c.response), index);
}
inline Answer roundtrip(const Command& c, uint8_t index = 0) {
    return roundtrip(c, request(c), index);
}

// Request frames with their fields.
Frame verify_pin_frame(const std::string& pin, uint32_t length,
                       const std::array<uint8_t, 6>& mac = kHostMac);
Frame random_frame(uint32_t count);
Frame xts_frame(uint32_t code, uint32_t slot, const Bytes& tweak, const Bytes& data);

}  // namespace cardtest
