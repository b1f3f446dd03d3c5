// Software mode's sector cipher and the extended processor state: each request that ciphers
// sectors saves the state of the fastest path once and restores it; without the kernel's routines
// (as on Wine) or when a save fails, the request takes the path that needs no saved state. Either
// way every sector is stored as the independent XTS has it.
#include "crypto/sm4_blocks.h"
#include "tests/support/orvik_test.h"

namespace {

constexpr uint64_t kMiB = 1 << 20;

struct SaveCase {
    const char* name;
    std::vector<std::string> hidden;  // routines the kernel does not export
    unsigned failing_saves;
};

const SaveCase kCases[] = {
    {"Saved", {}, 0},
    {"SomeSavesFail", {}, 3},
    {"NoSaveRoutine", {"KeSaveExtendedProcessorState"}, 0},
    {"NoRestoreRoutine", {"KeRestoreExtendedProcessorState"}, 0},
    {"NeitherRoutine", {"KeSaveExtendedProcessorState", "KeRestoreExtendedProcessorState"}, 0},
};

// What the driver must save: the state of the fastest path this CPU has, as the kernel's mask.
ULONG64 fastest_path_mask() {
    using namespace crypto_internal;
    const uint64_t xstate = sm4_path_xstate(sm4_fastest_kernels(kXStateYmm | kXStateZmm).path);
    return (xstate & kXStateYmm ? XSTATE_MASK_AVX : 0) |
           (xstate & kXStateZmm ? XSTATE_MASK_AVX512 : 0);
}

sim::kernel::ExtendedStateUse system_thread_saves() {
    sim::kernel::ExtendedStateUse total;
    for (const auto& thread : sim::kernel::system_threads()) {
        total.saves += thread.extended_state.saves;
        total.restores += thread.extended_state.restores;
        if (thread.extended_state.saves) total.last_mask = thread.extended_state.last_mask;
    }
    return total;
}

class OrvikSectorCipher : public Orvik, public ::testing::WithParamInterface<SaveCase> {};

TEST_P(OrvikSectorCipher, EachRequestSavesTheStateOnceOrTakesThePathWithoutIt) {
    sim::kernel::hide_system_routines(GetParam().hidden);
    ASSERT_EQ(load(1), STATUS_SUCCESS);
    HANDLE volume = disk(1);
    const Key32 key = test_key(9);
    MountRecord record = soft_record("vol.img", 4 * kMiB);
    record.key = key;
    ASSERT_EQ(attach(volume, record), 0u);

    sim::kernel::fail_extended_state_saves(GetParam().failing_saves);
    const sim::kernel::ExtendedStateUse before = system_thread_saves();
    struct Piece {
        uint64_t offset;
        size_t length;
    };
    const Piece pieces[] = {{0, 512}, {512 * 9, 8192}, {kMiB, 65536}, {2 * kMiB, kMiB}};
    std::vector<std::vector<uint8_t>> written;
    for (const auto& p : pieces) {
        written.push_back(pattern(p.length, static_cast<uint8_t>(p.offset / 512 + 3)));
        ASSERT_EQ(write(volume, p.offset, written.back()), 0u);
    }
    for (size_t i = 0; i < std::size(pieces); ++i) {
        std::vector<uint8_t> back(pieces[i].length);
        ASSERT_EQ(read(volume, pieces[i].offset, back), 0u);
        EXPECT_EQ(back, written[i]) << i;
    }
    const sim::kernel::ExtendedStateUse after = system_thread_saves();

    const uint64_t requests = 2 * std::size(pieces);
    const ULONG64 mask = fastest_path_mask();
    const uint64_t saved = mask != 0 && GetParam().hidden.empty()
                               ? requests - std::min<uint64_t>(GetParam().failing_saves, requests)
                               : 0;
    EXPECT_EQ(after.saves - before.saves, saved);
    EXPECT_EQ(after.restores - before.restores, saved);
    if (saved != 0) {
        EXPECT_EQ(after.last_mask, mask);
    }

    ASSERT_EQ(detach(volume), 0u);
    for (size_t i = 0; i < std::size(pieces); ++i)
        EXPECT_EQ(decrypt_sectors(folder_.read("vol.img"), key.data(), pieces[i].offset,
                                  pieces[i].length),
                  written[i])
            << i;
    unload();
    const std::string counts = "Orvik: device1: " + std::to_string(saved) +
                               " requests ciphered with the extended processor state saved, " +
                               std::to_string(requests - saved) + " without.\n";
    const std::vector<std::string> output = sim::kernel::debug_output();
    ASSERT_FALSE(output.empty());
    EXPECT_EQ(output.back(), counts);
}

INSTANTIATE_TEST_SUITE_P(Kernels, OrvikSectorCipher, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
