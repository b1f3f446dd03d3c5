// Throughput of an Orvik disk in software mode: sequential 1 MiB writes and reads through the
// front door (WriteFile and ReadFile on the disk, the driver loaded into the simulated kernel,
// the image a file under a temporary machine root), beside the two steps that bound them,
// measured in the same run:
//   x  the driver's sector path alone (its kernel-mode build), 1 MiB of 512-byte sectors;
//   w  plain 1 MiB writes of the same bytes to a file through the same layer (r: plain reads).
// The worker encrypts and then writes, so the bound is 1 / (1/x + 1/w); the target is 80 % of it.
// Each figure is the median of several rounds.
//
// Usage: orvik_bench [MiB per round, default 256]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "bench/timing.h"
#include "crypto/byte_access.h"
#include "crypto/sm4_blocks.h"
#include "driver/orvik_interface.h"
#include "platform/sim/kernel.h"
#include "platform/sim/registry.h"
#include "platform/win32.h"

namespace {

namespace fd = file_descriptor;
using Clock = std::chrono::steady_clock;

constexpr size_t kBlock = 1 << 20;
constexpr int kRounds = 5;
constexpr double kTarget = 0.80;

[[noreturn]] void die(const char* what) {
    std::fprintf(stderr, "orvik_bench: %s (error %lu)\n", what,
                 static_cast<unsigned long>(GetLastError()));
    std::exit(1);
}

// One figure: op(i) for i below calls, each moving bytes.
struct Figure {
    size_t calls;
    size_t bytes;
    std::function<void(size_t)> op;
};

// Bytes per second of each figure, the median of kRounds; the figures take turns within each
// round, so that all of them see the same load of the machine.
std::vector<double> rates(const std::vector<Figure>& figures) {
    std::vector<std::vector<double>> samples(figures.size());
    for (int round = 0; round < kRounds; ++round) {
        for (size_t f = 0; f < figures.size(); ++f) {
            const auto start = Clock::now();
            for (size_t i = 0; i < figures[f].calls; ++i) figures[f].op(i);
            const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
            samples[f].push_back(static_cast<double>(figures[f].calls * figures[f].bytes) /
                                 seconds);
        }
    }
    std::vector<double> out;
    for (auto& s : samples) out.push_back(bench::median(s));
    return out;
}

void print(const char* what, double bytes_per_second) {
    std::printf("  %-58s %9.0f MB/s\n", what, bytes_per_second / 1e6);
}

double bound(double x, double w) {
    return 1 / (1 / x + 1 / w);
}

void print_ratio(const char* what, double measured, double limit) {
    const double ratio = measured / limit;
    std::printf("  %-58s %9.0f MB/s  %5.1f %% of %.0f MB/s  %s\n", what, measured / 1e6,
                100 * ratio, limit / 1e6, ratio >= kTarget ? "ok" : "BELOW TARGET");
}

HANDLE open_disk() {
    std::u16string link = u"\\??\\OrvikBench";
    std::u16string target = u"\\Device\\orvik\\device1";
    UNICODE_STRING link_name{static_cast<USHORT>(link.size() * 2),
                             static_cast<USHORT>(link.size() * 2), link.data()};
    UNICODE_STRING target_name{static_cast<USHORT>(target.size() * 2),
                               static_cast<USHORT>(target.size() * 2), target.data()};
    if (!NT_SUCCESS(IoCreateSymbolicLink(&link_name, &target_name))) die("no link to the disk");
    HANDLE disk = CreateFileA("\\\\.\\OrvikBench", GENERIC_READ | GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_FLAG_NO_BUFFERING, nullptr);
    if (disk == INVALID_HANDLE_VALUE) die("cannot open the disk");
    return disk;
}

void attach(HANDLE disk, const std::string& image, uint64_t size) {
    std::vector<uint8_t> record(fd::kSize, 0);
    const std::string name = "\\??\\" + image;
    std::copy(name.begin(), name.end(), record.begin() + fd::kFileName);
    bytes::store_le32(record.data() + fd::kGuard1, fd::kGuardValue);
    bytes::store_le32(record.data() + fd::kGuard2, fd::kGuardValue);
    bytes::store_le16(record.data() + fd::kFileNameLength, static_cast<uint16_t>(name.size()));
    bytes::store_le32(record.data() + fd::kChunkSize, 0x10000);
    bytes::store_le64(record.data() + fd::kFileSize, size);
    record[fd::kSoft] = 1;
    for (uint32_t i = 0; i < 32; ++i) record[fd::kKey1 + i] = static_cast<uint8_t>(i * 29 + 3);
    DWORD returned = 0;
    if (!DeviceIoControl(disk, IOCTL_ORVIK_OPEN_IMAGE, record.data(), fd::kSize, nullptr, 0,
                         &returned, nullptr))
        die("OPEN refused");
}

void transfer(HANDLE file, bool write, size_t block, std::vector<uint8_t>& data) {
    OVERLAPPED at{};
    const uint64_t offset = uint64_t{block} * kBlock;
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    DWORD moved = 0;
    const BOOL ok = write ? WriteFile(file, data.data(), kBlock, &moved, &at)
                          : ReadFile(file, data.data(), kBlock, &moved, &at);
    if (!ok || moved != kBlock) die(write ? "write failed" : "read failed");
}

}  // namespace

int main(int argc, char** argv) {
    const size_t blocks = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 256;
    if (blocks == 0) die("usage: orvik_bench [MiB per round]");

    std::string root = (std::filesystem::temp_directory_path() / "orvik-bench-XXXXXX").string();
    if (!mkdtemp(root.data())) die("no temporary folder");
    std::filesystem::create_directories(std::filesystem::path(root) / "C");
    setenv("HALDEN_ROOT", root.c_str(), 1);

    sim::registry_set_dword("SYSTEM\\CurrentControlSet\\Services\\Orvik", "MaxDevices", 1);
    if (!NT_SUCCESS(sim::kernel::load_driver("Orvik", ORVIK_LIBRARY))) die("driver not loaded");
    HANDLE disk = open_disk();
    attach(disk, "C:\\image.bin", uint64_t{blocks} * kBlock);
    HANDLE plain = CreateFileA("C:\\plain.bin", GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                               CREATE_ALWAYS, FILE_FLAG_NO_BUFFERING, nullptr);
    if (plain == INVALID_HANDLE_VALUE) die("cannot make the plain file");

    std::vector<uint8_t> data(kBlock), out(kBlock);
    for (size_t i = 0; i < kBlock; ++i) data[i] = static_cast<uint8_t>(i * 7 + (i >> 9));
    uint8_t key[32];
    for (int i = 0; i < 32; ++i) key[i] = static_cast<uint8_t>(i * 29 + 3);
    constexpr size_t kSectors = kBlock / 512;

    std::printf("Orvik, software mode, sequential 1 MiB requests over %zu MiB (SM4 path: %s)\n",
                blocks, crypto_internal::sm4_path_name(crypto_internal::sm4_kernels().path));
    const std::vector<double> figures = rates({
        {blocks, kBlock,
         [&](size_t i) {
             crypto_internal::sm4_xts_sectors(key, i * kSectors, data.data(), out.data(), kSectors,
                                              512, true);
         }},
        {blocks, kBlock,
         [&](size_t i) {
             crypto_internal::sm4_xts_sectors(key, i * kSectors, data.data(), out.data(), kSectors,
                                              512, false);
         }},
        {blocks, kBlock, [&](size_t i) { transfer(plain, true, i, data); }},
        {blocks, kBlock, [&](size_t i) { transfer(plain, false, i, out); }},
        {blocks, kBlock, [&](size_t i) { transfer(disk, true, i, data); }},
        {blocks, kBlock, [&](size_t i) { transfer(disk, false, i, out); }},
    });
    const double x_encrypt = figures[0], x_decrypt = figures[1], w = figures[2], r = figures[3];
    const double disk_write = figures[4], disk_read = figures[5];

    print("x: sector path, encrypt", x_encrypt);
    print("x: sector path, decrypt", x_decrypt);
    print("w: plain writes to a file", w);
    print("r: plain reads from a file", r);
    print_ratio("disk writes, against 1/(1/x + 1/w)", disk_write, bound(x_encrypt, w));
    print_ratio("disk reads, against 1/(1/x + 1/w)", disk_read, bound(x_decrypt, w));
    print_ratio("disk reads, against 1/(1/x + 1/r)", disk_read, bound(x_decrypt, r));

    CloseHandle(plain);
    CloseHandle(disk);
    std::u16string link = u"\\??\\OrvikBench";
    UNICODE_STRING link_name{static_cast<USHORT>(link.size() * 2),
                             static_cast<USHORT>(link.size() * 2), link.data()};
    IoDeleteSymbolicLink(&link_name);
    if (!NT_SUCCESS(sim::kernel::unload_driver("Orvik"))) die("unload failed");
    std::filesystem::remove_all(root);
    return 0;
}
