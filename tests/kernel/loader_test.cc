// The service loader with the test driver of echo_driver.cc, a shared library as a driver
// would be: DriverEntry with the service key, the I/O path end to end, and unload leaving
// nothing behind; then what the loader checks.
#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>

#include "platform/testing/registry_controls.h"
#include "platform/win32.h"
#include "tests/kernel/echo_driver.h"
#include "tests/kernel/kernel_test.h"

namespace {

constexpr char kService[] = "HaldenEcho";
constexpr char kServiceKey[] = "SYSTEM\\CurrentControlSet\\Services\\HaldenEcho";

class Loader : public ::testing::Test {
  protected:
    void SetUp() override {
        sim::kernel::clear_debug_output();
        sim::registry_delete_key(kServiceKey);
        threads_before_ = sim::kernel::system_threads().size();
        handles_before_ = sim::kernel::kernel_handles();
    }
    void TearDown() override {
        sim::kernel::pool_clear_faults();
        if (sim::kernel::driver_loaded(kService)) {
            EXPECT_EQ(sim::kernel::unload_driver(kService), STATUS_SUCCESS);
        }
        for (auto& name : links_) {
            KernelString link(name);
            IoDeleteSymbolicLink(link.get());
        }
    }
    NTSTATUS load(uint32_t devices) {
        sim::registry_set_dword(kServiceKey, "Devices", devices);
        return sim::kernel::load_driver(kService, HALDEN_ECHO_DRIVER);
    }
    // "\\.\HaldenEcho<n>" for user mode.
    void link(int n) {
        const std::u16string number(1, static_cast<char16_t>(u'0' + n));
        KernelString name(u"\\??\\HaldenEcho" + number), target(u"\\Device\\HaldenEcho" + number);
        ASSERT_EQ(IoCreateSymbolicLink(name.get(), target.get()), STATUS_SUCCESS);
        links_.push_back(u"\\??\\HaldenEcho" + number);
    }
    static HANDLE open(DWORD flags = 0) {
        return CreateFileA("\\\\.\\HaldenEcho1", GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                           OPEN_EXISTING, flags, nullptr);
    }
    void expect_nothing_left() {
        EXPECT_FALSE(sim::kernel::driver_loaded(kService));
        EXPECT_FALSE(sim::kernel::object_exists("\\Driver\\HaldenEcho"));
        EXPECT_FALSE(sim::kernel::object_exists("\\Device\\HaldenEcho1"));
        EXPECT_EQ(sim::kernel::pool_live_bytes("Echo"), 0u);
        EXPECT_EQ(sim::kernel::system_threads().size(), threads_before_);
        EXPECT_EQ(sim::kernel::live_irps(), 0u);
        EXPECT_EQ(sim::kernel::kernel_handles(), handles_before_);
    }

    size_t threads_before_ = 0, handles_before_ = 0;
    std::vector<std::u16string> links_;
};

TEST_F(Loader, DriverEntryGetsItsServiceKeyAndItsDevicesAreReady) {
    ASSERT_EQ(load(2), STATUS_SUCCESS);
    EXPECT_EQ(sim::kernel::debug_output(),
              (std::vector<std::string>{
                  "echo: loading from \\Registry\\Machine\\System\\CurrentControlSet\\Services\\"
                  "HaldenEcho\n",
                  "echo: 2 devices\n"}));
    EXPECT_TRUE(sim::kernel::object_exists("\\Driver\\HaldenEcho"));
    auto devices = sim::kernel::driver_devices(kService);
    ASSERT_EQ(devices.size(), 2u);
    EXPECT_EQ(devices[0].name, "\\Device\\HaldenEcho2");  // newest first
    EXPECT_EQ(devices[1].name, "\\Device\\HaldenEcho1");
    EXPECT_EQ(
        devices[1].security,
        "D:P(A;;0x1f01ff;;;S-1-5-18)(A;;0x1f01ff;;;S-1-5-32-544)(A;;0x1f01ff;;;S-1-5-32-545)");
    EXPECT_EQ(devices[1].flags & (DO_DIRECT_IO | DO_DEVICE_INITIALIZING), ULONG{DO_DIRECT_IO});
    EXPECT_EQ(sim::kernel::pool_live_bytes("Echo"), 2 * echo::kStoreSize);
    EXPECT_EQ(sim::kernel::pool_live_blocks("Echo"), 2u);
    // Each worker raises itself to 16 once it runs.
    for (auto start = std::chrono::steady_clock::now();
         std::chrono::steady_clock::now() - start < std::chrono::seconds(10);) {
        auto threads = sim::kernel::system_threads();
        if (std::count_if(threads.begin(), threads.end(),
                          [](const auto& t) { return t.priority == LOW_REALTIME_PRIORITY; }) == 2)
            break;
        std::this_thread::yield();
    }
    auto threads = sim::kernel::system_threads();
    EXPECT_EQ(threads.size(), threads_before_ + 2);
    EXPECT_EQ(std::count_if(threads.begin(), threads.end(),
                            [](const auto& t) { return t.priority == LOW_REALTIME_PRIORITY; }),
              2);
    EXPECT_EQ(load(1), STATUS_IMAGE_ALREADY_LOADED);
    EXPECT_EQ(sim::kernel::unload_driver(kService), STATUS_SUCCESS);
    expect_nothing_left();
}

TEST_F(Loader, RequestsRunThroughTheDriversWorkerEndToEnd) {
    ASSERT_EQ(load(1), STATUS_SUCCESS);
    link(1);
    HANDLE handle = open();
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    std::vector<uint8_t> sector(512), back(512, 0xEE);
    for (size_t i = 0; i < sector.size(); ++i) sector[i] = static_cast<uint8_t>(i * 7);
    DWORD done = 0;
    ASSERT_TRUE(WriteFile(handle, sector.data(), 512, &done, nullptr));
    EXPECT_EQ(done, 512u);
    OVERLAPPED at_zero{};
    ASSERT_TRUE(ReadFile(handle, back.data(), 512, &done, &at_zero));
    EXPECT_EQ(back, sector);
    // A synchronous handle goes on from where the last transfer ended.
    ASSERT_TRUE(ReadFile(handle, back.data(), 512, &done, nullptr));
    EXPECT_EQ(back, std::vector<uint8_t>(512, 0));
    char text[] = "abcdef";
    char reversed[8] = {};
    ASSERT_TRUE(DeviceIoControl(handle, echo::kIoctlReverse, text, 6, reversed, 8, &done, nullptr));
    EXPECT_EQ(done, 6u);
    EXPECT_STREQ(reversed, "fedcba");
    char short_output[4] = {'x', 'x', 'x', 'x'};
    EXPECT_FALSE(
        DeviceIoControl(handle, echo::kIoctlReverse, text, 6, short_output, 3, &done, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MORE_DATA));
    EXPECT_EQ(done, 3u);
    EXPECT_EQ(std::string(short_output, 4), "fedx");
    char untouched[4] = {'u', 'u', 'u', 'u'};
    EXPECT_FALSE(
        DeviceIoControl(handle, echo::kIoctlFail, nullptr, 0, untouched, 4, &done, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(std::string(untouched, 4), "uuuu");
    EXPECT_TRUE(CloseHandle(handle));
}

TEST_F(Loader, UnloadWaitsForTheLastOpenFileAndRefusesNewOpens) {
    ASSERT_EQ(load(1), STATUS_SUCCESS);
    link(1);
    HANDLE handle = open();
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    std::atomic<bool> unloaded{false};
    std::thread unloader([&] {
        EXPECT_EQ(sim::kernel::unload_driver(kService), STATUS_SUCCESS);
        unloaded = true;
    });
    // Once the unload has begun, the device takes no new file.
    HANDLE other = INVALID_HANDLE_VALUE;
    while (sim::kernel::driver_loaded(kService)) std::this_thread::yield();
    other = open();
    EXPECT_EQ(other, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_SUCH_DEVICE));
    EXPECT_FALSE(unloaded);
    char text[] = "ab";
    char out[2];
    DWORD done = 0;
    EXPECT_TRUE(DeviceIoControl(handle, echo::kIoctlReverse, text, 2, out, 2, &done, nullptr));
    EXPECT_TRUE(CloseHandle(handle));
    unloader.join();
    EXPECT_TRUE(unloaded);
    expect_nothing_left();
}

TEST_F(Loader, AFailedDriverEntryLeavesNothingLoaded) {
    sim::kernel::pool_fail({.tag = "Echo", .skip = 1, .count = 1});
    EXPECT_EQ(load(2), STATUS_INSUFFICIENT_RESOURCES);
    expect_nothing_left();
    sim::kernel::pool_clear_faults();
    EXPECT_EQ(load(2), STATUS_SUCCESS);
}

TEST_F(Loader, AMissingValueGivesTheDriversDefault) {
    sim::registry_create_key(kServiceKey);
    ASSERT_EQ(sim::kernel::load_driver(kService, HALDEN_ECHO_DRIVER), STATUS_SUCCESS);
    EXPECT_EQ(sim::kernel::driver_devices(kService).size(), 1u);
    EXPECT_EQ(sim::kernel::load_driver("NoSuchLibrary", "/nonexistent/libNoSuch.so"),
              STATUS_OBJECT_NAME_NOT_FOUND);
}

// Drivers given by their entry point, for what the loader checks.
PDRIVER_OBJECT seen_driver = nullptr;
std::atomic<bool> entry_on_system_thread{false};

NTSTATUS NTAPI records_its_thread(PDRIVER_OBJECT driver, PUNICODE_STRING) {
    seen_driver = driver;
    entry_on_system_thread = !sim::kernel::system_threads().empty();
    return STATUS_SUCCESS;
}

NTSTATUS NTAPI leaves_a_device(PDRIVER_OBJECT driver, PUNICODE_STRING) {
    driver->DriverUnload = [](PDRIVER_OBJECT) {};
    PDEVICE_OBJECT device;
    return IoCreateDevice(driver, 0, nullptr, FILE_DEVICE_UNKNOWN, 0, FALSE, &device);
}

NTSTATUS NTAPI fails_leaving_a_device(PDRIVER_OBJECT driver, PUNICODE_STRING) {
    PDEVICE_OBJECT device;
    IoCreateDevice(driver, 0, nullptr, FILE_DEVICE_UNKNOWN, 0, FALSE, &device);
    return STATUS_UNSUCCESSFUL;
}

TEST(LoaderChecks, EntryRunsOnASystemThreadAndADriverWithoutUnloadStays) {
    // A driver without an unload routine stays for the life of the process: a name of its own.
    static int loads = 0;
    const std::string service = "KtNoUnload" + std::to_string(++loads);
    entry_on_system_thread = false;
    ASSERT_EQ(sim::kernel::load_driver(service, records_its_thread), STATUS_SUCCESS);
    EXPECT_TRUE(entry_on_system_thread);
    ASSERT_NE(seen_driver, nullptr);
    const std::string name(seen_driver->DriverName.Buffer,
                           seen_driver->DriverName.Buffer + seen_driver->DriverName.Length / 2);
    EXPECT_EQ(name, "\\Driver\\" + service);
    EXPECT_EQ(sim::kernel::unload_driver(service), STATUS_INVALID_DEVICE_REQUEST);
    EXPECT_TRUE(sim::kernel::driver_loaded(service));
    EXPECT_EQ(sim::kernel::unload_driver("KtNeverLoaded"), STATUS_OBJECT_NAME_NOT_FOUND);
}

TEST(LoaderChecks, DevicesLeftBehindStopTheProcess) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(sim::kernel::load_driver("KtFailsLeaving", fails_leaving_a_device),
                 "DriverEntry failed and left device objects");
    EXPECT_DEATH(
        {
            sim::kernel::load_driver("KtLeaves", leaves_a_device);
            sim::kernel::unload_driver("KtLeaves");
        },
        "DRIVER_UNLOADED_WITHOUT_DELETING_DEVICES");
}

}  // namespace
