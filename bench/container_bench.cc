// File containers against the card's firmware model, in MB/s of plaintext on a 64 MiB file, each
// way: V1 (one card command exchange per block, the link opened and closed each time), V1 through
// FPGA data frames (likewise), and V2 (FPGA frames on one link held for the whole file); beside
// them the model's own SM4-XTS over the same bytes, the bound of any path. Then the steps of one
// block, each timed on its own, so a figure can be traced to what costs it. Last, one V2 round
// trip of a file just past 4 GiB (skipped with --no-large), which needs about 9 GB of disk for a
// moment.
//
// Usage: container_bench [--no-large]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "base/byte_access.h"
#include "bench/files.h"
#include "bench/timing.h"
#include "card/card_api.h"
#include "card/containers/fpga_frame.h"
#include "crypto/sm4_blocks.h"
#include "crypto/sm4_xts.h"
#include "platform/testing/network_controls.h"
#include "platform/win32.h"
#include "sim/card/card_controls.h"
#include "usb/card_link.h"

namespace {

using Clock = std::chrono::steady_clock;
using Bytes = std::vector<uint8_t>;

constexpr uint64_t kFileSize = 64ull << 20;
constexpr uint64_t kBlocks = kFileSize / 4096 + 1;
constexpr int kRounds = 3;
constexpr char kPin[] = "bench-pin-123";
constexpr double kV1Target = 30, kV2Target = 300;

// The machine root of the run, removed on every exit.
std::filesystem::path machine_root;

[[noreturn]] void die(const char* what, uint32_t result = 0) {
    std::fprintf(stderr, "container_bench: %s (result %u)\n", what, result);
    std::error_code ignored;
    std::filesystem::remove_all(machine_root, ignored);
    std::exit(1);
}

double seconds_of(const std::function<void()>& op) {
    const auto t0 = Clock::now();
    op();
    return std::chrono::duration<double>(Clock::now() - t0).count();
}

// The median time of the call, which must return 0 and writes output. The output is removed
// before each call, untimed: a file truncated and written again is flushed to the disk when it is
// closed (ext4's guard against replacing a file by truncation), which would be timed too.
double median_seconds(const std::function<uint32_t()>& call, const std::filesystem::path& output) {
    std::vector<double> times;
    for (int i = 0; i < kRounds; ++i) {
        std::filesystem::remove(output);
        times.push_back(seconds_of([&] {
            if (const uint32_t result = call(); result != 0) die("a container call failed", result);
        }));
    }
    return bench::median(times);
}

// Microseconds per call of op, the median of three rounds of about a third of a second.
double micros_per_call(const std::function<void()>& op) {
    std::vector<double> rounds;
    for (int i = 0; i < 3; ++i) rounds.push_back(1e6 / bench::rate_of(op, 0.3));
    return bench::median(rounds);
}

double mb_per_s(double seconds) {
    return static_cast<double>(kFileSize) / seconds / 1e6;
}

struct Figure {
    const char* name;
    double encrypt_mb_s, decrypt_mb_s, target;
};

void print_figure(const Figure& f, double bound) {
    const bool met = f.encrypt_mb_s >= f.target && f.decrypt_mb_s >= f.target;
    std::printf("  %-34s %8.1f MB/s %8.1f MB/s   %5.3f %5.3f   target %3.0f: %s\n", f.name,
                f.encrypt_mb_s, f.decrypt_mb_s, f.encrypt_mb_s / bound, f.decrypt_mb_s / bound,
                f.target, met ? "met" : "NOT met");
}

}  // namespace

int main(int argc, char** argv) {
    const bool large = !(argc > 1 && std::strcmp(argv[1], "--no-large") == 0);
    std::string pattern =
        (std::filesystem::temp_directory_path() / "container-bench-XXXXXX").string();
    if (!mkdtemp(pattern.data())) die("no temporary folder");
    const std::filesystem::path root = pattern;
    machine_root = root;
    setenv("HALDEN_ROOT", root.c_str(), 1);
    std::filesystem::create_directories(root / "C" / "Halden");
    const auto host = [&](const char* name) { return root / "C" / name; };

    sim::network_set_adapters({{"eth0", true, true, {0x02, 0, 0x5e, 0x10, 0, 1}}});
    sim::card::CardState state = sim::card::random_card();
    auto card = sim::card::plug(state);
    card->set_recording(false);
    uint32_t tries = 0;
    QeltVerifyPinCode(reinterpret_cast<const uint8_t*>(sim::card::kDefaultPin), 8, &tries);
    if (QeltBindCurMac() != 0) die("cannot bind this host");
    const uint8_t* pke = state.encryption.public_key.data();

    if (!bench::write_pattern(host("plain.bin"), kFileSize)) die("cannot write the plaintext");
    const char *pt = "C:/plain.bin", *ct = "C:/plain.ctr", *out = "C:/out.bin";

    std::printf("SM4 path: %s; a %llu MiB file, %llu blocks of 4096 bytes, median of %d runs\n",
                crypto_internal::sm4_path_name(crypto_internal::sm4_kernels().path),
                static_cast<unsigned long long>(kFileSize >> 20),
                static_cast<unsigned long long>(kBlocks), kRounds);

    // The bound: the model's SM4-XTS over every block, as the card runs it (one data unit each).
    Bytes block(4096, 0x5A), cipher(4096);
    const uint8_t tweak[16] = {};
    const double xts_seconds = seconds_of([&] {
        for (uint64_t i = 0; i < kBlocks; ++i)
            sm4_xts(state.encryption.private_key.data(), tweak, block.data(), 4096, cipher.data(),
                    1);
    });
    const double bound = mb_per_s(xts_seconds);

    std::vector<Figure> figures;
    const auto measure = [&](const char* name, double target, auto encrypt, auto decrypt) {
        const double e = median_seconds([&] { return encrypt(); }, host("plain.ctr"));
        const double d = median_seconds([&] { return decrypt(); }, host("out.bin"));
        if (!bench::same_files(host("plain.bin"), host("out.bin")))
            die("a round trip changed the file");
        figures.push_back({name, mb_per_s(e), mb_per_s(d), target});
    };
    measure(
        "V1, card commands", kV1Target, [&] { return QeltEvEncFile(pke, pt, ct); },
        [&] { return QeltEvDecFile(ct, out); });
    measure(
        "V1, FPGA frames", kV1Target, [&] { return QeltEvEncFile_FPGA(pke, pt, ct); },
        [&] { return QeltEvDecFile_FPGA(ct, out); });
    measure(
        "V2, FPGA frames on a held link", kV2Target, [&] { return QeltEvEncFile_V2(kPin, pt, ct); },
        [&] { return QeltEvDecFile_V2(kPin, ct, out); });

    std::printf("  %-34s %8s      %8s        ratio to the model's XTS\n", "", "encrypt", "decrypt");
    for (const Figure& f : figures) print_figure(f, bound);
    std::printf("  %-34s %8.1f MB/s\n", "the model's SM4-XTS alone", bound);

    // One block's steps, each on its own.
    std::printf("One block's steps (us):\n");
    CCyUSBDriverDevice* link = nullptr;
    const double open_close = micros_per_call([&] {
        if (open_usb_dev(&link) != 0) die("open_usb_dev failed");
        close_usb_dev(link);
    });
    if (open_usb_dev(&link) != 0) die("open_usb_dev failed");
    namespace library = wire::fpga_frame::library;
    Bytes frame(library::kFrameSize, 0), reply(library::kFrameSize);
    library::Header{.opcode = FPGA_XTS_ENCRYPT, .data_length = library::kBlockSize, .slot = 1}
        .encode(frame.data());
    sim::card::CardState with_slot = card->state();
    with_slot.key_slots[0] = sim::card::Key32{};
    card->set_state(with_slot);
    const double fpga_pair = micros_per_call([&] {
        if (write_usb_dev(link, frame.data(), library::kFrameSize) != 0 ||
            read_usb_dev(link, reply.data(), library::kFrameSize))
            die("an FPGA transfer failed");
    });
    const double fpga_dev = micros_per_call([&] {
        if (brel_xts_fpga_dev(link, 1, tweak, block.data(), 4096, cipher.data(), 1) != 0)
            die("brel_xts_fpga_dev failed");
    });
    close_usb_dev(link);
    const double fpga_locked = micros_per_call([&] {
        if (brel_xts_fpga(1, tweak, block.data(), 4096, cipher.data(), 1) != 0)
            die("brel_xts_fpga failed");
    });
    const double model_xts = xts_seconds / static_cast<double>(kBlocks) * 1e6;
    FILE* in = fopen(pt, "rb");
    FILE* sink = fopen("C:/sink.bin", "wb");
    if (!in || !sink) die("cannot open the files");
    std::setvbuf(sink, nullptr, _IONBF, 0);
    const double file_io = micros_per_call([&] {
        if (std::fread(block.data(), 1, 4096, in) != 4096) std::rewind(in);
        if (std::fwrite(block.data(), 1, 4096, sink) != 4096) die("write failed");
        if (_ftelli64(sink) > (64 << 20)) std::rewind(sink);
    });
    std::fclose(in);
    std::fclose(sink);
    const double v1_block = 1e6 * 4096 / (figures[1].encrypt_mb_s * 1e6);
    const double v2_block = 1e6 * 4096 / (figures[2].encrypt_mb_s * 1e6);
    std::printf("  V1 via FPGA frames, per block, encrypting        %7.2f\n", v1_block);
    std::printf("    brel_xts_fpga (lock, open, frame, close)       %7.2f\n", fpga_locked);
    std::printf("      open_usb_dev + close_usb_dev                 %7.2f\n", open_close);
    std::printf("  V2 per block, encrypting                         %7.2f\n", v2_block);
    std::printf("    brel_xts_fpga_dev (frames, transfer, copy)     %7.2f\n", fpga_dev);
    std::printf("      write 4160 + read 4160 on a held link        %7.2f\n", fpga_pair);
    std::printf("        the model's SM4-XTS of 4096 bytes          %7.2f\n", model_xts);
    std::printf("    file read 4096 + unbuffered write 4096         %7.2f\n", file_io);

    if (large) {
        // Just past 4 GiB: block counts and positions beyond 32 bits.
        const uint64_t size = (4ull << 30) + 4097;
        std::printf("V2 round trip of %llu bytes (4 GiB + 4097):\n",
                    static_cast<unsigned long long>(size));
        // Mostly holes: the pattern at the start, across 2^31, and across 2^32 to the end.
        std::ofstream(host("large.bin"), std::ios::binary | std::ios::trunc).close();
        std::filesystem::resize_file(host("large.bin"), size);
        {
            std::fstream file(host("large.bin"), std::ios::binary | std::ios::in | std::ios::out);
            const Bytes piece = [] {
                Bytes b(1 << 15);
                for (size_t i = 0; i < b.size(); ++i) b[i] = static_cast<uint8_t>(i * 131 + 7);
                return b;
            }();
            for (const uint64_t at :
                 {uint64_t{0}, (uint64_t{1} << 31) - 4000, size - piece.size()}) {
                file.seekp(static_cast<std::streamoff>(at));
                file.write(reinterpret_cast<const char*>(piece.data()),
                           static_cast<std::streamsize>(piece.size()));
            }
        }
        if (std::filesystem::file_size(host("large.bin")) != size)
            die("cannot make the large file");
        std::filesystem::remove(host("plain.ctr"));
        std::filesystem::remove(host("out.bin"));
        uint32_t result = 0;
        const double e = seconds_of([&] { result = QeltEvEncFile_V2(kPin, "C:/large.bin", ct); });
        if (result != 0) die("encrypting the large file failed", result);
        const uint64_t container = std::filesystem::file_size(host("plain.ctr"));
        const double d = seconds_of([&] { result = QeltEvDecFile_V2(kPin, ct, out); });
        if (result != 0) die("decrypting the large file failed", result);
        std::filesystem::remove(host("plain.ctr"));
        const bool same = bench::same_files(host("large.bin"), host("out.bin"));
        std::printf(
            "  container %llu bytes (303 + 4096 x %llu); encrypt %.1f MB/s, decrypt %.1f "
            "MB/s; the file came back %s\n",
            static_cast<unsigned long long>(container),
            static_cast<unsigned long long>((container - 303) / 4096),
            static_cast<double>(size) / e / 1e6, static_cast<double>(size) / d / 1e6,
            same ? "unchanged" : "CHANGED");
        if (!same || container != 303 + 4096 * (size / 4096 + 1))
            die("the large round trip failed");
    }
    sim::usb::unplug_all();
    std::filesystem::remove_all(root);
    return 0;
}
