// Test controls of the card's firmware model: a card behind the simulated bridge's bulk endpoints
// (0x02 OUT, 0x86 IN) that answers every command frame and every FPGA data frame the host sends.
//
// A card is a value (CardState): a test makes one, plugs it, and gets it back when it unplugs it.
// The plugged card injects faults and records every frame it received. Product code never calls
// this.
//
//   sim::card::CardState state = sim::card::random_card();
//   state.pin = "12345678";
//   state.admin_public_key = sim::card::key_pair(admin_private).public_key;
//   auto card = sim::card::plug(state);           // the next device of the bridge's GUID
//   ... run the host code ...
//   EXPECT_EQ(card->frames().back().status, sim::card::kWrongPin);
//   card->fail(0x720, {.status = 0x6A82});        // every 0x720 answered with this status
//   card->fail_next(1, {.no_answer = true});      // the next frame's answer never comes
//   sim::card::CardState kept = card->unplug();   // the power goes: logged out, key slots empty
//   card = sim::card::plug(kept);                  // the same card again
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/usb_bus/usb_controls.h"

namespace sim::card {

// Status words of the card's answers (response offset 12, big-endian). The numbers up to 20 are
// the software card's result codes for the same conditions.
enum Status : uint32_t {
    kOk = 0,
    // No matching pending challenge, an administrator signature that does not verify, an unlock
    // of a card that is not locked, an SM2 operation or the random source failing.
    kFailed = 1,
    kInvalidArgument = 3,  // a length or PIN field out of range in the payload
    kNotLoggedIn = 6,
    kLocked = 8,  // no PIN tries left
    kNotBound = 9,
    kAlreadyBound = 10,
    kNoFreeBindSlot = 12,
    kMacNotBound = 13,  // the MAC to unbind is in no bind slot
    kAlreadyLoggedIn = 14,
    kPinRightHostNotBound = 15,  // logged in all the same
    kWrongPin = 20,              // the tries left follow at response offset 16
    // Only a card has these.
    kBadFrame = 40,  // refused frame: its length, tag or payload-length word, or too short
    kUnsupportedCommand = 41,  // a code the card does not serve (0x767 among them)
    kBadKeySlot = 42,          // slot 0, above 128, or holding no key
    kNoFreeKeySlot = 43,       // all 128 key slots hold keys
    kBackupRejected = 44,      // the backup block does not open under this password hash
};

// Status byte of an FPGA data frame's reply (reply offset 4).
enum FpgaStatus : uint8_t {
    kFpgaOk = 0,
    kFpgaBadLength = 1,  // length field not the frame's data, or the data not whole units
    kFpgaNoKey = 2,      // the slot holds no key, or the card holds no volume key
};

// The state byte of the card information (0x720, response offset 16).
enum InfoBits : uint8_t {
    kInfoLoggedIn = 0x02,
    kInfoVolumeKey = 0x04,
    kInfoLocked = 0x08,
    kInfoBound = 0x10,
};

inline constexpr uint32_t kFpgaEncrypt = 0x241;  // FPGA opcodes; also the codes of fail()
inline constexpr uint32_t kFpgaDecrypt = 0x242;

inline constexpr char kDefaultPin[] = "58302741";  // the PIN of a new or zeroised card
inline constexpr uint32_t kPinTries = 6;
inline constexpr size_t kBindSlots = 5;
inline constexpr size_t kKeySlots = 128;

using Key32 = std::array<uint8_t, 32>;

struct KeyPair {
    Key32 private_key{};
    std::array<uint8_t, 64> public_key{};  // x then y
};
KeyPair key_pair(const Key32& private_key);
KeyPair random_key_pair();

struct BindSlot {
    bool used = false;
    std::array<uint8_t, 6> mac{};
};

struct CardState {
    // Kept while the card has no power.
    std::array<uint8_t, 16> serial{};
    std::string pin = kDefaultPin;   // compared with the length and bytes of a PIN field
    uint32_t pin_tries = kPinTries;  // 0: locked
    std::array<BindSlot, kBindSlots> bind_slots{};
    uint32_t bind_allowed = kBindSlots;  // the login finds the host in the first this-many slots
    KeyPair signing, encryption;
    std::array<uint8_t, 64> admin_public_key{};  // verifies unlock, PIN reset and zeroise
    std::optional<Key32> volume_key;  // imported by 0x72C; the key of the driver's sector frames
    bool activated = false;           // set by 0x737

    // Lost when the power goes (power_off, unplug).
    bool logged_in = false;
    bool bound = false;       // the logged-in host's MAC is in a bind slot
    uint32_t bind_index = 0;  // that slot's number (1-based); 0 when not bound
    std::optional<std::array<uint8_t, 16>> challenge;         // the last one issued, until used
    std::array<std::optional<Key32>, kKeySlots> key_slots{};  // slot n at index n - 1

    void power_off();
};

// A card with a random serial and random key pairs, the default PIN, six tries, no bound host,
// no volume key, and the public key of a random administrator key pair (supply your own to sign
// administrator challenges).
CardState random_card();

// What an injected fault does to a frame's answer. The card does not act on a frame that it
// answers with an injected status or that it loses power over (unplug); it does act on the
// others, and only the answer is changed or lost.
struct Fault {
    // Answered with this status word (an FPGA frame: this status byte) and zero outputs.
    std::optional<uint32_t> status = {};
    std::optional<uint32_t> answer_bytes = {};  // only the answer's first n bytes arrive
    bool no_answer = false;                     // the answer never comes: the read times out
    bool stall = false;                         // the IN endpoint stalls instead of answering
    bool unplug = false;  // the card is pulled after taking the frame, before it answers
    // FPGA frames: the reply's total length field, and its echoed sector.
    std::optional<uint32_t> total_length = {};
    std::optional<uint64_t> echoed_sector = {};
    // Bytes written over the answer from this offset once the card has built it (header fields,
    // outputs); what would fall past the answer's end is dropped.
    size_t overwrite_at = 0;
    std::vector<uint8_t> overwrite = {};
};

// Why the card refused a frame without acting on it.
enum class FrameError : uint8_t {
    kNone,
    kLength,         // not a whole number of 64-byte units (or empty)
    kTag,            // command frame: bytes 4..7 not 00 00 05 35
    kPayloadLength,  // command frame: payload-length word not the frame's length less 16
    kTooShort,       // command frame: shorter than its command's request
    kFpgaLength,     // FPGA frame: length field not the frame's length less 64
};

struct FrameRecord {
    std::vector<uint8_t> bytes;  // the frame as received
    uint32_t code = 0;           // the command code, or the FPGA opcode
    bool fpga = false;
    uint32_t status = 0;  // the status word answered (FPGA frames: the status byte)
    FrameError error = FrameError::kNone;
    bool faulted = false;     // an injected fault applied to this frame
    bool overlapped = false;  // the previous frame's answer was still unread when this came
};

// A plugged card. Calls may come from any thread; the card answers one frame at a time.
class Card {
  public:
    virtual ~Card() = default;
    virtual std::shared_ptr<usb::Device> device() const = 0;
    virtual const std::string& path() const = 0;  // the interface path
    virtual bool plugged() const = 0;
    // The state as the card holds it now; replaced whole by set_state.
    virtual CardState state() const = 0;
    virtual void set_state(const CardState& state) = 0;
    // Pulls the card (if it is still in); what it keeps without power comes back (plug it again
    // with it).
    virtual CardState unplug() = 0;

    // Faults for the frames with this command code (or FPGA opcode), or for the next frames
    // whatever they are (these come first). frames: how many (-1 until cleared, 0 none any
    // more); a later call for the same code, or for the next frames, replaces the earlier.
    virtual void fail(uint32_t code, const Fault& fault, int frames = -1) = 0;
    virtual void fail_next(int frames, const Fault& fault) = 0;
    virtual void clear_faults() = 0;

    // Every frame received, and the refused ones alone. With recording off the card keeps only
    // the refused frames, and its bus device no traffic (benches).
    virtual std::vector<FrameRecord> frames() const = 0;
    virtual std::vector<FrameRecord> refused() const = 0;
    virtual void clear_records() = 0;
    virtual void set_recording(bool on) = 0;
};

// Plugs a card with this state at the end of the bus (usb::card_description(superspeed), with
// instance_id in its interface path when given).
std::shared_ptr<Card> plug(CardState state, bool superspeed = false,
                           const std::string& instance_id = "");

}  // namespace sim::card
