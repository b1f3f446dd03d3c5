// Throughput of an Orvik disk in hardware mode: sequential 1 MiB writes and reads through the
// front door, every sector going to the card's firmware model in 64 KiB FPGA frames (the chunk
// size the volume functions send), beside the model's own SM4-XTS on the same chunks measured in
// the same run. The target is 50 % of the model's speed. Each figure is the median of several
// rounds.
//
// Usage: orvik_card_bench [MiB per round, default 64]
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
#include "platform/sim/card.h"
#include "platform/sim/kernel.h"
#include "platform/sim/registry.h"
#include "platform/win32.h"

namespace {

namespace fd = file_descriptor;
using Clock = std::chrono::steady_clock;

constexpr size_t kBlock = 1 << 20;
constexpr uint32_t kChunk = 0x10000;
constexpr int kRounds = 5;
constexpr double kTarget = 0.50;

[[noreturn]] void die(const char* what) {
    std::fprintf(stderr, "orvik_card_bench: %s (error %lu)\n", what,
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

void print_ratio(const char* what, double measured, double model) {
    const double ratio = measured / model;
    std::printf("  %-52s %9.0f MB/s  %5.1f %% of the model  %s\n", what, measured / 1e6,
                100 * ratio, ratio >= kTarget ? "ok" : "BELOW TARGET");
}

HANDLE open_disk() {
    std::u16string link = u"\\??\\OrvikCardBench";
    std::u16string target = u"\\Device\\orvik\\device1";
    UNICODE_STRING link_name{static_cast<USHORT>(link.size() * 2),
                             static_cast<USHORT>(link.size() * 2), link.data()};
    UNICODE_STRING target_name{static_cast<USHORT>(target.size() * 2),
                               static_cast<USHORT>(target.size() * 2), target.data()};
    if (!NT_SUCCESS(IoCreateSymbolicLink(&link_name, &target_name))) die("no link to the disk");
    HANDLE disk = CreateFileA("\\\\.\\OrvikCardBench", GENERIC_READ | GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_FLAG_NO_BUFFERING, nullptr);
    if (disk == INVALID_HANDLE_VALUE) die("cannot open the disk");
    return disk;
}

void attach(HANDLE disk, const std::string& image, uint64_t size, const std::string& card_path) {
    std::vector<uint8_t> record(fd::kSize, 0);
    const std::string name = "\\??\\" + image;
    const std::string device = "\\GLOBAL??\\" + card_path.substr(4);
    std::copy(name.begin(), name.end(), record.begin() + fd::kFileName);
    std::copy(device.begin(), device.end(), record.begin() + fd::kDevicePath);
    bytes::store_le32(record.data() + fd::kGuard1, fd::kGuardValue);
    bytes::store_le32(record.data() + fd::kGuard2, fd::kGuardValue);
    bytes::store_le16(record.data() + fd::kFileNameLength, static_cast<uint16_t>(name.size()));
    bytes::store_le16(record.data() + fd::kDevicePathLength, static_cast<uint16_t>(device.size()));
    bytes::store_le32(record.data() + fd::kChunkSize, kChunk);
    bytes::store_le64(record.data() + fd::kFileSize, size);
    DWORD returned = 0;
    if (!DeviceIoControl(disk, IOCTL_ORVIK_OPEN_IMAGE, record.data(), fd::kSize, nullptr, 0,
                         &returned, nullptr))
        die("OPEN refused");
}

void transfer(HANDLE disk, bool write, size_t block, std::vector<uint8_t>& data) {
    OVERLAPPED at{};
    const uint64_t offset = uint64_t{block} * kBlock;
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    DWORD moved = 0;
    const BOOL ok = write ? WriteFile(disk, data.data(), kBlock, &moved, &at)
                          : ReadFile(disk, data.data(), kBlock, &moved, &at);
    if (!ok || moved != kBlock) die(write ? "write failed" : "read failed");
}

}  // namespace

int main(int argc, char** argv) {
    const size_t blocks = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 64;
    if (blocks == 0) die("usage: orvik_card_bench [MiB per round]");

    std::string root = (std::filesystem::temp_directory_path() / "orvik-bench-XXXXXX").string();
    if (!mkdtemp(root.data())) die("no temporary folder");
    std::filesystem::create_directories(std::filesystem::path(root) / "C");
    setenv("HALDEN_ROOT", root.c_str(), 1);

    sim::card::CardState state = sim::card::random_card();
    sim::card::Key32 key;
    for (size_t i = 0; i < key.size(); ++i) key[i] = static_cast<uint8_t>(i * 29 + 3);
    state.volume_key = key;
    auto card = sim::card::plug(state);
    card->set_recording(false);

    sim::registry_set_dword("SYSTEM\\CurrentControlSet\\Services\\Orvik", "MaxDevices", 1);
    if (!NT_SUCCESS(sim::kernel::load_driver("Orvik", ORVIK_LIBRARY))) die("driver not loaded");
    HANDLE disk = open_disk();
    attach(disk, "C:\\image.bin", uint64_t{blocks} * kBlock, card->path());

    std::vector<uint8_t> data(kBlock), out(kBlock);
    for (size_t i = 0; i < kBlock; ++i) data[i] = static_cast<uint8_t>(i * 7 + (i >> 9));
    constexpr size_t kChunksPerBlock = kBlock / kChunk;
    constexpr size_t kSectorsPerChunk = kChunk / 512;

    std::printf(
        "Orvik, hardware mode, sequential 1 MiB requests in 64 KiB frames over %zu MiB "
        "(model's SM4 path: %s)\n",
        blocks, crypto_internal::sm4_path_name(crypto_internal::sm4_kernels().path));
    const std::vector<double> figures = rates({
        {blocks * kChunksPerBlock, kChunk,
         [&](size_t i) {
             crypto_internal::sm4_xts_sectors(key.data(), i * kSectorsPerChunk, data.data(),
                                              out.data(), kSectorsPerChunk, 512, true);
         }},
        {blocks * kChunksPerBlock, kChunk,
         [&](size_t i) {
             crypto_internal::sm4_xts_sectors(key.data(), i * kSectorsPerChunk, data.data(),
                                              out.data(), kSectorsPerChunk, 512, false);
         }},
        {blocks, kBlock, [&](size_t i) { transfer(disk, true, i, data); }},
        {blocks, kBlock, [&](size_t i) { transfer(disk, false, i, out); }},
    });
    const double model_encrypt = figures[0], model_decrypt = figures[1];
    const double disk_write = figures[2], disk_read = figures[3];

    std::printf("  %-52s %9.0f MB/s\n", "the model's SM4-XTS, encrypt (64 KiB chunks)",
                model_encrypt / 1e6);
    std::printf("  %-52s %9.0f MB/s\n", "the model's SM4-XTS, decrypt (64 KiB chunks)",
                model_decrypt / 1e6);
    print_ratio("disk writes", disk_write, model_encrypt);
    print_ratio("disk reads", disk_read, model_decrypt);

    CloseHandle(disk);
    std::u16string link = u"\\??\\OrvikCardBench";
    UNICODE_STRING link_name{static_cast<USHORT>(link.size() * 2),
                             static_cast<USHORT>(link.size() * 2), link.data()};
    IoDeleteSymbolicLink(&link_name);
    if (!NT_SUCCESS(sim::kernel::unload_driver("Orvik"))) die("unload failed");
    card->unplug();
    std::filesystem::remove_all(root);
    return 0;
}
