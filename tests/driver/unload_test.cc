// Unload with images attached and with work still queued: afterwards no system thread, no Orvk
// pool byte, no IRP and no kernel handle is left, the directory is gone and the images are free.
#include "tests/support/orvik_test.h"

namespace {

constexpr uint64_t kMiB = 1 << 20;

TEST_F(Orvik, UnloadDetachesAttachedImages) {
    ASSERT_EQ(load(3), STATUS_SUCCESS);
    for (unsigned n = 1; n <= 3; ++n) {
        HANDLE d = disk(n);
        const std::string image = "vol" + std::to_string(n) + ".img";
        ASSERT_EQ(attach(d, soft_record(image, kMiB)), 0u);
        ASSERT_EQ(write(d, 0, pattern(4096, static_cast<uint8_t>(n))), 0u);
    }
    unload();
    for (unsigned n = 1; n <= 3; ++n) {
        HANDLE file =
            CreateFileA(folder_.win("vol" + std::to_string(n) + ".img").c_str(),
                        GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        EXPECT_NE(file, INVALID_HANDLE_VALUE) << n;
        CloseHandle(file);
    }
}

// Requests still pending when their handles close and unload starts: unload waits for them, and
// each completes as it would have.
TEST_F(Orvik, UnloadWithWorkQueued) {
    ASSERT_EQ(load(2), STATUS_SUCCESS);
    const std::vector<uint8_t> data = pattern(kMiB, 8);
    std::vector<HANDLE> handles;
    std::vector<OVERLAPPED> requests(16);
    for (unsigned n = 1; n <= 2; ++n) {
        HANDLE d = disk(n, FILE_FLAG_OVERLAPPED);
        handles.push_back(d);
        ASSERT_EQ(attach(d, soft_record("vol" + std::to_string(n) + ".img", 8 * kMiB)), 0u);
    }
    for (size_t i = 0; i < requests.size(); ++i) {
        OVERLAPPED& request = requests[i];
        request.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        request.Offset = static_cast<DWORD>(i / 2 * kMiB);
        const BOOL ok = WriteFile(handles[i % 2], data.data(), kMiB, nullptr, &request);
        ASSERT_TRUE(ok || GetLastError() == ERROR_IO_PENDING);
    }
    for (HANDLE d : handles) close(d);
    unload();
    for (OVERLAPPED& request : requests) {
        EXPECT_EQ(WaitForSingleObject(request.hEvent, 0), WAIT_OBJECT_0);
        EXPECT_EQ(request.Internal, static_cast<ULONG_PTR>(STATUS_SUCCESS));
        EXPECT_EQ(request.InternalHigh, kMiB);
        CloseHandle(request.hEvent);
    }
}

}  // namespace
