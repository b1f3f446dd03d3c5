#include "platform/usb_bus/hardware.h"

#include <algorithm>
#include <cstring>

#include "platform/usb_bus/bytes.h"

namespace sim::usb {
namespace {

constexpr uint8_t kGetDescriptor = 6;
constexpr uint8_t kTypeDevice = 1, kTypeConfiguration = 2, kTypeString = 3, kTypeInterface = 4,
                  kTypeEndpoint = 5, kTypeBos = 15;
constexpr uint32_t kDefaultTransferSize = 0x10000;

}  // namespace

Hardware::Hardware(Description description)
    : description_(std::move(description)),
      alternate_setting_(description_.alternate_setting),
      power_state_(description_.power_state) {}

Reply Hardware::control(const SetupPacket& setup, std::span<uint8_t> data) {
    if (setup.request_type == 0x80 && setup.request == kGetDescriptor)
        return get_descriptor(setup, data);
    auto target = behaviour(0);
    std::lock_guard guard(behaviour_lock_);
    return target ? target->control(setup, data) : Reply::stall();
}

Reply Hardware::get_descriptor(const SetupPacket& setup, std::span<uint8_t> data) {
    uint8_t type = static_cast<uint8_t>(setup.value >> 8);
    uint8_t index = static_cast<uint8_t>(setup.value);
    {
        std::lock_guard guard(lock_);
        const auto& failing = faults_.failing_descriptors;
        if (std::find(failing.begin(), failing.end(), type) != failing.end()) return Reply::stall();
    }
    const std::vector<uint8_t>* source = nullptr;
    switch (type) {
        case kTypeDevice:
            source = &description_.device;
            break;
        case kTypeConfiguration:
            if (index < description_.configurations.size())
                source = &description_.configurations[index];
            break;
        case kTypeString: {
            auto it = description_.strings.find(index);
            if (it != description_.strings.end()) source = &it->second;
            break;
        }
        case kTypeBos:
            if (!description_.bos.empty()) source = &description_.bos;
            break;
        default:
            break;
    }
    if (!source) return Reply::stall();
    size_t n = std::min({source->size(), data.size(), static_cast<size_t>(setup.length)});
    if (n) std::memcpy(data.data(), source->data(), n);
    return Reply::ok(static_cast<uint32_t>(n));
}

Reply Hardware::transfer(uint8_t endpoint, bool in, std::span<uint8_t> data) {
    auto target = behaviour(endpoint);
    std::lock_guard guard(behaviour_lock_);
    if (!target) {
        EndpointBehaviour fallback;
        return in ? fallback.answer(endpoint, data) : fallback.receive(endpoint, data);
    }
    return in ? target->answer(endpoint, data) : target->receive(endpoint, data);
}

std::optional<uint8_t> Hardware::endpoint_attributes(uint8_t endpoint) const {
    if (description_.configurations.empty()) return std::nullopt;
    std::span<const uint8_t> set = description_.configurations[0];
    size_t end = std::min<size_t>(set.size(), get16(set, 2));
    uint8_t alternate = alternate_setting();
    bool in_current = false;
    for (size_t at = get8(set, 0); at + 2 <= end;) {
        uint8_t length = get8(set, at);
        if (length < 2 || at + length > end) break;
        uint8_t type = get8(set, at + 1);
        if (type == kTypeInterface && length >= 9) in_current = get8(set, at + 3) == alternate;
        if (type == kTypeEndpoint && length >= 7 && in_current && get8(set, at + 2) == endpoint)
            return get8(set, at + 3);
        at += length;
    }
    return std::nullopt;
}

EndpointFault Hardware::take_fault(uint8_t endpoint) {
    std::lock_guard guard(lock_);
    auto it = endpoint_faults_.find(endpoint);
    if (it == endpoint_faults_.end()) return {};
    EndpointFault fault = it->second;
    if (it->second.transfers > 0 && --it->second.transfers == 0) endpoint_faults_.erase(it);
    return fault;
}

void Hardware::set_fault(uint8_t endpoint, const EndpointFault& fault) {
    std::lock_guard guard(lock_);
    if (fault.transfers == 0)
        endpoint_faults_.erase(endpoint);
    else
        endpoint_faults_[endpoint] = fault;
}

void Hardware::set_faults(const DeviceFaults& faults) {
    std::lock_guard guard(lock_);
    faults_ = faults;
}

DeviceFaults Hardware::faults() const {
    std::lock_guard guard(lock_);
    return faults_;
}

void Hardware::clear_faults() {
    std::lock_guard guard(lock_);
    endpoint_faults_.clear();
    faults_ = {};
}

void Hardware::set_behaviour(uint8_t endpoint, std::shared_ptr<EndpointBehaviour> behaviour) {
    std::lock_guard guard(lock_);
    behaviours_[endpoint] = std::move(behaviour);
}

std::shared_ptr<EndpointBehaviour> Hardware::behaviour(uint8_t endpoint) const {
    std::lock_guard guard(lock_);
    auto it = behaviours_.find(endpoint);
    return it == behaviours_.end() ? nullptr : it->second;
}

uint8_t Hardware::alternate_setting() const {
    std::lock_guard guard(lock_);
    return alternate_setting_;
}

void Hardware::set_alternate_setting(uint8_t alternate) {
    std::lock_guard guard(lock_);
    alternate_setting_ = alternate;
}

uint32_t Hardware::power_state() const {
    std::lock_guard guard(lock_);
    return power_state_;
}

void Hardware::set_power_state(uint32_t state) {
    std::lock_guard guard(lock_);
    power_state_ = state;
}

uint32_t Hardware::transfer_size(uint8_t endpoint) const {
    std::lock_guard guard(lock_);
    auto it = transfer_sizes_.find(endpoint);
    return it == transfer_sizes_.end() ? kDefaultTransferSize : it->second;
}

void Hardware::set_transfer_size(uint8_t endpoint, uint32_t size) {
    std::lock_guard guard(lock_);
    transfer_sizes_[endpoint] = size;
}

void Hardware::record_code(uint32_t code) {
    if (!recording_) return;
    std::lock_guard guard(lock_);
    codes_.push_back(code);
}

void Hardware::record_transfer(TransferRecord record) {
    std::lock_guard guard(lock_);
    transfers_.push_back(std::move(record));
}

std::vector<TransferRecord> Hardware::transfers() const {
    std::lock_guard guard(lock_);
    return transfers_;
}

std::vector<uint32_t> Hardware::control_codes() const {
    std::lock_guard guard(lock_);
    return codes_;
}

void Hardware::clear_traffic() {
    std::lock_guard guard(lock_);
    transfers_.clear();
    codes_.clear();
}

Reply EndpointBehaviour::receive(uint8_t, std::span<const uint8_t> data) {
    return Reply::ok(static_cast<uint32_t>(data.size()));
}
Reply EndpointBehaviour::answer(uint8_t, std::span<uint8_t>) {
    return Reply::not_ready();
}
Reply EndpointBehaviour::control(const SetupPacket&, std::span<uint8_t>) {
    return Reply::stall();
}

void ReplyQueue::push(std::vector<uint8_t> reply) {
    std::lock_guard guard(lock_);
    replies_.push_back(std::move(reply));
}

size_t ReplyQueue::queued() const {
    std::lock_guard guard(lock_);
    return replies_.size();
}

std::vector<std::vector<uint8_t>> ReplyQueue::received() const {
    std::lock_guard guard(lock_);
    return received_;
}

Reply ReplyQueue::receive(uint8_t, std::span<const uint8_t> data) {
    std::lock_guard guard(lock_);
    received_.emplace_back(data.begin(), data.end());
    return Reply::ok(static_cast<uint32_t>(data.size()));
}

Reply ReplyQueue::answer(uint8_t, std::span<uint8_t> buffer) {
    std::lock_guard guard(lock_);
    if (replies_.empty()) return Reply::not_ready();
    auto reply = std::move(replies_.front());
    replies_.pop_front();
    size_t n = std::min(reply.size(), buffer.size());
    if (n) std::memcpy(buffer.data(), reply.data(), n);
    return Reply::ok(static_cast<uint32_t>(n));
}

}  // namespace sim::usb
