// The I/O manager as drivers and callers see it on Windows: the requests of an open file (create,
// cleanup and close at the last handle), buffered, direct and neither I/O, pending and
// completion in Windows' order, and the faults a bug check stops.
#include <atomic>
#include <cstring>
#include <thread>

#include "platform/win32.h"
#include "tests/kernel/kernel_test.h"
#include "tests/support/test_folder.h"

namespace {

constexpr DWORD kBuffered = CTL_CODE(FILE_DEVICE_UNKNOWN, 0x800, METHOD_BUFFERED, FILE_ANY_ACCESS);
constexpr DWORD kNeither = CTL_CODE(FILE_DEVICE_UNKNOWN, 0x801, METHOD_NEITHER, FILE_ANY_ACCESS);
constexpr DWORD kOutDirect =
    CTL_CODE(FILE_DEVICE_UNKNOWN, 0x802, METHOD_OUT_DIRECT, FILE_ANY_ACCESS);

class Io : public TestDriver {
  protected:
    void SetUp() override {
        TestDriver::SetUp();
        device_ = create_device(u"\\Device\\KtIo");
        link(u"KtIo", u"\\Device\\KtIo");
    }
    HANDLE open(DWORD flags = 0) {
        return CreateFileA("\\\\.\\KtIo", GENERIC_READ | GENERIC_WRITE,
                           FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, flags,
                           nullptr);
    }
    // A kernel handle of the device, asynchronous unless options say otherwise.
    HANDLE open_kernel(ULONG options = 0) {
        Attributes object(u"\\??\\KtIo");
        IO_STATUS_BLOCK iosb;
        HANDLE handle = nullptr;
        EXPECT_EQ(ZwCreateFile(&handle, GENERIC_READ | GENERIC_WRITE | SYNCHRONIZE, object.get(),
                               &iosb, nullptr, 0, 0, FILE_OPEN, options, nullptr, 0),
                  STATUS_SUCCESS);
        return handle;
    }
    // Control requests go pending and wait in *held for the test to complete them.
    static void hold_device_controls(std::atomic<PIRP>* held) {
        set_handler([held](PDEVICE_OBJECT, PIRP irp) {
            if (IoGetCurrentIrpStackLocation(irp)->MajorFunction != IRP_MJ_DEVICE_CONTROL)
                return complete(irp, STATUS_SUCCESS);
            IoMarkIrpPending(irp);
            *held = irp;
            return STATUS_PENDING;
        });
    }
    static std::vector<UCHAR> majors() {
        std::vector<UCHAR> out;
        for (const auto& s : seen()) out.push_back(s.major);
        return out;
    }
    PDEVICE_OBJECT device_ = nullptr;
};

TEST(DefaultDispatch, EveryMajorFunctionStartsAsAnInvalidDeviceRequest) {
    static const auto entry = [](PDRIVER_OBJECT driver, PUNICODE_STRING) -> NTSTATUS {
        KernelString name(u"\\Device\\KtPlain"), link(u"\\??\\KtPlain");
        PDEVICE_OBJECT device;
        NTSTATUS status =
            IoCreateDevice(driver, 0, name.get(), FILE_DEVICE_UNKNOWN, 0, FALSE, &device);
        if (NT_SUCCESS(status)) status = IoCreateSymbolicLink(link.get(), name.get());
        driver->MajorFunction[IRP_MJ_CREATE] = [](PDEVICE_OBJECT, PIRP irp) -> NTSTATUS {
            return TestDriver::complete(irp, STATUS_SUCCESS);
        };
        driver->MajorFunction[IRP_MJ_CLOSE] = driver->MajorFunction[IRP_MJ_CREATE];
        driver->DriverUnload = [](PDRIVER_OBJECT driver) {
            KernelString link(u"\\??\\KtPlain");
            IoDeleteSymbolicLink(link.get());
            IoDeleteDevice(driver->DeviceObject);
        };
        return status;
    };
    ASSERT_EQ(sim::kernel::load_driver("KtPlain", +entry), STATUS_SUCCESS);
    HANDLE handle =
        CreateFileA("\\\\.\\KtPlain", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    DWORD returned = 0;
    char buffer[8];
    EXPECT_FALSE(DeviceIoControl(handle, kBuffered, nullptr, 0, buffer, 8, &returned, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_FUNCTION));
    EXPECT_FALSE(ReadFile(handle, buffer, 8, &returned, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_FUNCTION));
    EXPECT_TRUE(CloseHandle(handle));  // its refused cleanup does not fail the close
    EXPECT_EQ(sim::kernel::unload_driver("KtPlain"), STATUS_SUCCESS);
}

TEST_F(Io, CleanupThenCloseAtTheLastHandleOfEachFile) {
    HANDLE first = open(), second = open();
    ASSERT_NE(first, INVALID_HANDLE_VALUE);
    ASSERT_NE(second, INVALID_HANDLE_VALUE);
    EXPECT_EQ(device_->ReferenceCount, 2);
    auto opened = seen();
    ASSERT_EQ(opened.size(), 2u);
    EXPECT_NE(opened[0].file, opened[1].file);
    clear_seen();
    EXPECT_TRUE(CloseHandle(first));
    auto closed = seen();
    ASSERT_EQ(closed.size(), 2u);
    EXPECT_EQ(closed[0].major, IRP_MJ_CLEANUP);
    EXPECT_EQ(closed[1].major, IRP_MJ_CLOSE);
    EXPECT_EQ(closed[0].file, opened[0].file);
    EXPECT_EQ(closed[1].file, opened[0].file);
    EXPECT_EQ(device_->ReferenceCount, 1);
    EXPECT_TRUE(CloseHandle(second));
    EXPECT_EQ(device_->ReferenceCount, 0);
    EXPECT_FALSE(CloseHandle(second));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

TEST_F(Io, CloseWaitsForTheRequestsStillPending) {
    std::atomic<PIRP> held{nullptr};
    hold_device_controls(&held);
    HANDLE handle = open(FILE_FLAG_OVERLAPPED);
    OVERLAPPED overlapped{};
    overlapped.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    EXPECT_FALSE(DeviceIoControl(handle, kBuffered, nullptr, 0, nullptr, 0, nullptr, &overlapped));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_IO_PENDING));
    clear_seen();
    EXPECT_TRUE(CloseHandle(handle));
    EXPECT_EQ(majors(), std::vector<UCHAR>{IRP_MJ_CLEANUP});
    EXPECT_EQ(sim::kernel::live_irps(), 1u);
    complete(held, STATUS_SUCCESS);
    EXPECT_EQ(majors(), (std::vector<UCHAR>{IRP_MJ_CLEANUP, IRP_MJ_CLOSE}));
    EXPECT_EQ(WaitForSingleObject(overlapped.hEvent, 0), WAIT_OBJECT_0);
    EXPECT_EQ(sim::kernel::live_irps(), 0u);
    CloseHandle(overlapped.hEvent);
}

TEST_F(Io, BufferedOutputIsCopiedBackUnlessTheStatusIsAnError) {
    struct Case {
        const char* name;
        NTSTATUS status;
        ULONG_PTR information;
        BOOL result;
        DWORD error;
        DWORD returned;  // 0xDEAD: not written
        size_t copied;   // bytes of the output that changed
    };
    const Case cases[] = {
        {"success", STATUS_SUCCESS, 5, TRUE, 0, 5, 5},
        {"warning", STATUS_BUFFER_OVERFLOW, 8, FALSE, ERROR_MORE_DATA, 8, 8},
        {"error", STATUS_INVALID_PARAMETER, 8, FALSE, ERROR_INVALID_PARAMETER, 0xDEAD, 0},
    };
    for (const auto& c : cases) {
        set_handler([&](PDEVICE_OBJECT, PIRP irp) {
            PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
            if (stack->MajorFunction != IRP_MJ_DEVICE_CONTROL) return complete(irp, STATUS_SUCCESS);
            // One system buffer of max(input, output) holding the input.
            auto* buffer = static_cast<uint8_t*>(irp->AssociatedIrp.SystemBuffer);
            EXPECT_EQ(stack->Parameters.DeviceIoControl.InputBufferLength, 3u);
            EXPECT_EQ(stack->Parameters.DeviceIoControl.OutputBufferLength, 8u);
            EXPECT_EQ(std::memcmp(buffer, "abc", 3), 0);
            std::memset(buffer, 0x5A, 8);
            return complete(irp, c.status, c.information);
        });
        HANDLE handle = open();
        uint8_t output[8];
        std::memset(output, 0xAA, sizeof output);
        DWORD returned = 0xDEAD;
        EXPECT_EQ(DeviceIoControl(handle, kBuffered, const_cast<char*>("abc"), 3, output, 8,
                                  &returned, nullptr),
                  c.result)
            << c.name;
        if (!c.result) {
            EXPECT_EQ(GetLastError(), c.error) << c.name;
        }
        EXPECT_EQ(returned, c.returned) << c.name;
        for (size_t i = 0; i < sizeof output; ++i)
            EXPECT_EQ(output[i], i < c.copied ? 0x5A : 0xAA) << c.name << " byte " << i;
        CloseHandle(handle);
    }
}

TEST_F(Io, NeitherAndDirectMethodsHandOverTheCallersBuffers) {
    uint8_t input[4] = {1, 2, 3, 4};
    uint8_t output[16] = {};
    set_handler([&](PDEVICE_OBJECT, PIRP irp) {
        PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
        if (stack->MajorFunction != IRP_MJ_DEVICE_CONTROL) return complete(irp, STATUS_SUCCESS);
        const auto& p = stack->Parameters.DeviceIoControl;
        if (p.IoControlCode == kNeither) {
            EXPECT_EQ(p.Type3InputBuffer, input);
            EXPECT_EQ(irp->UserBuffer, output);
            return complete(irp, STATUS_SUCCESS, 0);
        }
        // METHOD_OUT_DIRECT: the input in a system buffer, the output described by an MDL.
        EXPECT_NE(irp->AssociatedIrp.SystemBuffer, input);
        EXPECT_EQ(std::memcmp(irp->AssociatedIrp.SystemBuffer, input, 4), 0);
        EXPECT_EQ(MmGetMdlByteCount(irp->MdlAddress), sizeof output);
        EXPECT_EQ(MmGetMdlVirtualAddress(irp->MdlAddress), output);
        PVOID mapped = MmGetSystemAddressForMdlSafe(irp->MdlAddress, NormalPagePriority);
        if (!mapped) return complete(irp, STATUS_INSUFFICIENT_RESOURCES);
        std::memset(mapped, 7, sizeof output);
        return complete(irp, STATUS_SUCCESS, sizeof output);
    });
    HANDLE handle = open();
    DWORD returned = 0;
    EXPECT_TRUE(DeviceIoControl(handle, kNeither, input, 4, output, 16, &returned, nullptr));
    EXPECT_TRUE(DeviceIoControl(handle, kOutDirect, input, 4, output, 16, &returned, nullptr));
    EXPECT_EQ(returned, 16u);
    EXPECT_EQ(output[15], 7);
    sim::kernel::fail_mdl_mappings(1);
    EXPECT_FALSE(DeviceIoControl(handle, kOutDirect, input, 4, output, 16, &returned, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_SYSTEM_RESOURCES));
    EXPECT_TRUE(DeviceIoControl(handle, kOutDirect, input, 4, output, 16, &returned, nullptr));
    CloseHandle(handle);
}

TEST_F(Io, ReadsAndWritesFollowTheDevicesBufferingAndTheFilePosition) {
    std::vector<std::pair<ULONG, LONGLONG>> transfers;
    set_handler([&](PDEVICE_OBJECT device, PIRP irp) {
        PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
        if (stack->MajorFunction != IRP_MJ_READ) return complete(irp, STATUS_SUCCESS);
        const ULONG length = stack->Parameters.Read.Length;
        transfers.emplace_back(length, stack->Parameters.Read.ByteOffset.QuadPart);
        void* buffer = (device->Flags & DO_DIRECT_IO)
                           ? MmGetSystemAddressForMdlSafe(irp->MdlAddress, NormalPagePriority)
                           : irp->AssociatedIrp.SystemBuffer;
        std::memset(buffer, 'r', length);
        return complete(irp, STATUS_SUCCESS, length / 2);  // half of it is there
    });
    char buffer[64];
    for (ULONG flags : {DO_DIRECT_IO, DO_BUFFERED_IO}) {
        device_->Flags = (device_->Flags & ~(DO_DIRECT_IO | DO_BUFFERED_IO)) | flags;
        transfers.clear();
        HANDLE handle = open();  // synchronous: reads follow its position
        std::memset(buffer, 0, sizeof buffer);
        DWORD done = 0;
        EXPECT_TRUE(ReadFile(handle, buffer, 20, &done, nullptr));
        EXPECT_EQ(done, 10u);
        EXPECT_TRUE(ReadFile(handle, buffer, 20, &done, nullptr));
        EXPECT_EQ(buffer[9], 'r');
        // A buffered read copies back what the driver says it read; a direct one lets it write.
        EXPECT_EQ(buffer[10], flags == DO_DIRECT_IO ? 'r' : 0);
        CloseHandle(handle);
        EXPECT_EQ(transfers, (std::vector<std::pair<ULONG, LONGLONG>>{{20, 0}, {20, 10}}));
    }
    // An asynchronous handle takes its offset from the OVERLAPPED record, and needs one.
    transfers.clear();
    HANDLE handle = open(FILE_FLAG_OVERLAPPED);
    OVERLAPPED overlapped{};
    overlapped.Offset = 0x200;
    overlapped.OffsetHigh = 1;
    DWORD done = 0;
    EXPECT_TRUE(ReadFile(handle, buffer, 8, &done, &overlapped));
    EXPECT_EQ(done, 4u);
    EXPECT_FALSE(ReadFile(handle, buffer, 8, &done, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    CloseHandle(handle);
    EXPECT_EQ(transfers, (std::vector<std::pair<ULONG, LONGLONG>>{{8, 0x100000200LL}}));
}

struct InformationCase {
    const char* name;
    bool host;  // a host file, else the device
    FILE_INFORMATION_CLASS type;
    ULONG_PTR record;  // its size on Windows x64
};

// A query writes its record and reports in the status block how many bytes that was, whatever
// room the buffer had.
TEST_F(Io, InformationQueriesReportTheBytesOfTheirRecord) {
    TestFolder folder;
    folder.write("f", "12345");
    const std::string win = "\\??\\" + folder.win("f");
    Attributes name(std::u16string(win.begin(), win.end()));
    IO_STATUS_BLOCK iosb;
    HANDLE host = nullptr;
    ASSERT_EQ(ZwCreateFile(&host, GENERIC_READ | SYNCHRONIZE, name.get(), &iosb, nullptr, 0,
                           FILE_SHARE_READ, FILE_OPEN, FILE_SYNCHRONOUS_IO_NONALERT, nullptr, 0),
              STATUS_SUCCESS);
    HANDLE device = open_kernel(FILE_SYNCHRONOUS_IO_NONALERT);
    const InformationCase cases[] = {
        {"host basic", true, FileBasicInformation, 40},
        {"host standard", true, FileStandardInformation, 24},
        {"host position", true, FilePositionInformation, 8},
        {"host alignment", true, FileAlignmentInformation, 4},
        {"device position", false, FilePositionInformation, 8},
        {"device alignment", false, FileAlignmentInformation, 4},
    };
    for (const auto& c : cases) {
        uint8_t buffer[128];
        iosb.Status = STATUS_PENDING;
        iosb.Information = 0xDEAD;
        EXPECT_EQ(
            ZwQueryInformationFile(c.host ? host : device, &iosb, buffer, sizeof buffer, c.type),
            STATUS_SUCCESS)
            << c.name;
        EXPECT_EQ(iosb.Status, STATUS_SUCCESS) << c.name;
        EXPECT_EQ(iosb.Information, c.record) << c.name;
    }
    ZwClose(host);
    ZwClose(device);
}

TEST_F(Io, NoBufferingHandlesTransferWholeSectors) {
    IoDeleteDevice(device_);
    device_ = create_device(u"\\Device\\KtIo", DO_DIRECT_IO, FILE_DEVICE_DISK);
    ASSERT_EQ(device_->SectorSize, 512);
    set_handler([](PDEVICE_OBJECT, PIRP irp) {
        PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
        return complete(irp, STATUS_SUCCESS,
                        stack->MajorFunction == IRP_MJ_WRITE ? stack->Parameters.Write.Length : 0);
    });
    HANDLE handle = open(FILE_FLAG_NO_BUFFERING);
    static uint8_t sector[1024];
    DWORD done = 0;
    EXPECT_TRUE(WriteFile(handle, sector, 1024, &done, nullptr));
    EXPECT_FALSE(WriteFile(handle, sector, 100, &done, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    CloseHandle(handle);
}

// Completion order as a Zw caller sees it: at the end of a pending request the output is copied,
// the status block written and the file signalled, and only then, inside the issuing thread's
// next wait, its APC runs.
struct ApcRecord {
    std::thread::id thread;
    IO_STATUS_BLOCK seen{};
    uint8_t output_first = 0;
    uint8_t* output = nullptr;
    bool ran = false;
};

VOID NTAPI record_apc(PVOID context, PIO_STATUS_BLOCK iosb, ULONG) {
    auto* record = static_cast<ApcRecord*>(context);
    record->thread = std::this_thread::get_id();
    record->seen = *iosb;
    record->output_first = record->output[0];
    record->ran = true;
}

TEST_F(Io, PendingRequestsEndInWindowsOrderAndTheirApcRunsInTheIssuersWait) {
    std::atomic<PIRP> held{nullptr};
    hold_device_controls(&held);
    HANDLE handle = open_kernel();
    uint8_t output[4] = {};
    ApcRecord record;
    record.output = output;
    IO_STATUS_BLOCK iosb;
    iosb.Status = 0x1234;
    ASSERT_EQ(ZwDeviceIoControlFile(handle, nullptr, record_apc, &record, &iosb, kBuffered, nullptr,
                                    0, output, 4),
              STATUS_PENDING);
    EXPECT_EQ(iosb.Status, 0x1234);
    std::thread([&] {
        PIRP irp = held;
        std::memset(irp->AssociatedIrp.SystemBuffer, 9, 4);
        complete(irp, STATUS_SUCCESS, 4);
    }).join();
    EXPECT_EQ(iosb.Status, STATUS_SUCCESS);
    EXPECT_EQ(iosb.Information, 4u);
    EXPECT_EQ(output[3], 9);
    EXPECT_FALSE(record.ran);  // not before this thread waits
    PFILE_OBJECT file;
    ASSERT_EQ(ObReferenceObjectByHandle(handle, 0, nullptr, KernelMode,
                                        reinterpret_cast<PVOID*>(&file), nullptr),
              STATUS_SUCCESS);
    LARGE_INTEGER now{};
    EXPECT_EQ(KeWaitForSingleObject(&file->Event, Executive, KernelMode, FALSE, &now),
              STATUS_SUCCESS);
    ObDereferenceObject(file);
    EXPECT_TRUE(record.ran);
    EXPECT_EQ(record.thread, std::this_thread::get_id());
    EXPECT_EQ(record.seen.Status, STATUS_SUCCESS);
    EXPECT_EQ(record.output_first, 9);
    ZwClose(handle);
}

TEST_F(Io, RequestsThatEndAtOnceQueueTheirApcOnlyWithoutAnError) {
    NTSTATUS answer = STATUS_SUCCESS;
    set_handler([&](PDEVICE_OBJECT, PIRP irp) {
        if (IoGetCurrentIrpStackLocation(irp)->MajorFunction != IRP_MJ_DEVICE_CONTROL)
            return complete(irp, STATUS_SUCCESS);
        return complete(irp, answer, 0);
    });
    HANDLE handle = open_kernel();
    for (NTSTATUS status : {STATUS_SUCCESS, STATUS_INVALID_PARAMETER}) {
        answer = status;
        uint8_t output[1];
        ApcRecord record;
        record.output = output;
        IO_STATUS_BLOCK iosb;
        iosb.Status = 0x1234;
        EXPECT_EQ(ZwDeviceIoControlFile(handle, nullptr, record_apc, &record, &iosb, kBuffered,
                                        nullptr, 0, output, 1),
                  status);
        KEVENT event;
        KeInitializeEvent(&event, NotificationEvent, TRUE);
        KeWaitForSingleObject(&event, Executive, KernelMode, FALSE, nullptr);
        EXPECT_EQ(record.ran, NT_SUCCESS(status));
        EXPECT_EQ(iosb.Status, NT_SUCCESS(status) ? STATUS_SUCCESS : 0x1234);
    }
    ZwClose(handle);
}

TEST_F(Io, DevicesAreListedNewestFirstAndOpenedOnlyWhenReady) {
    PDEVICE_OBJECT second = create_device(u"\\Device\\KtSecond");
    EXPECT_EQ(driver_->DeviceObject, second);
    EXPECT_EQ(second->NextDevice, device_);
    auto devices = sim::kernel::driver_devices("KernelTest");
    ASSERT_EQ(devices.size(), 2u);
    EXPECT_EQ(devices[0].name, "\\Device\\KtSecond");
    EXPECT_EQ(devices[1].name, "\\Device\\KtIo");

    KernelString name(u"\\Device\\KtSecure"), sddl(u"D:P(A;;GA;;;SY)(A;;GA;;;BA)(A;;GA;;;BU)");
    KernelString bad_sddl(u"D:(A;;GA;;;SY)");
    PDEVICE_OBJECT secure;
    EXPECT_EQ(IoCreateDeviceSecure(driver_, 24, name.get(), FILE_DEVICE_DISK, 0, TRUE,
                                   bad_sddl.get(), nullptr, &secure),
              STATUS_INVALID_PARAMETER);
    ASSERT_EQ(IoCreateDeviceSecure(driver_, 24, name.get(), FILE_DEVICE_DISK, 0, TRUE, sddl.get(),
                                   nullptr, &secure),
              STATUS_SUCCESS);
    EXPECT_EQ(IoCreateDevice(driver_, 0, name.get(), FILE_DEVICE_DISK, 0, FALSE, &second),
              STATUS_OBJECT_NAME_COLLISION);
    KernelString orphan(u"\\Device\\KtNoDirectory\\device1");
    EXPECT_EQ(IoCreateDevice(driver_, 0, orphan.get(), FILE_DEVICE_DISK, 0, FALSE, &second),
              STATUS_OBJECT_PATH_NOT_FOUND);
    devices = sim::kernel::driver_devices("KernelTest");
    ASSERT_EQ(devices.size(), 3u);
    EXPECT_EQ(
        devices[0].security,
        "D:P(A;;0x1f01ff;;;S-1-5-18)(A;;0x1f01ff;;;S-1-5-32-544)(A;;0x1f01ff;;;S-1-5-32-545)");
    EXPECT_EQ(devices[0].extension_size, 24u);
    EXPECT_EQ(devices[0].flags, ULONG{DO_DEVICE_INITIALIZING | DO_EXCLUSIVE | DO_DEVICE_HAS_NAME});
    const auto* extension = static_cast<const uint8_t*>(secure->DeviceExtension);
    EXPECT_TRUE(std::all_of(extension, extension + 24, [](uint8_t b) { return b == 0; }));

    // Still initialising: no open; an exclusive device: one open at a time.
    link(u"KtSecure", u"\\Device\\KtSecure");
    auto open_secure = [] {
        return CreateFileA("\\\\.\\KtSecure", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    };
    EXPECT_EQ(open_secure(), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_SUCH_DEVICE));
    secure->Flags &= ~DO_DEVICE_INITIALIZING;
    HANDLE first = open_secure();
    EXPECT_NE(first, INVALID_HANDLE_VALUE);
    EXPECT_EQ(open_secure(), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    CloseHandle(first);
}

class IoFaults : public Io {
  protected:
    void SetUp() override {
        GTEST_FLAG_SET(death_test_style, "threadsafe");
        Io::SetUp();
    }
};

TEST_F(IoFaults, ASecondCompletionOfOneIrpStopsTheProcess) {
    set_handler([](PDEVICE_OBJECT, PIRP irp) {
        if (IoGetCurrentIrpStackLocation(irp)->MajorFunction != IRP_MJ_DEVICE_CONTROL)
            return complete(irp, STATUS_SUCCESS);
        complete(irp, STATUS_SUCCESS);
        return complete(irp, STATUS_SUCCESS);
    });
    HANDLE handle = open();
    DWORD returned;
    EXPECT_DEATH(DeviceIoControl(handle, kBuffered, nullptr, 0, nullptr, 0, &returned, nullptr),
                 "MULTIPLE_IRP_COMPLETE_REQUESTS");
    CloseHandle(handle);
}

TEST_F(IoFaults, PendingWithoutMarkingOrReturningWithoutCompletingStopsTheProcess) {
    HANDLE handle = open();
    DWORD returned;
    set_handler([](PDEVICE_OBJECT, PIRP) { return STATUS_PENDING; });
    EXPECT_DEATH(DeviceIoControl(handle, kBuffered, nullptr, 0, nullptr, 0, &returned, nullptr),
                 "without IoMarkIrpPending");
    set_handler([](PDEVICE_OBJECT, PIRP) { return STATUS_SUCCESS; });
    EXPECT_DEATH(DeviceIoControl(handle, kBuffered, nullptr, 0, nullptr, 0, &returned, nullptr),
                 "without completing");
    set_handler(nullptr);
    CloseHandle(handle);
}

}  // namespace
