// Card exchanges per second through the whole host stack against the card's firmware model: each
// QeltQueryCardInfo takes the card lock, opens the card link (device enumeration, open,
// descriptors, configuration), writes one 64-byte frame, reads one 128-byte answer and closes the
// link. The same steps are then timed one by one through the card link, so the figure can be
// traced to the step that costs it.
//
// Usage: card_bench [seconds per figure, default 1]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "base/byte_access.h"
#include "bench/timing.h"
#include "card/card_api.h"
#include "card/exchange/command_frame.h"
#include "card/log/log.h"
#include "platform/win32.h"
#include "sim/card/card_controls.h"
#include "usb/card_link.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kRounds = 5;
constexpr double kTargetPerSecond = 5000;

[[noreturn]] void die(const char* what) {
    std::fprintf(stderr, "card_bench: %s\n", what);
    std::exit(1);
}

// Microseconds per call of op: the median of several rounds.
double median_micros(const std::function<void()>& op, double seconds) {
    std::vector<double> rounds;
    for (int i = 0; i < kRounds; ++i) rounds.push_back(1e6 / bench::rate_of(op, seconds / kRounds));
    return bench::median(rounds);
}

// The request the library sends for 0x720: the header, rounded to 64 bytes.
std::vector<uint8_t> card_info_request() {
    constexpr uint32_t kLength = frame::rounded_length(frame::kHeaderSize);
    std::vector<uint8_t> request(kLength, 0);
    bytes::store_le32(request.data() + frame::kCodeOffset, CMD_QUERY_CARD_INFO);
    bytes::store_be32(request.data() + frame::kTagOffset, frame::CMD_TAG);
    bytes::store_le32(request.data() + frame::kPayloadLengthOffset, kLength - frame::kHeaderSize);
    return request;
}

}  // namespace

int main(int argc, char** argv) {
    const double seconds = argc > 1 ? std::atof(argv[1]) : 1.0;
    if (seconds <= 0) die("seconds must be positive");

    auto card = sim::card::plug(sim::card::random_card());
    card->set_recording(false);

    uint8_t info[CARD_INFO_SIZE];
    if (QeltQueryCardInfo(info) != 0) die("QeltQueryCardInfo failed");
    const double whole = median_micros(
        [&] {
            if (QeltQueryCardInfo(info) != 0) die("QeltQueryCardInfo failed");
        },
        seconds);

    // The exchange's link steps, each timed on its own over the same frames.
    std::vector<uint8_t> request = card_info_request(), response(128);
    CCyUSBDriverDevice* link = nullptr;
    if (open_usb_dev(&link) != 0) die("open_usb_dev failed");
    const double write_read = median_micros(
        [&] {
            if (write_usb_dev(link, request.data(), 64) != 0) die("write_usb_dev failed");
            if (read_usb_dev(link, response.data(), 128) != 0) die("read_usb_dev failed");
        },
        seconds);
    close_usb_dev(link);
    double open_only = 0, close_only = 0;
    {
        std::vector<double> opens, closes;
        for (int i = 0; i < 2000; ++i) {
            const auto t0 = Clock::now();
            if (open_usb_dev(&link) != 0) die("open_usb_dev failed");
            const auto t1 = Clock::now();
            close_usb_dev(link);
            const auto t2 = Clock::now();
            opens.push_back(std::chrono::duration<double, std::micro>(t1 - t0).count());
            closes.push_back(std::chrono::duration<double, std::micro>(t2 - t1).count());
        }
        open_only = bench::median(opens);
        close_only = bench::median(closes);
    }
    // The two frame dumps, which the default threshold drops before formatting them.
    const double dumps = median_micros(
        [&] {
            dump_buf("sendbuf ", request.data(), 64);
            dump_buf("recvbuf ", response.data(), 128);
        },
        seconds);
    const double count = median_micros([&] { (void)count_usb_dev(); }, seconds);

    const double per_second = 1e6 / whole;
    std::printf(
        "QeltQueryCardInfo, whole exchange: %8.1f us  %8.0f exchanges/s (target %.0f: %s)\n", whole,
        per_second, kTargetPerSecond, per_second >= kTargetPerSecond ? "met" : "NOT met");
    std::printf("  open_usb_dev                    %8.1f us  %5.1f%%\n", open_only,
                100 * open_only / whole);
    std::printf("  write 64 + read 128 bytes       %8.1f us  %5.1f%%\n", write_read,
                100 * write_read / whole);
    std::printf("  close_usb_dev                   %8.1f us  %5.1f%%\n", close_only,
                100 * close_only / whole);
    std::printf("  frame dumps (dump_buf 64 + 128) %8.1f us  %5.1f%%\n", dumps,
                100 * dumps / whole);
    const double rest = whole - open_only - write_read - close_only - dumps;
    std::printf("  rest (lock, frames)             %8.1f us  %5.1f%%\n", rest, 100 * rest / whole);
    std::printf("QeltGetCardCnt's device count:    %8.1f us\n", count);
    sim::usb::unplug_all();
    return 0;
}
