// What the Orvik benches share: a temporary machine root, the driver loaded with one disk, the
// disk opened and attached from user mode as the volume functions do it, sequential 1 MiB
// transfers, and figures measured in turns so that all of them see the same load.
#pragma once

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "base/byte_access.h"
#include "bench/timing.h"
#include "platform/testing/kernel_controls.h"
#include "platform/testing/registry_controls.h"
#include "platform/win32.h"
#include "wire/orvik_interface.h"

namespace orvik_bench {

constexpr size_t kBlock = 1 << 20;
constexpr int kRounds = 5;

[[noreturn]] inline void die(const char* what) {
    std::fprintf(stderr, "%s (error %lu)\n", what, static_cast<unsigned long>(GetLastError()));
    std::exit(1);
}

// One figure: op(i) for i below calls, each moving bytes.
struct Figure {
    size_t calls;
    size_t bytes;
    std::function<void(size_t)> op;
};

// Bytes per second of each figure, the median of kRounds; the figures take turns within each
// round.
inline std::vector<double> rates(const std::vector<Figure>& figures) {
    using Clock = std::chrono::steady_clock;
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

inline UNICODE_STRING counted(std::u16string& text) {
    const auto bytes = static_cast<USHORT>(text.size() * 2);
    return {bytes, bytes, text.data()};
}

// The driver loaded with one disk under a temporary machine root, the disk open at "\\.\<link>".
class Disk {
  public:
    Disk() {
        root_ = (std::filesystem::temp_directory_path() / "orvik-bench-XXXXXX").string();
        if (!mkdtemp(root_.data())) die("no temporary folder");
        std::filesystem::create_directories(std::filesystem::path(root_) / "C");
        setenv("HALDEN_ROOT", root_.c_str(), 1);
        sim::registry_set_dword("SYSTEM\\CurrentControlSet\\Services\\Orvik", "MaxDevices", 1);
        if (!NT_SUCCESS(sim::kernel::load_driver("Orvik", ORVIK_LIBRARY))) die("driver not loaded");
        char16_t name[wire::kOrvikDeviceNameUnits];
        std::u16string target(name, wire::WriteOrvikDeviceName(name, 1));
        UNICODE_STRING link = counted(link_), to = counted(target);
        if (!NT_SUCCESS(IoCreateSymbolicLink(&link, &to))) die("no link to the disk");
        handle_ = CreateFileA("\\\\.\\OrvikBench", GENERIC_READ | GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_FLAG_NO_BUFFERING, nullptr);
        if (handle_ == INVALID_HANDLE_VALUE) die("cannot open the disk");
    }
    ~Disk() {
        CloseHandle(handle_);
        UNICODE_STRING link = counted(link_);
        IoDeleteSymbolicLink(&link);
        if (!NT_SUCCESS(sim::kernel::unload_driver("Orvik"))) die("unload failed");
        std::filesystem::remove_all(root_);
    }
    Disk(const Disk&) = delete;
    Disk& operator=(const Disk&) = delete;

    // OPEN with a new image "C:\image.bin" of size bytes: software mode under key, or card mode
    // through the card at card_path (its interface path) with 64 KiB chunks.
    void attach(uint64_t size, const uint8_t* key, const std::string& card_path = "") {
        namespace fd = wire::file_descriptor;
        uint8_t record[fd::kSize];
        const std::string device = card_path.empty() ? "" : card_path.substr(4);
        fd::Encode({"C:\\image.bin", device.c_str(), static_cast<int64_t>(size), 0x10000,
                    card_path.empty(), key},
                   record);
        DWORD returned = 0;
        if (!DeviceIoControl(handle_, IOCTL_ORVIK_OPEN_IMAGE, record, fd::kSize, nullptr, 0,
                             &returned, nullptr))
            die("OPEN refused");
    }

    HANDLE handle() const { return handle_; }

  private:
    std::string root_;
    std::u16string link_ = u"\\??\\OrvikBench";
    HANDLE handle_ = INVALID_HANDLE_VALUE;
};

// 1 MiB block number block of file, read or written.
inline void transfer(HANDLE file, bool write, size_t block, std::vector<uint8_t>& data) {
    OVERLAPPED at{};
    const uint64_t offset = uint64_t{block} * kBlock;
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    DWORD moved = 0;
    const BOOL ok = write ? WriteFile(file, data.data(), kBlock, &moved, &at)
                          : ReadFile(file, data.data(), kBlock, &moved, &at);
    if (!ok || moved != kBlock) die(write ? "write failed" : "read failed");
}

inline void print_ratio(const char* what, double measured, double limit, double target) {
    const double ratio = measured / limit;
    std::printf("  %-52s %9.0f MB/s  %5.1f %% of %.0f MB/s  %s\n", what, measured / 1e6,
                100 * ratio, limit / 1e6, ratio >= target ? "ok" : "BELOW TARGET");
}

}  // namespace orvik_bench
