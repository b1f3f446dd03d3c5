// The service loader: drivers loaded from a shared library (or given by their entry point) under
// a service name, DriverEntry and the unload routine run on system threads, and the checks a
// bug check would make when a driver leaves devices or threads behind.
#include "platform/ntoskrnl/io/loader.h"

#include <dlfcn.h>
#include <link.h>

#include <map>
#include <mutex>

#include "platform/core/trace.h"
#include "platform/ntoskrnl/cm/registry.h"
#include "platform/ntoskrnl/io/io.h"
#include "platform/ntoskrnl/ke/thread.h"
#include "platform/ntoskrnl/not_implemented.h"
#include "platform/ntoskrnl/ob/handles.h"
#include "platform/ntoskrnl/ob/namespace.h"
#include "platform/ntoskrnl/ps/system_threads.h"
#include "platform/ntoskrnl/rtl/text.h"

namespace ntoskrnl::io {
namespace {

constexpr char kServicesKey[] = "SYSTEM\\CurrentControlSet\\Services\\";

struct LoadedDriver {
    PDRIVER_OBJECT driver;
    void* library;  // dlopen's handle; null for an entry point given in-process
};

struct Loaded {
    std::mutex lock;
    std::map<std::string, LoadedDriver> drivers;  // by upper-cased service name
};

Loaded& loaded() {
    static Loaded* instance = new Loaded;
    return *instance;
}

std::string key_of(const std::string& service) {
    return utf16_to_utf8(upcase(utf8_to_utf16(service)));
}

// Runs routine(argument) on a new system thread and waits for it to end.
template <class Routine>
void run_on_system_thread(Routine routine) {
    struct Call {
        Routine routine;
        static VOID NTAPI start(PVOID context) { static_cast<Call*>(context)->routine(); }
    } call{routine};
    HANDLE handle;
    if (!NT_SUCCESS(PsCreateSystemThread(&handle, THREAD_ALL_ACCESS, nullptr, nullptr, nullptr,
                                         &Call::start, &call)))
        bug_check("IO_MANAGER", "no system thread for a driver's entry or unload");
    NTSTATUS status;
    void* thread = ob::reference_handle(handle, nullptr, &status);
    ZwClose(handle);
    KeWaitForSingleObject(thread, Executive, KernelMode, FALSE, nullptr);
    ob::dereference(thread);
}

// Whether address lies in the shared library behind handle.
bool in_library(const void* address, void* library) {
    Dl_info info;
    link_map* map = nullptr;
    if (!dladdr(address, &info) || dlinfo(library, RTLD_DI_LINKMAP, &map) != 0) return false;
    return map && info.dli_fbase == reinterpret_cast<void*>(map->l_addr);
}

NTSTATUS load(const std::string& service, PDRIVER_INITIALIZE entry, void* library) {
    TRACE("ntoskrnl", "load driver %s", service.c_str());
    {
        auto& l = loaded();
        std::lock_guard guard(l.lock);
        if (l.drivers.count(key_of(service))) return STATUS_IMAGE_ALREADY_LOADED;
    }
    cm::registry_create_key(kServicesKey + service);
    PDRIVER_OBJECT driver;
    NTSTATUS status = create_driver(utf8_to_utf16(service), &driver);
    if (!NT_SUCCESS(status)) return status;
    driver->DriverInit = entry;
    std::u16string path =
        u"\\Registry\\Machine\\System\\CurrentControlSet\\Services\\" + utf8_to_utf16(service);
    UNICODE_STRING registry_path{static_cast<USHORT>(path.size() * sizeof(WCHAR)),
                                 static_cast<USHORT>((path.size() + 1) * sizeof(WCHAR)),
                                 path.data()};
    run_on_system_thread([&] { status = entry(driver, &registry_path); });
    if (!NT_SUCCESS(status)) {
        if (driver->DeviceObject)
            bug_check("DRIVER_LEFT_DEVICES", "DriverEntry failed and left device objects");
        ob::make_temporary(driver);
        ob::dereference(driver);
        return status;
    }
    ready_devices(driver);
    auto& l = loaded();
    std::lock_guard guard(l.lock);
    l.drivers[key_of(service)] = {driver, library};
    return status;
}

}  // namespace

NTSTATUS load_driver(const std::string& service, const std::string& library_path) {
    void* library = dlopen(library_path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!library) return STATUS_OBJECT_NAME_NOT_FOUND;
    auto entry = reinterpret_cast<PDRIVER_INITIALIZE>(dlsym(library, "DriverEntry"));
    if (!entry) {
        dlclose(library);
        return STATUS_INVALID_PARAMETER;
    }
    const NTSTATUS status = load(service, entry, library);
    if (!NT_SUCCESS(status)) dlclose(library);
    return status;
}

NTSTATUS load_driver(const std::string& service, PDRIVER_INITIALIZE entry) {
    return load(service, entry, nullptr);
}

NTSTATUS unload_driver(const std::string& service) {
    TRACE("ntoskrnl", "unload driver %s", service.c_str());
    LoadedDriver driver;
    {
        auto& l = loaded();
        std::lock_guard guard(l.lock);
        auto found = l.drivers.find(key_of(service));
        if (found == l.drivers.end()) return STATUS_OBJECT_NAME_NOT_FOUND;
        if (!found->second.driver->DriverUnload) return STATUS_INVALID_DEVICE_REQUEST;
        driver = found->second;
        set_driver_unloading(driver.driver);
        l.drivers.erase(found);
    }
    PDRIVER_OBJECT object = driver.driver;
    wait_until_devices_closed(object);
    run_on_system_thread([object] { object->DriverUnload(object); });
    if (object->DeviceObject)
        bug_check("DRIVER_UNLOADED_WITHOUT_DELETING_DEVICES", service.c_str());
    if (driver.library) {
        for (const auto& thread : system_threads())
            if (in_library(thread.start_routine, driver.library))
                bug_check("DRIVER_UNLOADED_WITHOUT_CANCELLING_PENDING_OPERATIONS",
                          "a system thread of the driver still runs");
    }
    ob::make_temporary(object);
    ob::dereference(object);
    if (driver.library) dlclose(driver.library);
    return STATUS_SUCCESS;
}

PDRIVER_OBJECT loaded_driver(const std::string& service) {
    auto& l = loaded();
    std::lock_guard guard(l.lock);
    auto found = l.drivers.find(key_of(service));
    return found == l.drivers.end() ? nullptr : found->second.driver;
}

}  // namespace ntoskrnl::io
