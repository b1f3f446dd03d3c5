// What the simulated card costs: the firmware model alone, one bulk transfer pair on a held link,
// and the host's whole exchange (open the card link, write, read, close), each step timed; for
// FPGA data frames the bytes per second beside the model's own SM4-XTS on the same bytes, which
// is the bound the bus path can reach.
//
// Usage: sim_card_bench [seconds per figure, default 1]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <vector>

#include "base/byte_access.h"
#include "bench/timing.h"
#include "crypto/sm4_blocks.h"
#include "crypto/sm4_xts.h"
#include "sim/card/card_controls.h"
#include "sim/card/firmware.h"
#include "sim/card/frame_format.h"
#include "usb/card_link.h"

namespace {

using Clock = std::chrono::steady_clock;
using Bytes = std::vector<uint8_t>;

constexpr int kRounds = 5;

[[noreturn]] void die(const char* what) {
    std::fprintf(stderr, "sim_card_bench: %s\n", what);
    std::exit(1);
}

double median_rate(const std::function<void()>& op, double seconds) {
    std::vector<double> rates;
    for (int i = 0; i < kRounds; ++i) rates.push_back(bench::rate_of(op, seconds / kRounds));
    return bench::median(rates);
}

void print_rate(const char* what, double per_second, size_t bytes = 0) {
    std::printf("  %-52s %10.0f /s %8.2f us", what, per_second, 1e6 / per_second);
    if (bytes) std::printf(" %8.0f MB/s", per_second * static_cast<double>(bytes) / 1e6);
    std::printf("\n");
}

// A command frame without payload, one frame unit long.
Bytes command_frame(uint32_t code) {
    namespace header = sim::card::header;
    Bytes frame(sim::card::kFrameUnit, 0);
    bytes::store_le32(frame.data() + header::kCode, code);
    bytes::store_be32(frame.data() + header::kTag, header::kTagValue);
    bytes::store_le32(frame.data() + header::kPayloadLength, sim::card::kFrameUnit - header::kSize);
    return frame;
}

// An encrypting FPGA frame under a key slot, or the volume key from sector on (slot 0).
Bytes fpga_frame(uint32_t slot_or_zero, uint64_t sector, uint32_t data_length) {
    namespace fpga = sim::card::fpga;
    Bytes frame(fpga::kHeaderSize + data_length, 0x5A);
    std::fill_n(frame.begin(), fpga::kHeaderSize, 0);
    bytes::store_le32(frame.data() + fpga::kOpcode, sim::card::kFpgaEncrypt);
    bytes::store_le32(frame.data() + fpga::kLength, data_length);
    bytes::store_le32(frame.data() + fpga::kSlot, slot_or_zero);
    bytes::store_le64(frame.data() + fpga::kTweak, sector);
    bytes::store_le64(frame.data() + fpga::kSector, sector);
    return frame;
}

void transfer_or_die(CCyUSBDriverDevice* link,
                     int32_t (*step)(CCyUSBDriverDevice*, uint8_t*, uint32_t), Bytes& buffer) {
    if (step(link, buffer.data(), static_cast<uint32_t>(buffer.size())) != 0)
        die("a transfer failed");
}

}  // namespace

int main(int argc, char** argv) {
    const double seconds = argc > 1 ? std::atof(argv[1]) : 1.0;
    sim::card::CardState state = sim::card::random_card();
    state.key_slots[0] = sim::card::Key32{1, 2, 3};
    state.volume_key = sim::card::Key32{4, 5, 6};
    const sim::card::Key32 slot_key = *state.key_slots[0];
    const sim::card::Key32 volume_key = *state.volume_key;

    std::printf("SM4 path: %s\n",
                crypto_internal::sm4_path_name(crypto_internal::sm4_kernels().path));
    std::printf("The firmware model alone (no bus):\n");
    {
        sim::card::CardState card = state;
        Bytes answer;
        const Bytes info = command_frame(0x720);
        print_rate("0x720 card information", median_rate(
                                                 [&] {
                                                     sim::card::answer_frame(
                                                         card, info, sim::card::check_frame(info),
                                                         std::nullopt, answer);
                                                 },
                                                 seconds));
        const Bytes slot = fpga_frame(1, 0, 4096);
        print_rate("FPGA frame, slot key, 4096 bytes",
                   median_rate(
                       [&] {
                           sim::card::answer_frame(card, slot, sim::card::check_frame(slot),
                                                   std::nullopt, answer);
                       },
                       seconds),
                   4096);
        Bytes out(4096);
        const uint8_t tweak[16] = {};
        print_rate(
            "  sm4_xts alone, 4096 bytes",
            median_rate(
                [&] { sm4_xts(slot_key.data(), tweak, slot.data() + 64, 4096, out.data(), 1); },
                seconds),
            4096);
        const Bytes sectors = fpga_frame(0, 1000, 65536);
        print_rate("FPGA sector frame, volume key, 65536 bytes",
                   median_rate(
                       [&] {
                           sim::card::answer_frame(card, sectors, sim::card::check_frame(sectors),
                                                   std::nullopt, answer);
                       },
                       seconds),
                   65536);
        out.resize(65536);
        print_rate("  sm4_xts_sectors alone, 65536 bytes",
                   median_rate(
                       [&] {
                           crypto_internal::sm4_xts_sectors(volume_key.data(), 1000,
                                                            sectors.data() + 64, out.data(), 128,
                                                            512, true);
                       },
                       seconds),
                   65536);
    }

    auto card = sim::card::plug(state);
    card->set_recording(false);
    std::printf("Through the simulated bus, one link held (write, read):\n");
    CCyUSBDriverDevice* link = nullptr;
    if (open_usb_dev(&link) != 0) die("no card link");
    {
        Bytes frame = command_frame(0x720), answer(128);
        print_rate("0x720: 64 bytes out, 128 in",
                   median_rate(
                       [&] {
                           transfer_or_die(link, write_usb_dev, frame);
                           transfer_or_die(link, read_usb_dev, answer);
                       },
                       seconds));
        Bytes slot = fpga_frame(1, 0, 4096), reply(4160);
        print_rate("FPGA frame, slot key: 4160 out, 4160 in",
                   median_rate(
                       [&] {
                           transfer_or_die(link, write_usb_dev, slot);
                           transfer_or_die(link, read_usb_dev, reply);
                       },
                       seconds),
                   4096);
        Bytes sectors = fpga_frame(0, 1000, 65536), sector_reply(65600);
        print_rate("FPGA sector frame: 65600 out, 65600 in",
                   median_rate(
                       [&] {
                           transfer_or_die(link, write_usb_dev, sectors);
                           transfer_or_die(link, read_usb_dev, sector_reply);
                       },
                       seconds),
                   65536);
    }
    close_usb_dev(link);

    std::printf("The host's exchange, 0x720 (open, write, read, close):\n");
    {
        Bytes frame = command_frame(0x720), answer(128);
        double open_s = 0, write_s = 0, read_s = 0, close_s = 0;
        uint64_t count = 0;
        const double rate = median_rate(
            [&] {
                const auto t0 = Clock::now();
                CCyUSBDriverDevice* handle = nullptr;
                if (open_usb_dev(&handle) != 0) die("open failed");
                const auto t1 = Clock::now();
                transfer_or_die(handle, write_usb_dev, frame);
                const auto t2 = Clock::now();
                transfer_or_die(handle, read_usb_dev, answer);
                const auto t3 = Clock::now();
                close_usb_dev(handle);
                const auto t4 = Clock::now();
                open_s += std::chrono::duration<double>(t1 - t0).count();
                write_s += std::chrono::duration<double>(t2 - t1).count();
                read_s += std::chrono::duration<double>(t3 - t2).count();
                close_s += std::chrono::duration<double>(t4 - t3).count();
                ++count;
            },
            seconds);
        print_rate("whole exchange", rate);
        const double n = static_cast<double>(count);
        std::printf("  steps, mean: open %.2f us, write %.2f us, read %.2f us, close %.2f us\n",
                    1e6 * open_s / n, 1e6 * write_s / n, 1e6 * read_s / n, 1e6 * close_s / n);
        std::printf("  requests to the vendor driver per open: %zu\n", [&] {
            card->set_recording(true);
            card->device()->clear_traffic();
            CCyUSBDriverDevice* handle = nullptr;
            open_usb_dev(&handle);
            close_usb_dev(handle);
            return card->device()->control_codes().size();
        }());
    }
    card->unplug();
    return 0;
}
