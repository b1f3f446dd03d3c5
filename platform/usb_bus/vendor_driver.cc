#include "platform/usb_bus/vendor_driver.h"

#include <algorithm>
#include <cstring>

#include "platform/core/trace.h"
#include "platform/ddk/ntstatus.h"
#include "platform/usb_bus/bytes.h"

namespace sim::usb {
namespace {

using Clock = std::chrono::steady_clock;

// bmAttributes bits 0-1 of an endpoint: its transfer type.
constexpr uint8_t kTransferTypeMask = 0x03;
constexpr uint8_t kIsochronous = 0x01;

bool contains(const std::vector<uint32_t>& codes, uint32_t value) {
    return std::find(codes.begin(), codes.end(), value) != codes.end();
}

// A region [offset, offset + length) of a buffer, or nothing when it does not fit.
std::optional<std::span<uint8_t>> region(std::span<uint8_t> buffer, uint32_t offset,
                                         uint32_t length) {
    if (offset > buffer.size() || length > buffer.size() - offset) return std::nullopt;
    return buffer.subspan(offset, length);
}

void put_text(std::span<uint8_t> out, const std::string& text) {
    std::fill(out.begin(), out.end(), 0);
    size_t n = std::min(text.size(), out.size() - 1);
    std::memcpy(out.data(), text.data(), n);
}

// Moves the elements that match out of queue, keeping their order.
template <typename T, typename Match>
std::list<T> take_matching(std::list<T>& queue, Match match) {
    std::list<T> taken;
    for (auto it = queue.begin(); it != queue.end();) {
        auto next = std::next(it);
        if (match(*it)) taken.splice(taken.end(), queue, it);
        it = next;
    }
    return taken;
}

}  // namespace

VendorDriver::VendorDriver(std::shared_ptr<Hardware> hardware)
    : hardware_(std::move(hardware)), worker_([this] { run_worker(); }) {}

VendorDriver::~VendorDriver() {
    remove();
}

size_t VendorDriver::pending() const {
    std::lock_guard guard(lock_);
    return pending_.size();
}

void VendorDriver::dispatch(const std::shared_ptr<Request>& request) {
    uint32_t c = request->code();
    TRACE("usbsim", "dispatch(%#x, in %zu, out %zu)", c, request->input().size(),
          request->output().size());
    hardware_->record_code(c);
    {
        std::lock_guard guard(lock_);
        if (removed_) {
            request->complete(STATUS_DEVICE_NOT_CONNECTED, 0);
            return;
        }
    }
    if (contains(hardware_->faults().failing_codes, c)) {
        request->complete(STATUS_UNSUCCESSFUL, 0);
        return;
    }
    switch (c) {
        case code::kControlTransfer:
        case code::kBufferedTransfer:
        case code::kDirectTransfer:
            // Transfers that the device was not ready for come first, in order; a new transfer
            // may have made the device ready for them.
            retry_not_ready();
            start_transfer(request);
            retry_not_ready();
            return;
        case code::kAbortPipe: {
            auto in = request->input();
            if (in.empty()) {
                request->complete(STATUS_INVALID_PARAMETER, 0);
                return;
            }
            abort_endpoint(in[0]);
            request->complete(STATUS_SUCCESS, 0);
            return;
        }
        default:
            answer_simple(request);
    }
}

// The codes that only read or set a value; all complete at once.
void VendorDriver::answer_simple(const std::shared_ptr<Request>& request) {
    const auto& d = hardware_->description();
    auto in = request->input();
    auto out = request->output();
    auto value_out = [&](uint32_t value, size_t size) {
        if (out.size() < size) return request->complete(STATUS_BUFFER_TOO_SMALL, 0);
        if (size == 1)
            out[0] = static_cast<uint8_t>(value);
        else
            put32(out, 0, value);
        request->complete(STATUS_SUCCESS, static_cast<uint32_t>(size));
    };
    switch (request->code()) {
        case code::kDriverVersion:
            return value_out(d.driver_version, 4);
        case code::kUsbdiVersion:
            return value_out(d.usbdi_version, 4);
        case code::kGetAltSetting:
            if (hardware_->faults().no_alternate_setting)
                return request->complete(STATUS_UNSUCCESSFUL, 0);
            return value_out(hardware_->alternate_setting(), 1);
        case code::kSetAltSetting:
            if (in.empty()) return request->complete(STATUS_INVALID_PARAMETER, 0);
            hardware_->set_alternate_setting(in[0]);
            return value_out(in[0], std::min<size_t>(out.size(), 1));
        case code::kGetAddress:
            return value_out(d.address, 1);
        case code::kGetPowerState:
            return value_out(hardware_->power_state(), 4);
        case code::kSetPowerState: {
            if (in.size() < 4) return request->complete(STATUS_INVALID_PARAMETER, 0);
            uint32_t state = get32(in, 0);
            hardware_->set_power_state(state);
            return value_out(state, 4);
        }
        case code::kCyclePort:
        case code::kResetPort:
            return request->complete(STATUS_SUCCESS, 0);
        case code::kResetPipe:
            if (in.empty()) return request->complete(STATUS_INVALID_PARAMETER, 0);
            return request->complete(STATUS_SUCCESS, 0);
        case code::kGetTransferSize:
        case code::kSetTransferSize: {
            if (in.size() < 5 || out.size() < 5)
                return request->complete(STATUS_INVALID_PARAMETER, 0);
            uint8_t endpoint = in[0];
            if (request->code() == code::kSetTransferSize)
                hardware_->set_transfer_size(endpoint, get32(in, 1));
            uint32_t size = hardware_->transfer_size(endpoint);
            out[0] = endpoint;
            put32(out, 1, size);
            return request->complete(STATUS_SUCCESS, 5);
        }
        case code::kDriverName:
        case code::kFriendlyName:
            if (out.size() < 256) return request->complete(STATUS_BUFFER_TOO_SMALL, 0);
            put_text(out.first(256),
                     request->code() == code::kDriverName ? d.driver_name : d.friendly_name);
            return request->complete(STATUS_SUCCESS, 256);
        case code::kGetSpeed:
            return value_out(d.speed, 4);
        default:
            return request->complete(STATUS_INVALID_DEVICE_REQUEST, 0);
    }
}

void VendorDriver::start_transfer(const std::shared_ptr<Request>& request) {
    // Buffered codes see one system buffer as input and output; the direct code takes the
    // envelope (and packet records) as input and the caller's data buffer as output.
    bool direct = request->code() == code::kDirectTransfer;
    std::span<uint8_t> block = direct ? request->input() : request->output();
    if (request->input().size() < envelope::kSize || block.size() < envelope::kSize)
        return request->complete(STATUS_INVALID_PARAMETER, 0);

    Transfer t;
    t.request = request;
    t.control = request->code() == code::kControlTransfer;
    t.envelope = block.first(envelope::kSize);
    t.record.code = request->code();
    t.record.envelope.assign(request->input().begin(), request->input().begin() + envelope::kSize);
    std::span<const uint8_t> env = t.record.envelope;
    if (t.control) {
        t.setup = {get8(env, envelope::kRequestType), get8(env, envelope::kRequest),
                   get16(env, envelope::kValue), get16(env, envelope::kIndex),
                   get16(env, envelope::kLength)};
        t.endpoint = 0;
        t.in = (t.setup.request_type & 0x80) != 0;
    } else {
        t.endpoint = get8(env, envelope::kEndpoint);
        t.in = (t.endpoint & 0x80) != 0;
    }
    t.record.endpoint = t.endpoint;
    t.record.in = t.in;
    t.record.setup = t.setup;

    uint32_t data_offset = get32(env, envelope::kDataOffset);
    uint32_t data_length = get32(env, envelope::kDataLength);
    auto data = direct ? std::optional(request->output()) : region(block, data_offset, data_length);
    auto packets =
        region(block, get32(env, envelope::kPacketOffset), get32(env, envelope::kPacketLength));
    if (!data || !packets) return request->complete(STATUS_INVALID_PARAMETER, 0);
    t.data = *data;
    if (t.control && t.data.size() > t.setup.length) t.data = t.data.first(t.setup.length);
    t.data_offset = direct ? 0 : data_offset;

    if (!t.control) {
        auto attributes = hardware_->endpoint_attributes(t.endpoint);
        if (!attributes) {
            put32(t.envelope, envelope::kNtStatus, STATUS_INVALID_PARAMETER);
            put32(t.envelope, envelope::kUsbdStatus, kUsbdInvalidPipe);
            return request->complete(STATUS_INVALID_PARAMETER, 0);
        }
        if ((*attributes & kTransferTypeMask) == kIsochronous) t.packets = *packets;
    }
    // The device answers into the system buffer itself: the caller sees it only at completion and
    // only as far as the bytes returned. A direct transfer's data is the caller's own buffer, and
    // data laid over the envelope or the packet records must not be overwritten by them, so those
    // answers are staged and delivered at the end.
    t.staging = t.in && (direct || data_offset < envelope::kSize || !t.packets.empty());

    t.fault = hardware_->take_fault(t.endpoint);
    if (t.fault.refuse_status != 0) {
        put32(t.envelope, envelope::kNtStatus, t.fault.refuse_status);
        return request->complete(t.fault.refuse_status, 0);
    }
    t.aborts_left = t.fault.aborts_ignored;
    if (queued_behind_not_ready(t.endpoint)) {
        t.reply = Reply::not_ready();
        t.waiting = true;
        return schedule(std::move(t));
    }
    ask_device(t);
    if (t.reply.nak || t.fault.never_complete) {
        t.waiting = true;
    } else if (t.fault.delay_ms > 0) {
        t.due = Clock::now() + std::chrono::milliseconds(t.fault.delay_ms);
    } else {
        return finish_normally(t);
    }
    schedule(std::move(t));
}

bool VendorDriver::queued_behind_not_ready(uint8_t endpoint) const {
    std::lock_guard guard(lock_);
    for (const auto& t : pending_)
        if (t.endpoint == endpoint && t.waiting && t.reply.nak) return true;
    return false;
}

void VendorDriver::ask_device(Transfer& t) {
    if (t.staging) t.staged.assign(t.data.size(), 0);
    std::span<uint8_t> room = t.staging ? std::span<uint8_t>(t.staged) : t.data;
    t.reply =
        t.control ? hardware_->control(t.setup, room) : hardware_->transfer(t.endpoint, t.in, room);
}

void VendorDriver::schedule(Transfer transfer) {
    transfer.request->mark_pending();
    {
        std::lock_guard guard(lock_);
        if (!removed_) {
            pending_.push_back(std::move(transfer));
            wake_.notify_all();
            return;
        }
    }
    finish(transfer, STATUS_DEVICE_NOT_CONNECTED, STATUS_DEVICE_NOT_CONNECTED, kUsbdDeviceGone, 0,
           false);
}

void VendorDriver::finish_normally(Transfer& t) {
    uint32_t bytes = std::min<uint64_t>({t.reply.bytes, t.data.size(), t.fault.max_bytes});
    uint32_t usbd = t.reply.usbd_status ? t.reply.usbd_status : t.fault.usbd_status;
    uint32_t nt = t.fault.nt_status ? t.fault.nt_status
                                    : (t.reply.usbd_status ? STATUS_UNSUCCESSFUL : STATUS_SUCCESS);
    if (usbd) bytes = 0;  // a failed transfer moves nothing
    // Errors travel in the envelope's status words; the request itself succeeds.
    finish(t, STATUS_SUCCESS, nt, usbd, bytes, false);
}

void VendorDriver::finish(Transfer& t, uint32_t irp_status, uint32_t nt_word, uint32_t usbd_word,
                          uint32_t bytes, bool aborted) {
    put32(t.envelope, envelope::kNtStatus, nt_word);
    put32(t.envelope, envelope::kUsbdStatus, usbd_word);
    if (t.staging && bytes > 0) std::memcpy(t.data.data(), t.staged.data(), bytes);
    if (!t.packets.empty()) {
        size_t count = t.packets.size() / envelope::kPacketRecordSize;
        size_t size = count ? (t.data.size() + count - 1) / count : 0;
        uint32_t left = bytes;
        for (size_t i = 0; i < count; ++i) {
            uint32_t n = static_cast<uint32_t>(std::min<size_t>(left, size));
            left -= n;
            put32(t.packets, i * envelope::kPacketRecordSize, n);
            put32(t.packets, i * envelope::kPacketRecordSize + 4, usbd_word);
        }
    }
    if (hardware_->recording()) {
        t.record.nt_status = nt_word;
        t.record.usbd_status = usbd_word;
        t.record.aborted = aborted;
        if (t.in)
            t.record.in_data.assign(t.data.begin(), t.data.begin() + bytes);
        else
            t.record.out_data.assign(t.data.begin(), t.data.begin() + bytes);
        hardware_->record_transfer(std::move(t.record));
    }
    t.request->complete(irp_status, t.data_offset + bytes);
}

// A device that was not ready may be after the host's last request.
void VendorDriver::retry_not_ready() {
    std::list<Transfer> retry;
    {
        std::lock_guard guard(lock_);
        retry = take_matching(pending_, [](const Transfer& t) { return t.waiting && t.reply.nak; });
    }
    for (auto& t : retry) {
        ask_device(t);
        if (t.reply.nak) {
            schedule(std::move(t));
        } else if (t.fault.never_complete) {
            t.reply.nak = false;
            schedule(std::move(t));
        } else if (t.fault.delay_ms > 0) {
            t.waiting = false;
            t.due = Clock::now() + std::chrono::milliseconds(t.fault.delay_ms);
            schedule(std::move(t));
        } else {
            finish_normally(t);
        }
    }
}

void VendorDriver::abort_endpoint(uint8_t endpoint) {
    std::list<Transfer> ended, completed;
    {
        std::lock_guard guard(lock_);
        ended = take_matching(pending_, [&](const Transfer& t) {
            return t.endpoint == endpoint && t.aborts_left == 0;
        });
        // The rest on the endpoint ignore this abort. One that has now ignored its last completes
        // at once or after its fault's delay, unless the device has not answered it yet or the
        // delay is negative: then the next abort ends it.
        for (auto& t : pending_) {
            if (t.endpoint != endpoint || --t.aborts_left != 0 || t.reply.nak ||
                t.fault.completes_after_ignored_ms <= 0)
                continue;
            t.waiting = false;
            t.due = Clock::now() + std::chrono::milliseconds(t.fault.completes_after_ignored_ms);
            wake_.notify_all();
        }
        completed = take_matching(pending_, [&](const Transfer& t) {
            return t.endpoint == endpoint && t.aborts_left == 0 && !t.reply.nak &&
                   t.fault.completes_after_ignored_ms == 0;
        });
    }
    for (auto& t : completed) finish_normally(t);
    for (auto& t : ended) finish(t, STATUS_CANCELLED, STATUS_CANCELLED, kUsbdCanceled, 0, true);
}

void VendorDriver::cancel_owner(const void* owner) {
    std::list<Transfer> ended;
    {
        std::lock_guard guard(lock_);
        ended =
            take_matching(pending_, [&](const Transfer& t) { return t.request->owner() == owner; });
    }
    for (auto& t : ended) finish(t, STATUS_CANCELLED, STATUS_CANCELLED, kUsbdCanceled, 0, true);
}

void VendorDriver::remove() {
    std::list<Transfer> ended;
    {
        std::lock_guard guard(lock_);
        removed_ = true;
        ended.swap(pending_);
    }
    wake_.notify_all();
    for (auto& t : ended)
        finish(t, STATUS_DEVICE_NOT_CONNECTED, STATUS_DEVICE_NOT_CONNECTED, kUsbdDeviceGone, 0,
               false);
    // The worker ends with the device; a device's behaviour may unplug it from the worker itself.
    if (worker_.get_id() == std::this_thread::get_id())
        worker_.detach();
    else if (worker_.joinable())
        worker_.join();
}

void VendorDriver::run_worker() {
    std::unique_lock guard(lock_);
    while (!removed_) {
        std::optional<Clock::time_point> next;
        for (const auto& t : pending_)
            if (t.due && (!next || *t.due < *next)) next = t.due;
        if (next)
            wake_.wait_until(guard, *next);
        else
            wake_.wait(guard);
        const auto now = Clock::now();
        std::list<Transfer> due =
            take_matching(pending_, [&](const Transfer& t) { return t.due && *t.due <= now; });
        if (due.empty()) continue;
        guard.unlock();
        for (auto& t : due) finish_normally(t);
        guard.lock();
    }
}

}  // namespace sim::usb
