// The platform pieces under the USB classes, checked as a Windows program would see them:
// device-interface lists, opening a device, overlapped driver calls and their abort, removal, and
// device notifications.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include "platform/testing/notification_controls.h"
#include "platform/win32.h"
#include "tests/support/sim_devices.h"
#include "usb/bytes.h"
#include "wire/transfer_envelope.h"
#include "wire/vendor_control_codes.h"

namespace {

using usbtest::Bus;

struct Listed {
    std::vector<std::string> paths;
    DWORD end_error = 0;
};

Listed list_interfaces(const GUID& guid) {
    Listed result;
    HDEVINFO list =
        SetupDiGetClassDevsA(&guid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    EXPECT_NE(list, INVALID_HANDLE_VALUE);
    for (DWORD i = 0;; ++i) {
        SP_DEVICE_INTERFACE_DATA data{};
        data.cbSize = sizeof data;
        if (!SetupDiEnumDeviceInterfaces(list, nullptr, &guid, i, &data)) {
            result.end_error = GetLastError();
            break;
        }
        DWORD required = 0;
        EXPECT_FALSE(SetupDiGetDeviceInterfaceDetailA(list, &data, nullptr, 0, &required, nullptr));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
        std::vector<uint8_t> block(required);
        auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(block.data());
        detail->cbSize = 8;
        SP_DEVINFO_DATA info{};
        info.cbSize = sizeof info;
        EXPECT_TRUE(
            SetupDiGetDeviceInterfaceDetailA(list, &data, detail, required, nullptr, &info));
        std::string path(reinterpret_cast<const char*>(block.data()) + 4);
        EXPECT_EQ(required, 4 + path.size() + 1);
        result.paths.push_back(path);
    }
    EXPECT_TRUE(SetupDiDestroyDeviceInfoList(list));
    return result;
}

TEST_F(Bus, InterfaceListFollowsPlugAndUnplug) {
    EXPECT_TRUE(list_interfaces(sim::usb::kVendorInterfaceGuid).paths.empty());
    auto first = sim::usb::plug(sim::usb::card_description());
    auto second = sim::usb::plug(sim::usb::card_description(true));
    auto listed = list_interfaces(sim::usb::kVendorInterfaceGuid);
    EXPECT_EQ(listed.end_error, static_cast<DWORD>(ERROR_NO_MORE_ITEMS));
    ASSERT_EQ(listed.paths.size(), 2u);
    EXPECT_EQ(listed.paths[0], first->path());
    EXPECT_EQ(listed.paths[1], second->path());
    EXPECT_EQ(listed.paths[0].substr(0, 4), "\\\\?\\");
    EXPECT_NE(listed.paths[0], listed.paths[1]);

    const GUID other = {1, 2, 3, {4, 5, 6, 7, 8, 9, 10, 11}};
    EXPECT_TRUE(list_interfaces(other).paths.empty());

    first->unplug();
    listed = list_interfaces(sim::usb::kVendorInterfaceGuid);
    ASSERT_EQ(listed.paths.size(), 1u);
    EXPECT_EQ(listed.paths[0], second->path());
}

TEST_F(Bus, InterfaceListChecksRecordSizes) {
    sim::usb::plug(sim::usb::card_description());
    const GUID& guid = sim::usb::kVendorInterfaceGuid;
    EXPECT_EQ(SetupDiGetClassDevsA(&guid, nullptr, nullptr, DIGCF_PRESENT), INVALID_HANDLE_VALUE);
    HDEVINFO list = SetupDiGetClassDevsA(&guid, nullptr, nullptr, 0x12);
    SP_DEVICE_INTERFACE_DATA data{};
    data.cbSize = 28;
    EXPECT_FALSE(SetupDiEnumDeviceInterfaces(list, nullptr, &guid, 0, &data));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_USER_BUFFER));
    data.cbSize = sizeof data;
    ASSERT_TRUE(SetupDiEnumDeviceInterfaces(list, nullptr, &guid, 0, &data));
    std::vector<uint8_t> block(300);
    auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(block.data());
    detail->cbSize = 5;  // the 32-bit size
    EXPECT_FALSE(SetupDiGetDeviceInterfaceDetailA(list, &data, detail, 300, nullptr, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_USER_BUFFER));
    detail->cbSize = 8;
    EXPECT_FALSE(SetupDiGetDeviceInterfaceDetailA(list, &data, detail, 12, nullptr, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    SetupDiDestroyDeviceInfoList(list);
    EXPECT_FALSE(SetupDiDestroyDeviceInfoList(list));
}

TEST_F(Bus, EnumerationFaultFailsOnlyThatEntry) {
    sim::usb::plug(sim::usb::card_description());
    auto broken = sim::usb::plug(sim::usb::card_description());
    sim::usb::plug(sim::usb::card_description());
    broken->set_faults({.enum_error = ERROR_GEN_FAILURE});
    const GUID& guid = sim::usb::kVendorInterfaceGuid;
    HDEVINFO list = SetupDiGetClassDevsA(&guid, nullptr, nullptr, 0x12);
    std::vector<DWORD> results;
    for (DWORD i = 0; i < 4; ++i) {
        SP_DEVICE_INTERFACE_DATA data{};
        data.cbSize = sizeof data;
        results.push_back(
            SetupDiEnumDeviceInterfaces(list, nullptr, &guid, i, &data) ? 0 : GetLastError());
    }
    SetupDiDestroyDeviceInfoList(list);
    EXPECT_EQ(results, (std::vector<DWORD>{0, ERROR_GEN_FAILURE, 0, ERROR_NO_MORE_ITEMS}));
}

HANDLE open(const std::string& path) {
    return CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                       FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                       FILE_FLAG_OVERLAPPED, nullptr);
}

TEST_F(Bus, OpenRefusedByFaultOrUnknownPath) {
    auto card = sim::usb::plug(sim::usb::card_description());
    HANDLE handle = open(card->path());
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    EXPECT_EQ(card->open_handles(), 1u);
    EXPECT_TRUE(CloseHandle(handle));
    EXPECT_EQ(card->open_handles(), 0u);

    card->set_faults({.open_error = ERROR_ACCESS_DENIED});
    EXPECT_EQ(open(card->path()), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(open(card->path() + "x"), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));

    card->set_faults({.close_refused = true});
    handle = open(card->path());
    EXPECT_FALSE(CloseHandle(handle));
    card->clear_faults();
    EXPECT_TRUE(CloseHandle(handle));
}

TEST_F(Bus, SynchronousQueriesAnswerWithTheirSizes) {
    auto card = sim::usb::plug(sim::usb::card_description());
    HANDLE handle = open(card->path());
    uint8_t value[4] = {};
    DWORD returned = 0;
    ASSERT_TRUE(DeviceIoControl(handle, wire::kIoctlGetDriverVersion, value, 4, value, 4, &returned,
                                nullptr));
    EXPECT_EQ(returned, 4u);
    EXPECT_EQ(usb::load_le32(value), 0x01020304u);
    char name[256];
    ASSERT_TRUE(DeviceIoControl(handle, wire::kIoctlGetFriendlyName, name, 256, name, 256,
                                &returned, nullptr));
    EXPECT_EQ(returned, 256u);
    EXPECT_STREQ(name, "Halden USB bridge");
    EXPECT_FALSE(DeviceIoControl(handle, 0x220050, value, 4, value, 4, &returned, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_FUNCTION));
    card->set_faults({.failing_codes = {wire::kIoctlGetDriverVersion}});
    EXPECT_FALSE(DeviceIoControl(handle, wire::kIoctlGetDriverVersion, value, 4, value, 4,
                                 &returned, nullptr));
    CloseHandle(handle);
}

// A direct IN transfer on 0x86 of length bytes, started overlapped.
struct DirectRead {
    uint8_t envelope[wire::envelope::kSize] = {};
    std::vector<uint8_t> data;
    OVERLAPPED overlapped{};
    BOOL started = FALSE;
    DWORD error = 0;

    DirectRead(HANDLE handle, size_t length) : data(length) {
        wire::TransferEnvelope fields;
        fields.endpoint = 0x86;
        fields.encode(envelope);
        overlapped.hEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);
        started = DeviceIoControl(handle, wire::kIoctlDirectTransfer, envelope, sizeof envelope,
                                  data.data(), static_cast<DWORD>(length), nullptr, &overlapped);
        error = GetLastError();
    }
    ~DirectRead() { CloseHandle(overlapped.hEvent); }
    uint32_t usbd_status() const { return usb::load_le32(envelope + wire::envelope::kUsbdStatus); }
};

void abort_endpoint(HANDLE handle, uint8_t address) {
    OVERLAPPED overlapped{};
    EXPECT_TRUE(DeviceIoControl(handle, wire::kIoctlAbortPipe, &address, 1, nullptr, 0, nullptr,
                                &overlapped));
}

TEST_F(Bus, PendingTransferEndsWhenAborted) {
    auto card = usbtest::plug_card();
    HANDLE handle = open(card.device->path());
    DirectRead read(handle, 64);  // nothing queued: the device is not ready
    EXPECT_FALSE(read.started);
    EXPECT_EQ(read.error, static_cast<DWORD>(ERROR_IO_PENDING));
    EXPECT_EQ(card.device->pending_transfers(), 1u);
    DWORD returned = 0;
    EXPECT_FALSE(GetOverlappedResult(handle, &read.overlapped, &returned, FALSE));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_IO_INCOMPLETE));
    EXPECT_EQ(WaitForSingleObject(read.overlapped.hEvent, 20), WAIT_TIMEOUT);

    abort_endpoint(handle, 0x86);
    EXPECT_EQ(WaitForSingleObject(read.overlapped.hEvent, 1000), WAIT_OBJECT_0);
    EXPECT_FALSE(GetOverlappedResult(handle, &read.overlapped, &returned, FALSE));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_OPERATION_ABORTED));
    EXPECT_EQ(read.usbd_status(), sim::usb::kUsbdCanceled);
    EXPECT_EQ(card.device->pending_transfers(), 0u);
    auto transfers = card.device->transfers();
    ASSERT_EQ(transfers.size(), 1u);
    EXPECT_TRUE(transfers[0].aborted);
    CloseHandle(handle);
}

TEST_F(Bus, NotReadyTransferIsAnsweredAfterTheNextRequest) {
    auto card = usbtest::plug_card();
    HANDLE handle = open(card.device->path());
    DirectRead read(handle, 4);
    ASSERT_EQ(read.error, static_cast<DWORD>(ERROR_IO_PENDING));
    card.queue->push({1, 2, 3, 4});
    uint8_t alternate = 0;
    DWORD returned = 0;
    DeviceIoControl(handle, wire::kIoctlGetAltSetting, &alternate, 1, &alternate, 1, &returned,
                    nullptr);
    // Only transfers poll the device again.
    EXPECT_EQ(WaitForSingleObject(read.overlapped.hEvent, 20), WAIT_TIMEOUT);
    DirectRead second(handle, 4);
    EXPECT_EQ(WaitForSingleObject(read.overlapped.hEvent, 1000), WAIT_OBJECT_0);
    EXPECT_TRUE(GetOverlappedResult(handle, &read.overlapped, &returned, FALSE));
    EXPECT_EQ(returned, 4u);
    EXPECT_EQ(read.data, (std::vector<uint8_t>{1, 2, 3, 4}));
    abort_endpoint(handle, 0x86);
    CloseHandle(handle);
}

TEST_F(Bus, ClosingTheHandleCancelsItsPendingTransfers) {
    auto card = usbtest::plug_card();
    HANDLE other = open(card.device->path());
    HANDLE handle = open(card.device->path());
    DirectRead kept(other, 8);
    {
        DirectRead read(handle, 8);
        ASSERT_EQ(read.error, static_cast<DWORD>(ERROR_IO_PENDING));
        EXPECT_TRUE(CloseHandle(handle));
        EXPECT_EQ(WaitForSingleObject(read.overlapped.hEvent, 0), WAIT_OBJECT_0);
        EXPECT_EQ(read.usbd_status(), sim::usb::kUsbdCanceled);
    }
    EXPECT_EQ(card.device->pending_transfers(), 1u);  // the other handle's transfer stays
    EXPECT_TRUE(CloseHandle(other));
    EXPECT_EQ(card.device->pending_transfers(), 0u);
}

TEST_F(Bus, DelayedTransferCompletesFromTheWorker) {
    auto card = usbtest::plug_card();
    card.queue->push({9, 8, 7});
    card.device->set_fault(0x86, {.transfers = 1, .delay_ms = 40});
    HANDLE handle = open(card.device->path());
    auto start = std::chrono::steady_clock::now();
    DirectRead read(handle, 16);
    ASSERT_EQ(read.error, static_cast<DWORD>(ERROR_IO_PENDING));
    EXPECT_EQ(WaitForSingleObject(read.overlapped.hEvent, 2000), WAIT_OBJECT_0);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(40));
    DWORD returned = 0;
    EXPECT_TRUE(GetOverlappedResult(handle, &read.overlapped, &returned, FALSE));
    EXPECT_EQ(returned, 3u);
    EXPECT_EQ(read.usbd_status(), 0u);
    CloseHandle(handle);
}

TEST_F(Bus, UnplugEndsPendingTransfersAndLaterRequests) {
    auto card = usbtest::plug_card();
    HANDLE handle = open(card.device->path());
    DirectRead read(handle, 8);
    ASSERT_EQ(read.error, static_cast<DWORD>(ERROR_IO_PENDING));
    card.device->unplug();
    EXPECT_EQ(WaitForSingleObject(read.overlapped.hEvent, 1000), WAIT_OBJECT_0);
    DWORD returned = 0;
    EXPECT_FALSE(GetOverlappedResult(handle, &read.overlapped, &returned, FALSE));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DEVICE_NOT_CONNECTED));
    uint8_t value[4];
    EXPECT_FALSE(
        DeviceIoControl(handle, wire::kIoctlGetSpeed, value, 4, value, 4, &returned, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DEVICE_NOT_CONNECTED));
    EXPECT_EQ(open(card.device->path()), INVALID_HANDLE_VALUE);
    EXPECT_TRUE(CloseHandle(handle));
}

TEST_F(Bus, BufferedTransferReturnsEnvelopeAndData) {
    auto card = usbtest::plug_card();
    card.queue->push(std::vector<uint8_t>(64, 0x5A));
    HANDLE handle = open(card.device->path());
    std::vector<uint8_t> block(wire::envelope::kSize + 64);
    wire::TransferEnvelope fields;
    fields.endpoint = 0x86;
    fields.data_offset = wire::envelope::kSize;
    fields.data_length = 64;
    fields.encode(block.data());
    DWORD returned = 0;
    ASSERT_TRUE(DeviceIoControl(handle, wire::kIoctlBufferedTransfer, block.data(),
                                static_cast<DWORD>(block.size()), block.data(),
                                static_cast<DWORD>(block.size()), &returned, nullptr));
    EXPECT_EQ(returned, 102u);  // the data offset is counted
    EXPECT_EQ(block[wire::envelope::kSize], 0x5A);
    EXPECT_EQ(block.back(), 0x5A);
    CloseHandle(handle);
}

TEST(Notifications, RegistrationsAreCheckedAndKept) {
    HWND window = reinterpret_cast<HWND>(0x1000);
    DEV_BROADCAST_DEVICEINTERFACE_A filter{};
    filter.dbcc_size = sizeof filter;
    filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    filter.dbcc_classguid = sim::usb::kVendorInterfaceGuid;
    size_t before = sim::notifications_interface_registrations();
    HDEVNOTIFY notification = RegisterDeviceNotificationA(window, &filter, 0);
    ASSERT_NE(notification, nullptr);
    EXPECT_EQ(sim::notifications_interface_registrations(), before + 1);
    EXPECT_EQ(RegisterDeviceNotificationA(nullptr, &filter, 0), nullptr);
    filter.dbcc_size = 8;
    EXPECT_EQ(RegisterDeviceNotificationA(window, &filter, 0), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_DATA));

    sim::notifications_fail_unregister(true);
    EXPECT_FALSE(UnregisterDeviceNotification(notification));
    sim::notifications_fail_unregister(false);
    EXPECT_TRUE(UnregisterDeviceNotification(notification));
    EXPECT_EQ(sim::notifications_interface_registrations(), before);
    EXPECT_FALSE(UnregisterDeviceNotification(notification));
}

}  // namespace
