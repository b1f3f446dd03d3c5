// Scheduling objects as Windows has them: synchronization and notification events, waits with
// and without time-outs, system threads and their waitable objects, spin locks and the
// interlocked lists, and what a bug check stops.
#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "tests/kernel/kernel_test.h"

namespace {

LARGE_INTEGER relative_ms(LONGLONG ms) {
    LARGE_INTEGER t;
    t.QuadPart = -ms * 10000;
    return t;
}

TEST(Events, SynchronizationReleasesOneWaiterAndNotificationStaysSet) {
    KEVENT synchronization, notification;
    KeInitializeEvent(&synchronization, SynchronizationEvent, TRUE);
    KeInitializeEvent(&notification, NotificationEvent, FALSE);
    LARGE_INTEGER now{};
    EXPECT_EQ(KeWaitForSingleObject(&synchronization, Executive, KernelMode, FALSE, &now),
              STATUS_SUCCESS);
    EXPECT_EQ(KeWaitForSingleObject(&synchronization, Executive, KernelMode, FALSE, &now),
              STATUS_TIMEOUT);  // the satisfied wait took the signal
    EXPECT_EQ(KeSetEvent(&notification, IO_NO_INCREMENT, FALSE), 0);
    EXPECT_EQ(KeSetEvent(&notification, IO_NO_INCREMENT, FALSE), 1);
    for (int i = 0; i < 2; ++i)
        EXPECT_EQ(KeWaitForSingleObject(&notification, Executive, KernelMode, FALSE, &now),
                  STATUS_SUCCESS);
    EXPECT_EQ(KeReadStateEvent(&notification), 1);
    EXPECT_EQ(KeResetEvent(&notification), 1);
    EXPECT_EQ(KeReadStateEvent(&notification), 0);

    // Two waiters on each: a synchronization event lets one through per signal, a notification
    // event all of them.
    std::atomic<int> passed_synchronization{0}, passed_notification{0};
    std::vector<std::thread> waiters;
    for (int i = 0; i < 2; ++i) {
        waiters.emplace_back([&] {
            KeWaitForSingleObject(&synchronization, Executive, KernelMode, FALSE, nullptr);
            ++passed_synchronization;
            KeWaitForSingleObject(&notification, Executive, KernelMode, FALSE, nullptr);
            ++passed_notification;
        });
    }
    KeSetEvent(&synchronization, IO_NO_INCREMENT, FALSE);
    while (passed_synchronization < 1) std::this_thread::yield();
    LARGE_INTEGER wait = relative_ms(50);
    KEVENT never;
    KeInitializeEvent(&never, NotificationEvent, FALSE);
    KeWaitForSingleObject(&never, Executive, KernelMode, FALSE, &wait);
    EXPECT_EQ(passed_synchronization, 1);
    KeSetEvent(&synchronization, IO_NO_INCREMENT, FALSE);
    KeSetEvent(&notification, IO_NO_INCREMENT, FALSE);
    for (auto& t : waiters) t.join();
    EXPECT_EQ(passed_notification, 2);
    EXPECT_EQ(KeReadStateEvent(&synchronization), 0);
}

TEST(Waits, TimeOutsAreIn100NanosecondUnitsRelativeOrAbsolute) {
    KEVENT event;
    KeInitializeEvent(&event, NotificationEvent, FALSE);
    const auto start = std::chrono::steady_clock::now();
    LARGE_INTEGER relative = relative_ms(30);
    EXPECT_EQ(KeWaitForSingleObject(&event, Executive, KernelMode, FALSE, &relative),
              STATUS_TIMEOUT);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(30));
    // An absolute time already past ends the wait at once.
    LARGE_INTEGER past;
    past.QuadPart = 1;
    EXPECT_EQ(KeWaitForSingleObject(&event, Executive, KernelMode, FALSE, &past), STATUS_TIMEOUT);
    // Signalled from elsewhere before a long time-out.
    std::thread setter([&] { KeSetEvent(&event, IO_NO_INCREMENT, FALSE); });
    LARGE_INTEGER long_wait = relative_ms(60000);
    EXPECT_EQ(KeWaitForSingleObject(&event, Executive, KernelMode, FALSE, &long_wait),
              STATUS_SUCCESS);
    setter.join();
}

struct ThreadContext {
    KEVENT go;
    std::atomic<KPRIORITY> previous{-1};
    std::atomic<bool> after_terminate{false};
};

VOID NTAPI worker(PVOID context) {
    auto* c = static_cast<ThreadContext*>(context);
    c->previous = KeSetPriorityThread(KeGetCurrentThread(), LOW_REALTIME_PRIORITY);
    KeWaitForSingleObject(&c->go, Executive, KernelMode, FALSE, nullptr);
    PsTerminateSystemThread(STATUS_SUCCESS);
    c->after_terminate = true;  // never reached
}

TEST(SystemThreads, AreWaitableAndEndAtPsTerminateSystemThread) {
    ThreadContext context;
    KeInitializeEvent(&context.go, SynchronizationEvent, FALSE);
    const size_t before = sim::kernel::system_threads().size();
    HANDLE handle;
    ASSERT_EQ(PsCreateSystemThread(&handle, THREAD_ALL_ACCESS, nullptr, nullptr, nullptr, worker,
                                   &context),
              STATUS_SUCCESS);
    PVOID thread;
    ASSERT_EQ(
        ObReferenceObjectByHandle(handle, THREAD_ALL_ACCESS, nullptr, KernelMode, &thread, nullptr),
        STATUS_SUCCESS);
    while (context.previous < 0) std::this_thread::yield();
    EXPECT_EQ(context.previous, 8);  // system threads start at priority 8
    auto threads = sim::kernel::system_threads();
    ASSERT_EQ(threads.size(), before + 1);
    LARGE_INTEGER now{};
    EXPECT_EQ(KeWaitForSingleObject(thread, Executive, KernelMode, FALSE, &now), STATUS_TIMEOUT);
    EXPECT_EQ(ZwWaitForSingleObject(handle, FALSE, &now), STATUS_TIMEOUT);
    KeSetEvent(&context.go, IO_NO_INCREMENT, FALSE);
    EXPECT_EQ(ZwWaitForSingleObject(handle, FALSE, nullptr), STATUS_SUCCESS);
    EXPECT_EQ(KeWaitForSingleObject(thread, Executive, KernelMode, FALSE, &now), STATUS_SUCCESS);
    EXPECT_EQ(ZwClose(handle), STATUS_SUCCESS);
    PVOID closed;
    EXPECT_EQ(
        ObReferenceObjectByHandle(handle, THREAD_ALL_ACCESS, nullptr, KernelMode, &closed, nullptr),
        STATUS_INVALID_HANDLE);
    ObDereferenceObject(thread);
    EXPECT_FALSE(context.after_terminate);
    EXPECT_EQ(sim::kernel::system_threads().size(), before);
    // Called by a thread that is not a system thread it returns.
    EXPECT_EQ(PsTerminateSystemThread(STATUS_SUCCESS), STATUS_INVALID_PARAMETER);
}

TEST(InterlockedLists, InsertAndRemoveUnderTheLockReportTheFormerHead) {
    LIST_ENTRY head, a, b, c;
    KSPIN_LOCK lock;
    KeInitializeSpinLock(&lock);
    InitializeListHead(&head);
    EXPECT_EQ(ExInterlockedRemoveHeadList(&head, &lock), nullptr);
    EXPECT_EQ(ExInterlockedInsertTailList(&head, &a, &lock), nullptr);
    EXPECT_EQ(ExInterlockedInsertTailList(&head, &b, &lock), &a);
    EXPECT_EQ(ExInterlockedInsertHeadList(&head, &c, &lock), &a);
    EXPECT_EQ(ExInterlockedRemoveHeadList(&head, &lock), &c);
    EXPECT_EQ(ExInterlockedRemoveHeadList(&head, &lock), &a);
    EXPECT_EQ(ExInterlockedRemoveHeadList(&head, &lock), &b);
    EXPECT_TRUE(IsListEmpty(&head));
    EXPECT_EQ(lock, 0u);
}

TEST(SpinLocks, RaiseToDispatchLevelAndExcludeOtherThreads) {
    KSPIN_LOCK lock;
    KeInitializeSpinLock(&lock);
    KIRQL old;
    KeAcquireSpinLock(&lock, &old);
    EXPECT_EQ(old, PASSIVE_LEVEL);
    EXPECT_EQ(KeGetCurrentIrql(), DISPATCH_LEVEL);
    std::atomic<bool> taken{false};
    std::thread other([&] {
        KIRQL other_old;
        KeAcquireSpinLock(&lock, &other_old);
        taken = true;
        KeReleaseSpinLock(&lock, other_old);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_FALSE(taken);
    LARGE_INTEGER now{};
    KEVENT event;
    KeInitializeEvent(&event, NotificationEvent, FALSE);
    // A wait that cannot block is allowed at DISPATCH_LEVEL.
    EXPECT_EQ(KeWaitForSingleObject(&event, Executive, KernelMode, FALSE, &now), STATUS_TIMEOUT);
    KeReleaseSpinLock(&lock, old);
    other.join();
    EXPECT_TRUE(taken);
    EXPECT_EQ(KeGetCurrentIrql(), PASSIVE_LEVEL);
}

class SyncFaults : public ::testing::Test {
  protected:
    void SetUp() override { GTEST_FLAG_SET(death_test_style, "threadsafe"); }
};

TEST_F(SyncFaults, WaitsAndFileCallsWhileASpinLockIsHeldStopTheProcess) {
    auto holding_lock = [](auto call) {
        KSPIN_LOCK lock;
        KeInitializeSpinLock(&lock);
        KIRQL old;
        KeAcquireSpinLock(&lock, &old);
        call();
        KeReleaseSpinLock(&lock, old);
    };
    EXPECT_DEATH(holding_lock([] {
                     KEVENT event;
                     KeInitializeEvent(&event, NotificationEvent, TRUE);
                     KeWaitForSingleObject(&event, Executive, KernelMode, FALSE, nullptr);
                 }),
                 "IRQL_NOT_LESS_OR_EQUAL");
    EXPECT_DEATH(holding_lock([] {
                     Attributes name(u"\\??\\C:\\x");
                     IO_STATUS_BLOCK iosb;
                     HANDLE handle;
                     ZwCreateFile(&handle, GENERIC_READ, name.get(), &iosb, nullptr, 0, 0,
                                  FILE_OPEN, 0, nullptr, 0);
                 }),
                 "ZwCreateFile");
    EXPECT_DEATH(holding_lock([] {
                     KSPIN_LOCK inner;
                     KeInitializeSpinLock(&inner);
                     KIRQL old;
                     KeAcquireSpinLock(&inner, &old);
                     KeAcquireSpinLock(&inner, &old);
                 }),
                 "SPIN_LOCK_ALREADY_OWNED");
}

TEST_F(SyncFaults, UnknownObjectsAndPrioritiesStopTheProcess) {
    KEVENT zeroed{};
    EXPECT_DEATH(KeWaitForSingleObject(&zeroed, Executive, KernelMode, FALSE, nullptr),
                 "INVALID_DISPATCHER_OBJECT");
    EXPECT_DEATH(KeSetPriorityThread(KeGetCurrentThread(), 32), "INVALID_PRIORITY");
}

}  // namespace
