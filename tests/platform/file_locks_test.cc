// Byte-range locks between handles, as Windows grants them. Runs against the Linux layer and, in
// the Windows build, against Wine's kernel32; the lock between processes is Linux-only.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "platform/win32.h"
#include "tests/support/test_folder.h"

#if !defined(_WIN32)
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace {

constexpr DWORD kExclusiveNow = LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY;
constexpr DWORD kSharedNow = LOCKFILE_FAIL_IMMEDIATELY;

class FileLocks : public ::testing::Test {
  protected:
    void SetUp() override { folder.write("f", std::string(100, 'x')); }
    HANDLE open(DWORD access) const {
        return CreateFileA(folder.win("f").c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE,
                           nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    }
    static DWORD lock(HANDLE file, DWORD flags, uint64_t offset, uint64_t length) {
        OVERLAPPED at{};
        at.Offset = static_cast<DWORD>(offset);
        at.OffsetHigh = static_cast<DWORD>(offset >> 32);
        return LockFileEx(file, flags, 0, static_cast<DWORD>(length),
                          static_cast<DWORD>(length >> 32), &at)
                   ? 0
                   : GetLastError();
    }
    static DWORD unlock(HANDLE file, uint64_t offset, uint64_t length) {
        OVERLAPPED at{};
        at.Offset = static_cast<DWORD>(offset);
        at.OffsetHigh = static_cast<DWORD>(offset >> 32);
        return UnlockFileEx(file, 0, static_cast<DWORD>(length), static_cast<DWORD>(length >> 32),
                            &at)
                   ? 0
                   : GetLastError();
    }
    // Wine answers an unlock of a range it does not hold as a lock conflict.
    static DWORD not_locked() { return under_wine() ? ERROR_LOCK_VIOLATION : ERROR_NOT_LOCKED; }

    TestFolder folder;
};

TEST_F(FileLocks, ExclusiveAndSharedRanges) {
    HANDLE one = open(GENERIC_READ | GENERIC_WRITE);
    HANDLE two = open(GENERIC_READ | GENERIC_WRITE);
    HANDLE reader = open(GENERIC_READ);
    EXPECT_EQ(lock(one, kExclusiveNow, 10, 5), 0u);
    EXPECT_EQ(lock(one, kExclusiveNow, 10, 5), static_cast<DWORD>(ERROR_LOCK_VIOLATION));
    EXPECT_EQ(lock(one, kExclusiveNow, 12, 1), static_cast<DWORD>(ERROR_LOCK_VIOLATION));
    EXPECT_EQ(lock(two, kSharedNow, 10, 5), static_cast<DWORD>(ERROR_LOCK_VIOLATION));
    EXPECT_EQ(lock(two, kExclusiveNow, 14, 1), static_cast<DWORD>(ERROR_LOCK_VIOLATION));
    EXPECT_EQ(lock(two, kExclusiveNow, 15, 1), 0u);  // ranges end where they say
    EXPECT_EQ(lock(reader, kExclusiveNow, 15, 1), static_cast<DWORD>(ERROR_LOCK_VIOLATION));
    EXPECT_EQ(lock(reader, kExclusiveNow, 40, 1), 0u);  // a reading handle may lock exclusively
    // A handle may lay a shared lock over its own exclusive one; both must go before others
    // come in.
    EXPECT_EQ(lock(one, kSharedNow, 10, 5), 0u);
    EXPECT_EQ(unlock(one, 10, 5), 0u);
    EXPECT_EQ(lock(two, kExclusiveNow, 10, 5), static_cast<DWORD>(ERROR_LOCK_VIOLATION));
    EXPECT_EQ(lock(two, kSharedNow, 10, 5), 0u);  // only a shared lock is left
    EXPECT_EQ(unlock(one, 10, 5), 0u);
    EXPECT_EQ(unlock(two, 10, 5), 0u);
    EXPECT_EQ(lock(two, kExclusiveNow, 10, 5), 0u);

    // Shared locks stack: each one taken is one to give back.
    EXPECT_EQ(lock(one, kSharedNow, 70, 4), 0u);
    EXPECT_EQ(lock(one, kSharedNow, 70, 4), 0u);
    EXPECT_EQ(lock(reader, kSharedNow, 71, 1), 0u);
    EXPECT_EQ(unlock(one, 70, 4), 0u);
    EXPECT_EQ(lock(two, kExclusiveNow, 70, 1), static_cast<DWORD>(ERROR_LOCK_VIOLATION));
    EXPECT_EQ(unlock(one, 70, 4), 0u);
    EXPECT_EQ(lock(two, kExclusiveNow, 70, 1), 0u);
    EXPECT_EQ(unlock(one, 70, 4), not_locked());
    EXPECT_EQ(unlock(two, 10, 3), not_locked());  // only whole ranges unlock
    EXPECT_EQ(unlock(one, 15, 1), not_locked());  // and only the handle's own

    // Ranges of length 0 lock nothing; ranges may reach the last offset but not wrap.
    EXPECT_EQ(lock(one, kExclusiveNow, 60, 0), 0u);
    EXPECT_EQ(lock(two, kExclusiveNow, 60, 0), 0u);
    EXPECT_EQ(lock(one, kExclusiveNow, 1000, ~0ull - 1000), 0u);
    EXPECT_EQ(lock(two, kExclusiveNow, 1000, 1), static_cast<DWORD>(ERROR_LOCK_VIOLATION));
    EXPECT_EQ(lock(two, kExclusiveNow, ~0ull, 2), static_cast<DWORD>(ERROR_INVALID_PARAMETER));

    // Closing a handle gives up its locks.
    CloseHandle(one);
    EXPECT_EQ(lock(two, kExclusiveNow, 1000, 1), 0u);
    CloseHandle(two);
    CloseHandle(reader);
}

TEST_F(FileLocks, ArgumentsAndHandles) {
    HANDLE file = open(GENERIC_READ);
    OVERLAPPED at{};
    EXPECT_FALSE(LockFileEx(file, kExclusiveNow, 1, 1, 0, &at));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_FALSE(UnlockFileEx(file, 1, 1, 0, &at));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    CloseHandle(file);
    HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    EXPECT_EQ(lock(event, kExclusiveNow, 0, 1), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    CloseHandle(event);
    // Locking needs read or write access; Wine lets an attributes-only handle lock.
    HANDLE attributes = open(FILE_READ_ATTRIBUTES);
    EXPECT_EQ(lock(attributes, kSharedNow, 0, 1), under_wine() ? 0u : ERROR_ACCESS_DENIED);
    CloseHandle(attributes);
}

// Without LOCKFILE_FAIL_IMMEDIATELY the call waits until the range is free.
TEST_F(FileLocks, WaitingLock) {
    HANDLE one = open(GENERIC_READ | GENERIC_WRITE);
    HANDLE two = open(GENERIC_READ | GENERIC_WRITE);
    ASSERT_EQ(lock(one, kExclusiveNow, 0, 8), 0u);
    std::atomic<bool> granted{false};
    std::thread waiter([&] {
        EXPECT_EQ(lock(two, LOCKFILE_EXCLUSIVE_LOCK, 4, 1), 0u);
        granted = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_FALSE(granted);
    EXPECT_EQ(unlock(one, 0, 8), 0u);
    waiter.join();
    EXPECT_TRUE(granted);
    EXPECT_EQ(lock(one, kSharedNow, 4, 1), static_cast<DWORD>(ERROR_LOCK_VIOLATION));
    CloseHandle(one);
    CloseHandle(two);
}

#if !defined(_WIN32)
// The host's locks exclude other processes too: the child's attempt, blocking or not.
TEST_F(FileLocks, OtherProcessesAreExcluded) {
    HANDLE file = open(GENERIC_READ | GENERIC_WRITE);
    ASSERT_EQ(lock(file, kExclusiveNow, 0, 1), 0u);
    auto child = [&](DWORD flags, int report) {
        const pid_t pid = fork();
        if (pid == 0) {
            HANDLE own = open(GENERIC_READ);
            const DWORD result = lock(own, flags, 0, 1);
            const char byte = static_cast<char>(result);
            if (report >= 0) (void)!write(report, &byte, 1);
            _exit(static_cast<int>(result & 0xFF));
        }
        return pid;
    };
    int status = 0;
    const pid_t refused = child(kSharedNow, -1);
    ASSERT_EQ(waitpid(refused, &status, 0), refused);
    EXPECT_EQ(WEXITSTATUS(status), ERROR_LOCK_VIOLATION);

    int pipe_ends[2];
    ASSERT_EQ(pipe(pipe_ends), 0);
    const pid_t waiting = child(LOCKFILE_EXCLUSIVE_LOCK, pipe_ends[1]);
    pollfd ready{pipe_ends[0], POLLIN, 0};
    EXPECT_EQ(poll(&ready, 1, 100), 0);  // still waiting
    EXPECT_EQ(unlock(file, 0, 1), 0u);
    EXPECT_EQ(poll(&ready, 1, 10000), 1);
    ASSERT_EQ(waitpid(waiting, &status, 0), waiting);
    EXPECT_EQ(WEXITSTATUS(status), 0);
    close(pipe_ends[0]);
    close(pipe_ends[1]);
    CloseHandle(file);
}
#endif

}  // namespace
