// Throughput of the software card's envelope files: QeltEvEncFile and QeltEvDecFile of the
// software-card build (libKelvane.so, the card logged in and bound under a temporary machine
// root) on one file, beside the two steps that bound them, measured in the same run:
//   x  the sector path alone (crypto_bench's: 64 KiB requests of 512-byte sectors, one key set-up
//      per request), each direction, over as many bytes as the file;
//   c  a plain copy of the same file through the same C runtime (fopen, fread and fwrite of
//      1 MiB).
// Each export reads, transforms and writes in turn, so its bound is 1 / (1/x + 1/c); the target
// is 80 % of it. Figures are in MB/s of plaintext, each the median of several rounds in which
// the figures take turns. An output file is removed before each call, untimed: a file truncated
// and written again is flushed to the disk when it is closed (ext4's guard against replacing a
// file by truncation), which would be timed too.
//
// Usage: envelope_bench [MiB, default 256]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "bench/files.h"
#include "bench/timing.h"
#include "crypto/sm4_blocks.h"
#include "platform/testing/network_controls.h"
#include "platform/win32.h"
#include "softcard/exports.h"

namespace {

using Bytes = std::vector<uint8_t>;

constexpr int kRounds = 5;
constexpr double kTarget = 0.80;
constexpr size_t kRequest = 64 << 10;
constexpr size_t kCopyBuffer = 1 << 20;
constexpr char kDefaultPin[] = "58302741";
constexpr char kPlain[] = "C:/files/plain.bin";
constexpr char kEnvelope[] = "C:/files/plain.bin.ev";
constexpr char kBack[] = "C:/files/back.bin";
constexpr char kCopy[] = "C:/files/copy.bin";

// The machine root of the run, removed on every exit.
std::filesystem::path machine_root;

[[noreturn]] void die(const char* what, uint32_t result = 0) {
    std::fprintf(stderr, "envelope_bench: %s (result %u)\n", what, result);
    std::error_code ignored;
    std::filesystem::remove_all(machine_root, ignored);
    std::exit(1);
}

// The host path of a drive path "C:/...".
std::filesystem::path host(const char* drive_path) {
    return machine_root / "C" / (drive_path + 3);
}

// The plain copy: the C runtime of the platform layer, as the exports use it.
uint32_t copy_file(const char* from, const char* to) {
    FILE* in = fopen(from, "rb");
    FILE* out = fopen(to, "wb");
    bool ok = in && out;
    Bytes buffer(kCopyBuffer);
    while (ok) {
        const size_t got = std::fread(buffer.data(), 1, buffer.size(), in);
        ok = std::fwrite(buffer.data(), 1, got, out) == got && !std::ferror(in);
        if (got < buffer.size()) break;
    }
    if (in) std::fclose(in);
    if (out && std::fclose(out) != 0) ok = false;
    return ok ? 0 : 1;
}

// One figure: call() (0 on success) after output is removed, untimed; or, without an output, a
// step in memory.
struct Figure {
    std::function<uint32_t()> call;
    const char* output;
};

// Bytes per second of each figure over size bytes, the median of kRounds.
std::vector<double> rates(const std::vector<Figure>& figures, uint64_t size) {
    using Clock = std::chrono::steady_clock;
    std::vector<std::vector<double>> samples(figures.size());
    for (int round = 0; round < kRounds; ++round) {
        for (size_t f = 0; f < figures.size(); ++f) {
            if (figures[f].output) std::filesystem::remove(host(figures[f].output));
            const auto start = Clock::now();
            if (const uint32_t result = figures[f].call(); result != 0)
                die("a call failed", result);
            const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
            samples[f].push_back(static_cast<double>(size) / seconds);
        }
    }
    std::vector<double> out;
    for (auto& s : samples) out.push_back(bench::median(s));
    return out;
}

void print(const char* what, double bytes_per_second) {
    std::printf("  %-44s %9.0f MB/s\n", what, bytes_per_second / 1e6);
}

void print_ratio(const char* what, double measured, double limit) {
    const double ratio = measured / limit;
    std::printf("  %-44s %9.0f MB/s  %5.1f %% of %.0f MB/s  %s\n", what, measured / 1e6,
                100 * ratio, limit / 1e6, ratio >= kTarget ? "ok" : "BELOW TARGET");
}

double bound(double x, double c) {
    return 1 / (1 / x + 1 / c);
}

// The sector path over size bytes: requests of kRequest bytes from one buffer.
uint32_t sector_path(const uint8_t* key, uint64_t size, const Bytes& in, Bytes& out, bool encrypt) {
    constexpr size_t kSectors = kRequest / 512;
    for (uint64_t done = 0, sector = 0; done < size; done += kRequest, sector += kSectors)
        crypto_internal::sm4_xts_sectors(key, sector, in.data(), out.data(), kSectors, 512,
                                         encrypt);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const uint64_t mib = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 256;
    if (mib == 0 || mib >= 2048) die("usage: envelope_bench [MiB, 1 to 2047]");
    const uint64_t size = mib << 20;

    std::string pattern =
        (std::filesystem::temp_directory_path() / "envelope-bench-XXXXXX").string();
    if (!mkdtemp(pattern.data())) die("no temporary folder");
    machine_root = pattern;
    setenv("HALDEN_ROOT", pattern.c_str(), 1);
    std::filesystem::create_directories(machine_root / "C" / "Halden" / "etc");
    std::filesystem::create_directories(machine_root / "C" / "files");

    sim::network_set_adapters({{"eth0", true, true, {0x02, 0, 0x5e, 0x10, 0, 1}}});
    if (const uint32_t result = init_cfg(); result != 0) die("init_cfg failed", result);
    uint32_t tries = 0;
    if (const uint32_t result =
            QeltVerifyPinCode(reinterpret_cast<const uint8_t*>(kDefaultPin), 8, &tries);
        result != 15)
        die("the default PIN is refused", result);
    if (const uint32_t result = QeltBindCurMac(); result != 0) die("cannot bind", result);
    uint8_t sign_public[64], own[64];
    if (const uint32_t result = QeltExportPubkeys(sign_public, own); result != 0)
        die("no public keys", result);

    if (!bench::write_pattern(host(kPlain), size)) die("cannot write the plaintext");
    uint8_t key[32];
    for (int i = 0; i < 32; ++i) key[i] = static_cast<uint8_t>(i * 29 + 3);
    Bytes data(kRequest), out(kRequest);
    for (size_t i = 0; i < kRequest; ++i) data[i] = static_cast<uint8_t>(i * 7 + (i >> 9));

    std::printf(
        "Envelope files of the software card, a %llu MiB file, median of %d rounds "
        "(SM4 path: %s)\n",
        static_cast<unsigned long long>(mib), kRounds,
        crypto_internal::sm4_path_name(crypto_internal::sm4_kernels().path));
    const std::vector<double> figures = rates(
        {
            {[&] { return sector_path(key, size, data, out, true); }, nullptr},
            {[&] { return sector_path(key, size, data, out, false); }, nullptr},
            {[] { return copy_file(kPlain, kCopy); }, kCopy},
            {[&] { return QeltEvEncFile(own, kPlain, kEnvelope); }, kEnvelope},
            {[] { return QeltEvDecFile(kEnvelope, kBack); }, kBack},
        },
        size);
    if (!bench::same_files(host(kPlain), host(kBack))) die("the round trip changed the file");
    if (std::filesystem::file_size(host(kEnvelope)) != 192 + size + 512)
        die("the envelope has the wrong length");
    const double x_encrypt = figures[0], x_decrypt = figures[1], c = figures[2];

    print("x: sector path, encrypt", x_encrypt);
    print("x: sector path, decrypt", x_decrypt);
    print("c: plain copy through the C runtime", c);
    print_ratio("QeltEvEncFile, against 1/(1/x + 1/c)", figures[3], bound(x_encrypt, c));
    print_ratio("QeltEvDecFile, against 1/(1/x + 1/c)", figures[4], bound(x_decrypt, c));
    std::filesystem::remove_all(machine_root);
    return 0;
}
