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
#include "bench/orvik_disk.h"
#include "crypto/sm4_blocks.h"

using namespace orvik_bench;

namespace {

constexpr double kTarget = 0.80;

void print(const char* what, double bytes_per_second) {
    std::printf("  %-52s %9.0f MB/s\n", what, bytes_per_second / 1e6);
}

double bound(double x, double w) {
    return 1 / (1 / x + 1 / w);
}

}  // namespace

int main(int argc, char** argv) {
    const size_t blocks = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 256;
    if (blocks == 0) die("usage: orvik_bench [MiB per round]");
    uint8_t key[32];
    for (int i = 0; i < 32; ++i) key[i] = static_cast<uint8_t>(i * 29 + 3);

    Disk disk;
    disk.attach(uint64_t{blocks} * kBlock, key);
    HANDLE plain = CreateFileA("C:\\plain.bin", GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                               CREATE_ALWAYS, FILE_FLAG_NO_BUFFERING, nullptr);
    if (plain == INVALID_HANDLE_VALUE) die("cannot make the plain file");

    std::vector<uint8_t> data(kBlock), out(kBlock);
    for (size_t i = 0; i < kBlock; ++i) data[i] = static_cast<uint8_t>(i * 7 + (i >> 9));
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
        {blocks, kBlock, [&](size_t i) { transfer(disk.handle(), true, i, data); }},
        {blocks, kBlock, [&](size_t i) { transfer(disk.handle(), false, i, out); }},
    });
    const double x_encrypt = figures[0], x_decrypt = figures[1], w = figures[2], r = figures[3];
    const double disk_write = figures[4], disk_read = figures[5];

    print("x: sector path, encrypt", x_encrypt);
    print("x: sector path, decrypt", x_decrypt);
    print("w: plain writes to a file", w);
    print("r: plain reads from a file", r);
    print_ratio("disk writes, against 1/(1/x + 1/w)", disk_write, bound(x_encrypt, w), kTarget);
    print_ratio("disk reads, against 1/(1/x + 1/w)", disk_read, bound(x_decrypt, w), kTarget);
    print_ratio("disk reads, against 1/(1/x + 1/r)", disk_read, bound(x_decrypt, r), kTarget);
    CloseHandle(plain);
    return 0;
}
