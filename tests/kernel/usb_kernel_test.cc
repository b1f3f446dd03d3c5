// The simulated USB bridge from kernel mode: its device is reached through the namespace with
// ZwCreateFile and driven with ZwDeviceIoControlFile, as the driver's card client does, and it is
// the same device user mode opens.
#include <cstring>

#include "platform/usb_bus/usb_controls.h"
#include "platform/win32.h"
#include "tests/kernel/kernel_test.h"
#include "tests/support/sim_devices.h"

namespace {

constexpr ULONG kGetAltSetting = 0x220008;
constexpr ULONG kBufferedTransfer = 0x220024;
constexpr size_t kEnvelope = 38;

class KernelCard : public usbtest::Bus {
  protected:
    void SetUp() override {
        usbtest::Bus::SetUp();
        card_ = usbtest::plug_card();
    }
    // The card's path as the driver builds it: "\GLOBAL??\" and the interface path without its
    // "\\?\".
    std::u16string kernel_path() const {
        const std::string path = card_.device->path().substr(4);
        return u"\\GLOBAL??\\" + std::u16string(path.begin(), path.end());
    }
    HANDLE open() {
        Attributes name(kernel_path());
        IO_STATUS_BLOCK iosb;
        HANDLE handle = nullptr;
        EXPECT_EQ(ZwCreateFile(&handle, GENERIC_READ | GENERIC_WRITE, name.get(), &iosb, nullptr,
                               FILE_ATTRIBUTE_NORMAL, FILE_SHARE_READ | FILE_SHARE_WRITE,
                               FILE_OPEN_IF, 0, nullptr, 0),
                  STATUS_SUCCESS);
        return handle;
    }
    usbtest::Card card_;
};

VOID NTAPI signal(PVOID context, PIO_STATUS_BLOCK, ULONG) {
    KeSetEvent(static_cast<PKEVENT>(context), IO_NO_INCREMENT, FALSE);
}

// One request the way the card client sends it: an APC that signals an event, then a wait.
NTSTATUS send(HANDLE handle, ULONG code, std::vector<uint8_t>& buffer, IO_STATUS_BLOCK* iosb) {
    KEVENT done;
    KeInitializeEvent(&done, NotificationEvent, FALSE);
    const auto length = static_cast<ULONG>(buffer.size());
    NTSTATUS status = ZwDeviceIoControlFile(handle, nullptr, signal, &done, iosb, code,
                                            buffer.data(), length, buffer.data(), length);
    if (NT_ERROR(status)) return status;
    LARGE_INTEGER three_seconds;
    three_seconds.QuadPart = -30000000;
    if (KeWaitForSingleObject(&done, Executive, KernelMode, FALSE, &three_seconds) ==
        STATUS_TIMEOUT)
        return STATUS_IO_OPERATION_TIMEOUT;
    return iosb->Status;
}

TEST_F(KernelCard, TheDriverAnswersKernelModeAsItAnswersUserMode) {
    HANDLE kernel = open();
    HANDLE user = CreateFileA(card_.device->path().c_str(), GENERIC_READ | GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_FLAG_OVERLAPPED, nullptr);
    ASSERT_NE(user, INVALID_HANDLE_VALUE);
    EXPECT_EQ(card_.device->open_handles(), 2u);

    std::vector<uint8_t> alternate(1, 0xFF);
    IO_STATUS_BLOCK iosb;
    EXPECT_EQ(send(kernel, kGetAltSetting, alternate, &iosb), STATUS_SUCCESS);
    EXPECT_EQ(iosb.Information, 1u);
    EXPECT_EQ(alternate[0], 0);

    // A buffered IN transfer on 0x86 answered from the card's queue.
    card_.queue->push({1, 2, 3, 4});
    std::vector<uint8_t> block(kEnvelope + 4);
    block[13] = 0x86;       // endpoint
    block[30] = kEnvelope;  // data offset
    block[34] = 4;          // data length
    EXPECT_EQ(send(kernel, kBufferedTransfer, block, &iosb), STATUS_SUCCESS);
    EXPECT_EQ(iosb.Information, kEnvelope + 4);
    EXPECT_EQ(std::vector<uint8_t>(block.begin() + kEnvelope, block.end()),
              (std::vector<uint8_t>{1, 2, 3, 4}));
    EXPECT_EQ(card_.device->transfers().size(), 1u);

    EXPECT_TRUE(CloseHandle(user));
    EXPECT_EQ(ZwClose(kernel), STATUS_SUCCESS);
    EXPECT_EQ(card_.device->open_handles(), 0u);
}

TEST_F(KernelCard, ClosingTheHandleEndsWhatItLeftPendingAndUnplugFailsTheRest) {
    HANDLE handle = open();
    std::vector<uint8_t> block(kEnvelope + 4);
    block[13] = 0x86;
    block[30] = kEnvelope;
    block[34] = 4;
    KEVENT done;
    KeInitializeEvent(&done, NotificationEvent, FALSE);
    IO_STATUS_BLOCK iosb{};
    // Nothing queued: the device is not ready and the transfer stays pending.
    ASSERT_EQ(ZwDeviceIoControlFile(handle, nullptr, signal, &done, &iosb, kBufferedTransfer,
                                    block.data(), static_cast<ULONG>(block.size()), block.data(),
                                    static_cast<ULONG>(block.size())),
              STATUS_PENDING);
    EXPECT_EQ(card_.device->pending_transfers(), 1u);
    EXPECT_EQ(ZwClose(handle), STATUS_SUCCESS);
    EXPECT_EQ(card_.device->pending_transfers(), 0u);
    EXPECT_EQ(KeWaitForSingleObject(&done, Executive, KernelMode, FALSE, nullptr), STATUS_SUCCESS);
    EXPECT_EQ(iosb.Status, STATUS_CANCELLED);

    handle = open();
    card_.device->unplug();
    std::vector<uint8_t> alternate(1);
    EXPECT_EQ(send(handle, kGetAltSetting, alternate, &iosb), STATUS_DEVICE_NOT_CONNECTED);
    EXPECT_EQ(ZwClose(handle), STATUS_SUCCESS);
    Attributes name(kernel_path());
    HANDLE gone;
    EXPECT_EQ(ZwCreateFile(&gone, GENERIC_READ, name.get(), &iosb, nullptr, 0,
                           FILE_SHARE_READ | FILE_SHARE_WRITE, FILE_OPEN_IF, 0, nullptr, 0),
              STATUS_OBJECT_NAME_NOT_FOUND);
}

}  // namespace
