// Throughput of an Orvik disk in software mode: sequential 1 MiB writes and reads through the
// front door (WriteFile and ReadFile on the disk, the driver loaded into the simulated kernel,
// the image a file under a temporary machine root), beside the steps that bound them, measured in
// the same run:
//   x  the sector path in user mode (the fastest this CPU has), 1 MiB of 512-byte sectors;
//   s  the fastest path that needs no saved register state (the driver's when it cannot save it);
//   w  plain 1 MiB writes of the same bytes to a file through the same layer (r: plain reads).
// The worker encrypts and then writes, or reads and then decrypts, so the bounds are
// 1 / (1/x + 1/w) and 1 / (1/x + 1/r); the target is 80 % of them. The bounds from s show what
// the disk gains over that path. Each figure is the median of several rounds.
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

    using crypto_internal::Sm4Kernels;
    const Sm4Kernels& fastest = crypto_internal::sm4_kernels();
    const Sm4Kernels& unsaved = crypto_internal::sm4_fastest_kernels(0);
    auto cipher = [&](const Sm4Kernels& kernels, bool encrypt) {
        return [&kernels, encrypt, &key, &data, &out](size_t i) {
            crypto_internal::sm4_xts_sectors(kernels, key, i * kSectors, data.data(), out.data(),
                                             kSectors, 512, encrypt);
        };
    };
    std::printf("Orvik, software mode, sequential 1 MiB requests over %zu MiB (x: %s, s: %s)\n",
                blocks, crypto_internal::sm4_path_name(fastest.path),
                crypto_internal::sm4_path_name(unsaved.path));
    const std::vector<double> figures = rates({
        {blocks, kBlock, cipher(fastest, true)},
        {blocks, kBlock, cipher(fastest, false)},
        {blocks, kBlock, cipher(unsaved, true)},
        {blocks, kBlock, cipher(unsaved, false)},
        {blocks, kBlock, [&](size_t i) { transfer(plain, true, i, data); }},
        {blocks, kBlock, [&](size_t i) { transfer(plain, false, i, out); }},
        {blocks, kBlock, [&](size_t i) { transfer(disk.handle(), true, i, data); }},
        {blocks, kBlock, [&](size_t i) { transfer(disk.handle(), false, i, out); }},
    });
    const double x_encrypt = figures[0], x_decrypt = figures[1];
    const double s_encrypt = figures[2], s_decrypt = figures[3];
    const double w = figures[4], r = figures[5];
    const double disk_write = figures[6], disk_read = figures[7];

    print("x: sector path, encrypt", x_encrypt);
    print("x: sector path, decrypt", x_decrypt);
    print("s: sector path without saved state, encrypt", s_encrypt);
    print("s: sector path without saved state, decrypt", s_decrypt);
    print("w: plain writes to a file", w);
    print("r: plain reads from a file", r);
    print_ratio("disk writes, against 1/(1/x + 1/w)", disk_write, bound(x_encrypt, w), kTarget);
    print_ratio("disk reads, against 1/(1/x + 1/r)", disk_read, bound(x_decrypt, r), kTarget);
    print_ratio("disk writes, against 1/(1/s + 1/w)", disk_write, bound(s_encrypt, w), kTarget);
    print_ratio("disk reads, against 1/(1/s + 1/w)", disk_read, bound(s_decrypt, w), kTarget);
    print_ratio("disk reads, against 1/(1/s + 1/r)", disk_read, bound(s_decrypt, r), kTarget);
    CloseHandle(plain);
    return 0;
}
