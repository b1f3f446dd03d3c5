// Event objects and waits. Runs against the Linux layer and, in the Windows build, against Wine.
#include <gtest/gtest.h>

#include "platform/win32.h"

namespace {

TEST(Events, AutoResetReleasesOneWaitManualResetStays) {
    HANDLE automatic = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    HANDLE manual = CreateEventA(nullptr, TRUE, TRUE, nullptr);
    ASSERT_NE(automatic, nullptr);
    EXPECT_EQ(WaitForSingleObject(automatic, 0), WAIT_TIMEOUT);
    EXPECT_TRUE(SetEvent(automatic));
    EXPECT_EQ(WaitForSingleObject(automatic, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(automatic, 10), WAIT_TIMEOUT);
    EXPECT_EQ(WaitForSingleObject(manual, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(manual, 0), WAIT_OBJECT_0);
    EXPECT_TRUE(ResetEvent(manual));
    EXPECT_EQ(WaitForSingleObject(manual, 0), WAIT_TIMEOUT);
    EXPECT_TRUE(CloseHandle(automatic));
    EXPECT_TRUE(CloseHandle(manual));
    EXPECT_EQ(WaitForSingleObject(automatic, 0), WAIT_FAILED);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

}  // namespace
