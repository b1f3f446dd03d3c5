// KeSaveExtendedProcessorState and KeRestoreExtendedProcessorState as Windows documents them:
// saves nest and are restored innermost first on their own thread, also at DISPATCH_LEVEL; a
// failed save leaves nothing to restore; both are found by name unless hidden; the test controls
// counts each thread's saves; and every misuse stops the process as the bug check does.
#include <functional>
#include <thread>

#include "platform/win32.h"
#include "tests/kernel/kernel_test.h"

namespace {

// A mask that the host has enabled: the AVX state where it has one.
ULONG64 avx_mask() {
    return __builtin_cpu_supports("avx") ? XSTATE_MASK_AVX : 0;
}

TEST(ExtendedState, SavesNestAndAreRestoredInnermostFirst) {
    const sim::kernel::ExtendedStateUse before = sim::kernel::extended_state_use();
    XSTATE_SAVE outer, inner;
    ASSERT_EQ(KeSaveExtendedProcessorState(avx_mask(), &outer), STATUS_SUCCESS);
    EXPECT_EQ(outer.Thread, KeGetCurrentThread());
    KSPIN_LOCK lock;
    KeInitializeSpinLock(&lock);
    KIRQL irql;
    KeAcquireSpinLock(&lock, &irql);  // at DISPATCH_LEVEL too
    ASSERT_EQ(KeSaveExtendedProcessorState(avx_mask(), &inner), STATUS_SUCCESS);
    EXPECT_EQ(inner.Prev, &outer);
    KeRestoreExtendedProcessorState(&inner);
    KeReleaseSpinLock(&lock, irql);
    KeRestoreExtendedProcessorState(&outer);
    const sim::kernel::ExtendedStateUse after = sim::kernel::extended_state_use();
    EXPECT_EQ(after.saves, before.saves + 2);
    EXPECT_EQ(after.restores, before.restores + 2);
    EXPECT_EQ(after.last_mask, avx_mask());
}

TEST(ExtendedState, AFailedSaveLeavesNothingToRestore) {
    const sim::kernel::ExtendedStateUse before = sim::kernel::extended_state_use();
    sim::kernel::fail_extended_state_saves(1);
    XSTATE_SAVE save;
    EXPECT_EQ(KeSaveExtendedProcessorState(avx_mask(), &save), STATUS_INSUFFICIENT_RESOURCES);
    EXPECT_EQ(sim::kernel::extended_state_use().saves, before.saves);
    // Nothing is open: the thread may return to user mode.
    EXPECT_EQ(
        CreateFileA("\\\\.\\KtNoSuchDevice", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr),
        INVALID_HANDLE_VALUE);
    ASSERT_EQ(KeSaveExtendedProcessorState(avx_mask(), &save), STATUS_SUCCESS);
    KeRestoreExtendedProcessorState(&save);
    EXPECT_EQ(sim::kernel::extended_state_use().saves, before.saves + 1);
}

TEST(ExtendedState, TheRoutinesAreFoundByNameUnlessHidden) {
    KernelString save(u"KeSaveExtendedProcessorState");
    KernelString restore(u"KeRestoreExtendedProcessorState");
    EXPECT_EQ(MmGetSystemRoutineAddress(save.get()),
              reinterpret_cast<PVOID>(&KeSaveExtendedProcessorState));
    EXPECT_EQ(MmGetSystemRoutineAddress(restore.get()),
              reinterpret_cast<PVOID>(&KeRestoreExtendedProcessorState));
    sim::kernel::hide_system_routines({"KeSaveExtendedProcessorState"});
    EXPECT_EQ(MmGetSystemRoutineAddress(save.get()), nullptr);
    EXPECT_NE(MmGetSystemRoutineAddress(restore.get()), nullptr);
    sim::kernel::hide_system_routines({});
    EXPECT_NE(MmGetSystemRoutineAddress(save.get()), nullptr);
}

struct Rendezvous {
    KEVENT saved;
    KEVENT go;
};

// Saves and restores twice, then waits until the test has read its counts.
VOID NTAPI save_twice(PVOID context) {
    auto* r = static_cast<Rendezvous*>(context);
    for (int i = 0; i < 2; ++i) {
        XSTATE_SAVE save;
        if (KeSaveExtendedProcessorState(avx_mask(), &save) == STATUS_SUCCESS)
            KeRestoreExtendedProcessorState(&save);
    }
    KeSetEvent(&r->saved, IO_NO_INCREMENT, FALSE);
    KeWaitForSingleObject(&r->go, Executive, KernelMode, FALSE, nullptr);
}

TEST(ExtendedState, ASystemThreadsSavesAreReported) {
    Rendezvous r;
    KeInitializeEvent(&r.saved, NotificationEvent, FALSE);
    KeInitializeEvent(&r.go, NotificationEvent, FALSE);
    HANDLE thread;
    ASSERT_EQ(
        PsCreateSystemThread(&thread, THREAD_ALL_ACCESS, nullptr, nullptr, nullptr, save_twice, &r),
        STATUS_SUCCESS);
    KeWaitForSingleObject(&r.saved, Executive, KernelMode, FALSE, nullptr);
    const auto threads = sim::kernel::system_threads();
    ASSERT_EQ(threads.size(), 1u);
    EXPECT_EQ(threads[0].extended_state.saves, 2u);
    EXPECT_EQ(threads[0].extended_state.restores, 2u);
    EXPECT_EQ(threads[0].extended_state.last_mask, avx_mask());
    KeSetEvent(&r.go, IO_NO_INCREMENT, FALSE);
    EXPECT_EQ(ZwWaitForSingleObject(thread, FALSE, nullptr), STATUS_SUCCESS);
    EXPECT_EQ(ZwClose(thread), STATUS_SUCCESS);
}

VOID NTAPI save_and_end(PVOID) {
    XSTATE_SAVE save;
    KeSaveExtendedProcessorState(avx_mask(), &save);
}

struct Misuse {
    const char* name;
    std::function<void()> act;
    const char* message;
};

const Misuse kMisuses[] = {
    {"RestoreOutOfOrder",
     [] {
         XSTATE_SAVE outer, inner;
         KeSaveExtendedProcessorState(avx_mask(), &outer);
         KeSaveExtendedProcessorState(avx_mask(), &inner);
         KeRestoreExtendedProcessorState(&outer);
     },
     "out of order"},
    {"RestoreWithoutSave",
     [] {
         XSTATE_SAVE save{};
         KeRestoreExtendedProcessorState(&save);
     },
     "does not hold"},
    {"RestoreTwice",
     [] {
         XSTATE_SAVE save;
         KeSaveExtendedProcessorState(avx_mask(), &save);
         KeRestoreExtendedProcessorState(&save);
         KeRestoreExtendedProcessorState(&save);
     },
     "does not hold"},
    {"RestoreOnAnotherThread",
     [] {
         XSTATE_SAVE save;
         KeSaveExtendedProcessorState(avx_mask(), &save);
         std::thread([&save] { KeRestoreExtendedProcessorState(&save); }).join();
     },
     "does not hold"},
    {"FeaturesNotEnabled",
     [] {
         XSTATE_SAVE save;
         KeSaveExtendedProcessorState(1ULL << 62, &save);
     },
     "not enabled"},
    {"ThreadEndsWithStateSaved",
     [] {
         std::thread([] {
             XSTATE_SAVE save;
             KeSaveExtendedProcessorState(avx_mask(), &save);
         }).join();
     },
     "a thread ended with extended state saved"},
    {"SystemThreadEndsWithStateSaved",
     [] {
         HANDLE thread;
         PsCreateSystemThread(&thread, THREAD_ALL_ACCESS, nullptr, nullptr, nullptr, save_and_end,
                              nullptr);
         ZwWaitForSingleObject(thread, FALSE, nullptr);
     },
     "a system thread ended with extended state saved"},
    {"ReturnToUserModeWithStateSaved",
     [] {
         XSTATE_SAVE save;
         KeSaveExtendedProcessorState(avx_mask(), &save);
         CreateFileA("\\\\.\\KtNoSuchDevice", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
     },
     "returned to user mode with extended state saved"},
};

class ExtendedStateMisuse : public ::testing::TestWithParam<Misuse> {};

TEST_P(ExtendedStateMisuse, StopsTheProcess) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(GetParam().act(),
                 std::string("INVALID_EXTENDED_PROCESSOR_STATE.*") + GetParam().message);
}

INSTANTIATE_TEST_SUITE_P(Misuses, ExtendedStateMisuse, ::testing::ValuesIn(kMisuses),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
