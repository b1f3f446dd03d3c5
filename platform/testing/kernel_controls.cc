#include "platform/testing/kernel_controls.h"

#include "platform/ntoskrnl/dbg/dbgprint.h"
#include "platform/ntoskrnl/io/io.h"
#include "platform/ntoskrnl/io/loader.h"
#include "platform/ntoskrnl/mm/mdl.h"
#include "platform/ntoskrnl/mm/routine_address.h"
#include "platform/ntoskrnl/ob/handles.h"
#include "platform/ntoskrnl/ob/namespace.h"
#include "platform/ntoskrnl/ob/object.h"
#include "platform/ntoskrnl/ps/system_threads.h"
#include "platform/ntoskrnl/rtl/security_descriptor.h"
#include "platform/ntoskrnl/rtl/text.h"

namespace sim::kernel {

using namespace ntoskrnl;

NTSTATUS load_driver(const std::string& service, const std::string& library_path) {
    return io::load_driver(service, library_path);
}

NTSTATUS load_driver(const std::string& service, PDRIVER_INITIALIZE entry) {
    return io::load_driver(service, entry);
}

NTSTATUS unload_driver(const std::string& service) {
    return io::unload_driver(service);
}

bool driver_loaded(const std::string& service) {
    return io::loaded_driver(service) != nullptr;
}

std::vector<DeviceInfo> driver_devices(const std::string& service) {
    PDRIVER_OBJECT driver = io::loaded_driver(service);
    if (!driver) return {};
    std::vector<DeviceInfo> devices;
    for (const auto& d : io::driver_devices(driver)) {
        const std::vector<uint8_t> security = ob::security_descriptor(d.device);
        devices.push_back({utf16_to_utf8(ob::full_name(d.device)), d.device->DeviceType,
                           d.device->Characteristics, d.device->Flags, d.extension_size,
                           security.empty() ? "" : security_descriptor_text(security.data()),
                           d.device->ReferenceCount});
    }
    return devices;
}

std::string security_descriptor_text(const void* descriptor) {
    security::Descriptor d;
    if (!security::decode(static_cast<const uint8_t*>(descriptor), &d)) return "(not a descriptor)";
    return security::sddl_text(d);
}

std::vector<SystemThreadInfo> system_threads() {
    std::vector<SystemThreadInfo> threads;
    for (const auto& thread : ntoskrnl::system_threads())
        threads.push_back({thread.priority, thread.extended_state});
    return threads;
}

ExtendedStateUse extended_state_use() {
    return ntoskrnl::extended_state_use();
}

size_t live_irps() {
    return io::live_irps();
}

size_t kernel_handles() {
    return ob::kernel_handles();
}

bool object_exists(const std::string& path) {
    ob::Lookup found;
    if (!NT_SUCCESS(ob::lookup_object(utf8_to_utf16(path), nullptr, true, &found))) return false;
    ob::dereference(found.object);
    return found.remaining.empty();
}

std::vector<std::string> directory_entries(const std::string& path) {
    std::vector<std::u16string> names;
    ob::list_directory(utf8_to_utf16(path), &names);
    std::vector<std::string> out;
    for (const auto& name : names) out.push_back(utf16_to_utf8(name));
    return out;
}

void pool_fail(const PoolFault& fault) {
    ntoskrnl::pool_fail(fault);
}

void pool_clear_faults() {
    ntoskrnl::pool_clear_faults();
}

uint64_t pool_live_bytes(const std::string& tag) {
    return ntoskrnl::pool_live_bytes(tag);
}

size_t pool_live_blocks(const std::string& tag) {
    return ntoskrnl::pool_live_blocks(tag);
}

std::vector<VolumeControl> volume_controls() {
    return io::volume_controls();
}

void clear_volume_controls() {
    io::clear_volume_controls();
}

void fail_mdl_mappings(unsigned count) {
    mm::fail_mdl_mappings(count);
}

void fail_extended_state_saves(unsigned count) {
    ntoskrnl::fail_extended_state_saves(count);
}

void hide_system_routines(const std::vector<std::string>& names) {
    ntoskrnl::hide_system_routines(names);
}

std::vector<std::string> debug_output() {
    return ntoskrnl::debug_output();
}

void clear_debug_output() {
    ntoskrnl::clear_debug_output();
}

}  // namespace sim::kernel
