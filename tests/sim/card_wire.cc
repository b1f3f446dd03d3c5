#include "tests/sim/card_wire.h"

#include <cstring>
#include <stdexcept>

#include "crypto/sm2.h"
#include "usb/endpoint.h"

namespace cardtest {

Frame::Frame(uint32_t code, uint32_t length) : data_(rounded(length), 0) {
    const uint32_t payload = static_cast<uint32_t>(data_.size()) - 16;
    for (int i = 0; i < 4; ++i) {
        data_[i] = static_cast<uint8_t>(code >> (8 * i));
        data_[8 + i] = static_cast<uint8_t>(payload >> (8 * i));
    }
    data_[6] = 0x05;
    data_[7] = 0x35;
}

Frame& Frame::be32(size_t offset, uint32_t value) {
    for (int i = 0; i < 4; ++i) data_.at(offset + i) = static_cast<uint8_t>(value >> (24 - 8 * i));
    return *this;
}

Frame& Frame::bytes(size_t offset, const uint8_t* data, size_t size) {
    if (offset + size > data_.size()) throw std::out_of_range("frame field");
    std::memcpy(data_.data() + offset, data, size);
    return *this;
}

Frame& Frame::text(size_t offset, const std::string& text) {
    return bytes(offset, reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

Bytes fpga_frame(uint32_t opcode, const Bytes& data, const uint8_t* key_field, const uint8_t* tweak,
                 uint64_t sector, uint8_t flag) {
    Bytes frame(64 + data.size(), 0);
    const uint32_t length = static_cast<uint32_t>(data.size());
    for (int i = 0; i < 4; ++i) frame[i] = static_cast<uint8_t>(opcode >> (8 * i));
    for (int i = 0; i < 3; ++i) frame[4 + i] = static_cast<uint8_t>(length >> (8 * i));
    frame[7] = flag;
    if (key_field) std::memcpy(frame.data() + 8, key_field, 32);
    if (tweak) std::memcpy(frame.data() + 40, tweak, 16);
    for (int i = 0; i < 8; ++i) frame[56 + i] = static_cast<uint8_t>(sector >> (8 * i));
    std::memcpy(frame.data() + 64, data.data(), data.size());
    return frame;
}

Bytes fpga_slot_frame(uint32_t opcode, uint32_t slot, const Bytes& data, const Bytes& tweak) {
    uint8_t key_field[32] = {};
    for (int i = 0; i < 4; ++i) key_field[i] = static_cast<uint8_t>(slot >> (8 * i));
    return fpga_frame(opcode, data, key_field, tweak.data());
}

Bytes sector_frame(uint32_t opcode, uint64_t sector, const Bytes& data) {
    Bytes frame = fpga_frame(opcode, data, nullptr, nullptr, sector);
    // The driver's length field is all four bytes 4..7.
    const uint32_t length = static_cast<uint32_t>(data.size());
    for (int i = 0; i < 4; ++i) frame[4 + i] = static_cast<uint8_t>(length >> (8 * i));
    for (int i = 0; i < 8; ++i) frame[40 + i] = static_cast<uint8_t>(sector >> (8 * i));
    return frame;
}

uint32_t load_be32(const Bytes& b, size_t offset) {
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v = v << 8 | b.at(offset + i);
    return v;
}

uint32_t load_le32(const Bytes& b, size_t offset) {
    uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = v << 8 | b.at(offset + i);
    return v;
}

uint64_t load_le64(const Bytes& b, size_t offset) {
    return uint64_t{load_le32(b, offset)} | uint64_t{load_le32(b, offset + 4)} << 32;
}

Bytes slice(const Bytes& b, size_t offset, size_t size) {
    if (offset + size > b.size()) throw std::out_of_range("slice");
    return Bytes(b.begin() + static_cast<ptrdiff_t>(offset),
                 b.begin() + static_cast<ptrdiff_t>(offset + size));
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
