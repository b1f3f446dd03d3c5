#include "tests/sim/card_wire.h"

#include <cstring>
#include <stdexcept>

#include "base/byte_access.h"
#include "crypto/sm2.h"
#include "usb/endpoint.h"

namespace cardtest {
namespace {

// The size bytes of b at offset, or out_of_range.
template <class Buffer>
auto field(Buffer& b, size_t offset, size_t size) {
    if (offset + size > b.size()) throw std::out_of_range("frame field");
    return b.data() + offset;
}

}  // namespace

Frame::Frame(uint32_t code, uint32_t length) : data_(rounded(length), 0) {
    bytes::store_le32(data_.data(), code);
    bytes::store_be32(data_.data() + 4, 0x535);
    bytes::store_le32(data_.data() + 8, static_cast<uint32_t>(data_.size()) - 16);
}

Frame& Frame::be32(size_t offset, uint32_t value) {
    bytes::store_be32(field(data_, offset, 4), value);
    return *this;
}

Frame& Frame::bytes(size_t offset, const uint8_t* data, size_t size) {
    std::memcpy(field(data_, offset, size), data, size);
    return *this;
}

Frame& Frame::text(size_t offset, const std::string& text) {
    return bytes(offset, reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

Bytes fpga_frame(uint32_t opcode, const Bytes& data, const uint8_t* key_field, const uint8_t* tweak,
                 uint64_t sector, uint8_t flag) {
    Bytes frame(64 + data.size(), 0);
    bytes::store_le32(frame.data(), opcode);
    bytes::store_le32(frame.data() + 4, static_cast<uint32_t>(data.size()));
    frame[7] = flag;  // over the length's fourth byte: the length field is 24 bits
    if (key_field) std::memcpy(frame.data() + 8, key_field, 32);
    if (tweak) std::memcpy(frame.data() + 40, tweak, 16);
    bytes::store_le64(frame.data() + 56, sector);
    std::memcpy(frame.data() + 64, data.data(), data.size());
    return frame;
}

Bytes fpga_slot_frame(uint32_t opcode, uint32_t slot, const Bytes& data, const Bytes& tweak) {
    uint8_t key_field[32] = {};
    bytes::store_le32(key_field, slot);
    return fpga_frame(opcode, data, key_field, tweak.data());
}

Bytes sector_frame(uint32_t opcode, uint64_t sector, const Bytes& data) {
    Bytes frame = fpga_frame(opcode, data, nullptr, nullptr, sector);
    // The driver's length field is all four bytes 4..7.
    bytes::store_le32(frame.data() + 4, static_cast<uint32_t>(data.size()));
    bytes::store_le64(frame.data() + 40, sector);
    return frame;
}

uint32_t load_be32(const Bytes& b, size_t offset) {
    return bytes::load_be32(field(b, offset, 4));
}

uint32_t load_le32(const Bytes& b, size_t offset) {
    return bytes::load_le32(field(b, offset, 4));
}

uint64_t load_le64(const Bytes& b, size_t offset) {
    return bytes::load_le64(field(b, offset, 8));
}

Bytes slice(const Bytes& b, size_t offset, size_t size) {
    const uint8_t* start = field(b, offset, size);
    return Bytes(start, start + size);
}

Link::Link(uint8_t index)
    : device_(std::make_unique<CCyUSBDriverDevice>(nullptr, UsbDriverInterfaceGuid, 0)) {
    attached_ = device_->AttachDevice(index);
}

Link::~Link() {
    try {
        device_.reset();
    } catch (...) {
    }
}

namespace {

int transfer(CCyUSBDriverDevice& device, uint8_t address, uint8_t* buffer, uint32_t length,
             uint32_t timeout_ms) {
    CCyUSBEndPoint* endpoint = device.FindEndPoint(address);
    if (!endpoint) return -3;
    endpoint->TimeoutMs = timeout_ms;
    auto moved = static_cast<int32_t>(length);
    if (!endpoint->TransferData(buffer, moved, nullptr)) return -3;
    return static_cast<uint32_t>(moved) == length ? 0 : -2;
}

}  // namespace

int Link::write(Bytes frame) {
    if (!attached_) return -2;
    return transfer(*device_, 0x02, frame.data(), static_cast<uint32_t>(frame.size()), 3000);
}

int Link::read(Bytes& into, uint32_t length, uint32_t timeout_ms) {
    if (!attached_) return -2;
    into.assign(length, 0);
    return transfer(*device_, 0x86, into.data(), length, timeout_ms);
}

Answer roundtrip(const Bytes& frame, uint32_t read_length, uint8_t index, uint32_t timeout_ms) {
    Answer answer;
    Link link(index);
    if (!link.attached()) {
        answer.write = answer.read = -2;
        return answer;
    }
    answer.write = link.write(frame);
    if (answer.write == 0) answer.read = link.read(answer.bytes, read_length, timeout_ms);
    return answer;
}

sim::card::KeyPair admin_keys() {
    sim::card::Key32 private_key;
    for (size_t i = 0; i < private_key.size(); ++i)
        private_key[i] = static_cast<uint8_t>(0x3C + 7 * i);
    return sim::card::key_pair(private_key);
}

std::array<uint8_t, 64> admin_signature(const Bytes& message) {
    const auto admin = admin_keys();
    std::array<uint8_t, 64> signature{};
    EXPECT_EQ(sm2_sign(admin.private_key.data(), admin.public_key.data(), message.data(),
                       static_cast<uint32_t>(message.size()), signature.data()),
              0);
    return signature;
}

sim::card::CardState known_card() {
    sim::card::CardState card = sim::card::random_card();
    for (size_t i = 0; i < card.serial.size(); ++i) card.serial[i] = static_cast<uint8_t>(i);
    card.pin = kPin;
    card.admin_public_key = admin_keys().public_key;
    return card;
}

void SimCard::SetUp() {
    sim::usb::unplug_all();
}

void SimCard::TearDown() {
    sim::usb::unplug_all();
}

std::shared_ptr<sim::card::Card> SimCard::plug(sim::card::CardState state) {
    return sim::card::plug(std::move(state));
}

Frame verify_pin_frame(const std::string& pin, uint32_t length, const std::array<uint8_t, 6>& mac) {
    Frame frame = request(kVerifyPin);
    frame.be32(16, length).text(20, pin.substr(0, 16)).bytes(36, mac);
    return frame;
}

uint32_t SimCard::login(const std::string& pin, const std::array<uint8_t, 6>& mac) {
    return roundtrip(kVerifyPin, verify_pin_frame(pin, static_cast<uint32_t>(pin.size()), mac))
        .status();
}

uint32_t SimCard::bind(const std::array<uint8_t, 6>& mac) {
    return roundtrip(kBind, request(kBind).bytes(16, mac)).status();
}

void SimCard::login_bound() {
    const uint32_t status = login();
    if (status == sim::card::kPinRightHostNotBound) {
        ASSERT_EQ(bind(), sim::card::kOk);
    } else {
        ASSERT_EQ(status, sim::card::kOk);
    }
}

Frame random_frame(uint32_t count) {
    Frame frame = request(Command{0x72D, 20, 0});
    frame.be32(16, count);
    return frame;
}

Frame xts_frame(uint32_t code, uint32_t slot, const Bytes& tweak, const Bytes& data) {
    Frame frame(code, 40 + static_cast<uint32_t>(data.size()));
    frame.be32(16, slot).bytes(20, tweak.data(), 16).be32(36, static_cast<uint32_t>(data.size()));
    frame.bytes(40, data.data(), data.size());
    return frame;
}

}  // namespace cardtest
