// Start-up and unload: the disks "MaxDevices" asks for, their names, type, security and threads,
// a start-up that fails half-way, and unload in every mode.
#include <chrono>
#include <thread>

#include "platform/testing/registry_controls.h"
#include "tests/support/orvik_test.h"

namespace {

// "D:P(A;;GA;;;SY)(A;;GA;;;BA)(A;;GA;;;BU)" as applied: generic-all is a file's all access.
constexpr char kDacl[] =
    "D:P(A;;0x1f01ff;;;S-1-5-18)(A;;0x1f01ff;;;S-1-5-32-544)(A;;0x1f01ff;;;S-1-5-32-545)";

std::vector<std::string> disk_names(unsigned count) {
    std::vector<std::string> names;
    for (unsigned i = count; i >= 1; --i)
        names.push_back("\\Device\\orvik\\device" + std::to_string(i));
    return names;
}

// Waits (with a wide margin) until every system thread has raised itself to priority 16.
bool threads_at_priority_16(size_t count) {
    for (int i = 0; i < 1000; ++i) {
        auto threads = sim::kernel::system_threads();
        bool all = threads.size() == count;
        for (const auto& t : threads) all = all && t.priority == 16;
        if (all) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

struct CountCase {
    const char* name;
    std::optional<uint32_t> max_devices;
    unsigned disks;
};

class OrvikDiskCount : public Orvik, public ::testing::WithParamInterface<CountCase> {};

TEST_P(OrvikDiskCount, MaxDevicesDecidesTheDisks) {
    ASSERT_EQ(load(GetParam().max_devices), STATUS_SUCCESS);
    const unsigned count = GetParam().disks;
    EXPECT_TRUE(sim::kernel::object_exists("\\Device\\orvik"));
    auto devices = sim::kernel::driver_devices(kService);
    std::vector<std::string> names;
    for (const auto& d : devices) {
        names.push_back(d.name);
        EXPECT_EQ(d.type, static_cast<DEVICE_TYPE>(FILE_DEVICE_DISK));
        EXPECT_EQ(d.characteristics, 0u);
        EXPECT_TRUE(d.flags & DO_DIRECT_IO);
        EXPECT_EQ(d.security, kDacl);
    }
    EXPECT_EQ(names, disk_names(count));  // newest first
    // A worker per disk and the hardware-crypto thread.
    EXPECT_TRUE(threads_at_priority_16(count + 1));
    EXPECT_EQ(sim::kernel::debug_output(),
              std::vector<std::string>{"GetCrypteEnableFromRegistry: g_dwEnableCrypte: 1.\n"});
    // device0 and the number after the last name no disk.
    EXPECT_EQ(disk(0), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(disk(count + 1), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    for (unsigned i = 1; i <= count; ++i) EXPECT_NE(disk(i), INVALID_HANDLE_VALUE) << i;
}

INSTANTIATE_TEST_SUITE_P(Orvik, OrvikDiskCount,
                         ::testing::Values(CountCase{"Absent", std::nullopt, 3},
                                           CountCase{"Zero", 0, 0}, CountCase{"One", 1, 1},
                                           CountCase{"Five", 5, 5}),
                         [](const auto& info) { return std::string(info.param.name); });

// A 4-byte REG_BINARY would fill the count as a DWORD does; a string would be taken for a counted
// string at the count's place.
TEST_F(Orvik, MaxDevicesOfAnotherTypeCountsAsAbsent) {
    for (uint32_t type : {REG_BINARY, REG_SZ}) {
        SCOPED_TRACE(type);
        sim::registry_set_value(kServiceKey, "MaxDevices", type, {'7', 0, 0, 0});
        ASSERT_EQ(load(std::nullopt), STATUS_SUCCESS);
        EXPECT_EQ(sim::kernel::driver_devices(kService).size(), 3u);
        unload();
    }
}

// The second disk's write work item cannot be had: start-up fails with nothing left of the first
// disk or the directory.
TEST_F(Orvik, FailedStartUpLeavesNothing) {
    const size_t handles = sim::kernel::kernel_handles();
    sim::kernel::pool_fail({.tag = "Orvk", .min_bytes = 0x300000, .skip = 3, .count = 1});
    EXPECT_EQ(load(2), STATUS_INSUFFICIENT_RESOURCES);
    EXPECT_FALSE(sim::kernel::driver_loaded(kService));
    EXPECT_FALSE(sim::kernel::object_exists("\\Device\\orvik"));
    EXPECT_TRUE(sim::kernel::system_threads().empty());
    EXPECT_EQ(sim::kernel::pool_live_bytes("Orvk"), 0u);
    EXPECT_EQ(sim::kernel::kernel_handles(), handles);
}

// Without the hardware-crypto thread (its context is the fourth allocation of a one-disk start)
// the driver still starts; card mode is then refused at OPEN, software mode works.
TEST_F(Orvik, WithoutTheHardwareCryptoThreadCardModeIsRefused) {
    sim::kernel::pool_fail({.tag = "Orvk", .min_bytes = 0, .skip = 3, .count = 1});
    ASSERT_EQ(load(1), STATUS_SUCCESS);
    sim::kernel::pool_clear_faults();
    EXPECT_EQ(sim::kernel::system_threads().size(), 1u);
    HANDLE d = disk(1);
    MountRecord card = soft_record("card.img", 1 << 20);
    card.soft = false;
    EXPECT_EQ(attach(d, card), error_of(STATUS_NO_SUCH_DEVICE));
    EXPECT_EQ(attach(d, soft_record("soft.img", 1 << 20)), 0u);
}

}  // namespace
