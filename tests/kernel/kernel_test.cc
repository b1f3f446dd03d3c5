#include "tests/kernel/kernel_test.h"

namespace {

struct State {
    std::mutex lock;
    TestDriver::Handler handler;
    std::vector<Seen> seen;
};

State& state() {
    static State* instance = new State;
    return *instance;
}

NTSTATUS NTAPI dispatch(PDEVICE_OBJECT device, PIRP irp) {
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    TestDriver::Handler handler;
    {
        auto& s = state();
        std::lock_guard guard(s.lock);
        s.seen.push_back({stack->MajorFunction, stack->FileObject});
        handler = s.handler;
    }
    if (handler) return handler(device, irp);
    switch (stack->MajorFunction) {
        case IRP_MJ_CREATE:
        case IRP_MJ_CLEANUP:
        case IRP_MJ_CLOSE:
            return TestDriver::complete(irp, STATUS_SUCCESS);
        default:
            return TestDriver::complete(irp, STATUS_INVALID_DEVICE_REQUEST);
    }
}

VOID NTAPI unload(PDRIVER_OBJECT driver) {
    while (driver->DeviceObject) IoDeleteDevice(driver->DeviceObject);
}

NTSTATUS NTAPI entry(PDRIVER_OBJECT driver, PUNICODE_STRING) {
    for (PDRIVER_DISPATCH& routine : driver->MajorFunction) routine = dispatch;
    driver->DriverUnload = unload;
    TestDriver::driver_ = driver;
    return STATUS_SUCCESS;
}

}  // namespace

PDRIVER_OBJECT TestDriver::driver_ = nullptr;

void TestDriver::SetUp() {
    set_handler(nullptr);
    clear_seen();
    ASSERT_EQ(sim::kernel::load_driver("KernelTest", entry), STATUS_SUCCESS);
}

void TestDriver::TearDown() {
    set_handler(nullptr);
    for (auto& name : links_) {
        KernelString string(u"\\??\\" + name);
        IoDeleteSymbolicLink(string.get());
    }
    EXPECT_EQ(sim::kernel::unload_driver("KernelTest"), STATUS_SUCCESS);
}

PDEVICE_OBJECT TestDriver::create_device(const std::u16string& name, ULONG flags,
                                         DEVICE_TYPE type) {
    KernelString string(name);
    PDEVICE_OBJECT device = nullptr;
    EXPECT_EQ(IoCreateDevice(driver_, 0, string.get(), type, 0, FALSE, &device), STATUS_SUCCESS);
    if (device) device->Flags = (device->Flags | flags) & ~DO_DEVICE_INITIALIZING;
    return device;
}

void TestDriver::link(const std::u16string& link, const std::u16string& target) {
    KernelString name(u"\\??\\" + link), to(target);
    ASSERT_EQ(IoCreateSymbolicLink(name.get(), to.get()), STATUS_SUCCESS);
    links_.push_back(link);
}

void TestDriver::set_handler(Handler handler) {
    auto& s = state();
    std::lock_guard guard(s.lock);
    s.handler = std::move(handler);
}

std::vector<Seen> TestDriver::seen() {
    auto& s = state();
    std::lock_guard guard(s.lock);
    return s.seen;
}

void TestDriver::clear_seen() {
    auto& s = state();
    std::lock_guard guard(s.lock);
    s.seen.clear();
}

NTSTATUS TestDriver::complete(PIRP irp, NTSTATUS status, ULONG_PTR information) {
    irp->IoStatus.Status = status;
    irp->IoStatus.Information = information;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}
