// A card on the simulated bus: the firmware behind bulk OUT 0x02 and bulk IN 0x86, one answer
// held for the host's next read, the injected faults, and the record of the frames.
#include <algorithm>
#include <cstring>
#include <map>
#include <mutex>

#include "base/byte_access.h"
#include "sim/card/card_controls.h"
#include "sim/card/firmware.h"
#include "sim/card/frame_format.h"

namespace sim::card {
namespace {
using sim::usb::Reply;

constexpr uint8_t kOutEndpoint = 0x02;
constexpr uint8_t kInEndpoint = 0x86;

struct FaultRule {
    int frames = 0;  // left to apply to; -1: until cleared
    Fault fault;
};

// Takes one application of a rule; false when it has none left.
bool take(FaultRule& rule, Fault& fault) {
    if (rule.frames == 0) return false;
    if (rule.frames > 0) --rule.frames;
    fault = rule.fault;
    return true;
}

class CardModel : public sim::usb::EndpointBehaviour {
  public:
    CardModel(CardState state, std::weak_ptr<sim::usb::Device> device)
        : state_(std::move(state)), device_(std::move(device)) {}

    Reply receive(uint8_t endpoint, std::span<const uint8_t> frame) override;
    Reply answer(uint8_t endpoint, std::span<uint8_t> buffer) override;

    CardState state() const {
        std::lock_guard guard(lock_);
        return state_;
    }
    void set_state(const CardState& state) {
        std::lock_guard guard(lock_);
        state_ = state;
    }
    CardState power_off() {
        std::lock_guard guard(lock_);
        state_.power_off();
        held_ = Held::kNothing;
        return state_;
    }

    void fail(uint32_t code, const Fault& fault, int frames) {
        std::lock_guard guard(lock_);
        if (frames == 0)
            by_code_.erase(code);
        else
            by_code_[code] = {frames, fault};
    }
    void fail_next(int frames, const Fault& fault) {
        std::lock_guard guard(lock_);
        next_ = {frames, fault};
    }
    void clear_faults() {
        std::lock_guard guard(lock_);
        by_code_.clear();
        next_ = {};
    }

    std::vector<FrameRecord> frames() const {
        std::lock_guard guard(lock_);
        return frames_;
    }
    std::vector<FrameRecord> refused() const {
        std::lock_guard guard(lock_);
        return refused_;
    }
    void clear_records() {
        std::lock_guard guard(lock_);
        frames_.clear();
        refused_.clear();
    }
    void set_recording(bool on) {
        std::lock_guard guard(lock_);
        recording_ = on;
    }

  private:
    // What the next IN transfer gets.
    enum class Held { kNothing, kAnswer, kUnplug };

    Fault take_fault(uint32_t code);
    void record(std::span<const uint8_t> frame, FrameRecord record);

    mutable std::mutex lock_;
    CardState state_;
    std::weak_ptr<sim::usb::Device> device_;
    std::vector<uint8_t> answer_;
    Held held_ = Held::kNothing;
    Fault answer_fault_;
    FaultRule next_;
    std::map<uint32_t, FaultRule> by_code_;
    bool recording_ = true;
    std::vector<FrameRecord> frames_, refused_;
};

Fault CardModel::take_fault(uint32_t code) {
    Fault fault;
    if (take(next_, fault)) return fault;
    auto rule = by_code_.find(code);
    if (rule != by_code_.end() && take(rule->second, fault) && rule->second.frames == 0)
        by_code_.erase(rule);
    return fault;
}

void CardModel::record(std::span<const uint8_t> frame, FrameRecord record) {
    if (!recording_ && record.error == FrameError::kNone) return;
    record.bytes.assign(frame.begin(), frame.end());
    if (record.error != FrameError::kNone) refused_.push_back(record);
    if (recording_) frames_.push_back(std::move(record));
}

Reply CardModel::receive(uint8_t endpoint, std::span<const uint8_t> frame) {
    if (endpoint != kOutEndpoint) return Reply::stall();
    std::lock_guard guard(lock_);
    const FrameCheck check = check_frame(frame);
    const Fault fault = take_fault(check.code);
    FrameRecord entry;
    entry.code = check.code;
    entry.fpga = check.fpga;
    entry.error = check.error;
    entry.faulted = fault.status || fault.answer_bytes || fault.no_answer || fault.stall ||
                    fault.unplug || fault.total_length || fault.echoed_sector ||
                    !fault.overwrite.empty();
    entry.overlapped = held_ != Held::kNothing;
    answer_fault_ = fault;
    if (fault.unplug) {
        held_ = Held::kUnplug;
    } else {
        entry.status = answer_frame(state_, frame, check, fault.status, answer_);
        if (check.fpga && answer_.size() >= fpga::kHeaderSize) {
            if (fault.total_length)
                bytes::store_le32(answer_.data() + fpga::kTotalLength, *fault.total_length);
            if (fault.echoed_sector)
                bytes::store_le64(answer_.data() + fpga::kEchoedSector, *fault.echoed_sector);
        }
        if (fault.overwrite_at < answer_.size()) {
            const size_t n = std::min(fault.overwrite.size(), answer_.size() - fault.overwrite_at);
            std::copy_n(fault.overwrite.begin(), n, answer_.begin() + fault.overwrite_at);
        }
        held_ = Held::kAnswer;
    }
    record(frame, std::move(entry));
    return Reply::ok(static_cast<uint32_t>(frame.size()));
}

Reply CardModel::answer(uint8_t endpoint, std::span<uint8_t> buffer) {
    if (endpoint != kInEndpoint) return Reply::stall();
    std::unique_lock guard(lock_);
    switch (held_) {
        case Held::kNothing:
            return Reply::not_ready();
        case Held::kUnplug: {
            // The power goes with the frame unanswered; the removal ends this transfer.
            state_.power_off();
            held_ = Held::kNothing;
            auto device = device_.lock();
            guard.unlock();
            if (device) device->unplug();
            return Reply::not_ready();
        }
        case Held::kAnswer:
            break;
    }
    if (answer_fault_.no_answer) return Reply::not_ready();
    held_ = Held::kNothing;
    if (answer_fault_.stall) return Reply::stall();
    size_t n = std::min(answer_.size(), buffer.size());
    if (answer_fault_.answer_bytes) n = std::min<size_t>(n, *answer_fault_.answer_bytes);
    std::memcpy(buffer.data(), answer_.data(), n);
    return Reply::ok(static_cast<uint32_t>(n));
}

class PluggedCard : public Card {
  public:
    PluggedCard(std::shared_ptr<sim::usb::Device> device, std::shared_ptr<CardModel> model)
        : device_(std::move(device)), model_(std::move(model)) {}

    std::shared_ptr<sim::usb::Device> device() const override { return device_; }
    const std::string& path() const override { return device_->path(); }
    bool plugged() const override { return device_->plugged(); }
    CardState state() const override { return model_->state(); }
    void set_state(const CardState& state) override { model_->set_state(state); }
    CardState unplug() override {
        device_->unplug();
        return model_->power_off();
    }
    void fail(uint32_t code, const Fault& fault, int frames) override {
        model_->fail(code, fault, frames);
    }
    void fail_next(int frames, const Fault& fault) override { model_->fail_next(frames, fault); }
    void clear_faults() override { model_->clear_faults(); }
    std::vector<FrameRecord> frames() const override { return model_->frames(); }
    std::vector<FrameRecord> refused() const override { return model_->refused(); }
    void clear_records() override { model_->clear_records(); }
    void set_recording(bool on) override {
        model_->set_recording(on);
        device_->set_recording(on);
    }

  private:
    std::shared_ptr<sim::usb::Device> device_;
    std::shared_ptr<CardModel> model_;
};

}  // namespace

std::shared_ptr<Card> plug(CardState state, bool superspeed, const std::string& instance_id) {
    usb::Description description = usb::card_description(superspeed);
    description.instance_id = instance_id;
    auto device = usb::plug(std::move(description));
    auto model = std::make_shared<CardModel>(std::move(state), device);
    device->set_behaviour(kOutEndpoint, model);
    device->set_behaviour(kInEndpoint, model);
    return std::make_shared<PluggedCard>(device, model);
}

}  // namespace sim::card
