// Throughput of an Orvik disk in hardware mode: sequential 1 MiB writes and reads through the
// front door, every sector going to the card's firmware model in 64 KiB FPGA frames (the chunk
// size the volume functions send), beside the model's own SM4-XTS on the same chunks measured in
// the same run. The target is 50 % of the model's speed. Each figure is the median of several
// rounds.
//
// Usage: orvik_card_bench [MiB per round, default 64]
#include "bench/orvik_disk.h"
#include "crypto/sm4_blocks.h"
#include "sim/card/card_controls.h"

using namespace orvik_bench;

namespace {

constexpr uint32_t kChunk = 0x10000;
constexpr double kTarget = 0.50;

}  // namespace

int main(int argc, char** argv) {
    const size_t blocks = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 64;
    if (blocks == 0) die("usage: orvik_card_bench [MiB per round]");

    sim::card::CardState state = sim::card::random_card();
    sim::card::Key32 key;
    for (size_t i = 0; i < key.size(); ++i) key[i] = static_cast<uint8_t>(i * 29 + 3);
    state.volume_key = key;
    auto card = sim::card::plug(state);
    card->set_recording(false);
    {
        Disk disk;
        const uint8_t no_key[32] = {};
        disk.attach(uint64_t{blocks} * kBlock, no_key, card->path());

        std::vector<uint8_t> data(kBlock), out(kBlock);
        for (size_t i = 0; i < kBlock; ++i) data[i] = static_cast<uint8_t>(i * 7 + (i >> 9));
        constexpr size_t kChunksPerBlock = kBlock / kChunk;
        constexpr size_t kSectorsPerChunk = kChunk / 512;

        std::printf(
            "Orvik, hardware mode, sequential 1 MiB requests in 64 KiB frames over %zu "
            "MiB (the model's SM4 path: %s)\n",
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
            {blocks, kBlock, [&](size_t i) { transfer(disk.handle(), true, i, data); }},
            {blocks, kBlock, [&](size_t i) { transfer(disk.handle(), false, i, out); }},
        });
        std::printf("  %-52s %9.0f MB/s\n", "the model's SM4-XTS, encrypt (64 KiB chunks)",
                    figures[0] / 1e6);
        std::printf("  %-52s %9.0f MB/s\n", "the model's SM4-XTS, decrypt (64 KiB chunks)",
                    figures[1] / 1e6);
        print_ratio("disk writes, against the model's encryption", figures[2], figures[0], kTarget);
        print_ratio("disk reads, against the model's decryption", figures[3], figures[1], kTarget);
    }
    card->unplug();
    return 0;
}
