// Test controls of the simulated kernel: load and unload drivers, inspect what is live (system
// threads, IRPs, kernel handles, objects, pool), inject faults, and read DbgPrint output.
// Product code never calls this.
//
//   sim::registry_set_dword("SYSTEM\\CurrentControlSet\\Services\\Orvik", "MaxDevices", 2);
//   ASSERT_EQ(sim::kernel::load_driver("Orvik", "/path/libOrvik.so"), STATUS_SUCCESS);
//   ... user-mode CreateFileA("\\\\.\\..."), kernel-mode Zw calls ...
//   ASSERT_EQ(sim::kernel::unload_driver("Orvik"), STATUS_SUCCESS);
//   EXPECT_EQ(sim::kernel::pool_live_bytes("Orvk"), 0u);
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/ntoskrnl/ex/pool.h"
#include "platform/ntoskrnl/io/raw_fs.h"
#include "platform/ntoskrnl/ke/extended_state.h"
#include "platform/wdm.h"

namespace sim::kernel {

// ---- Drivers ----

// Loads a driver as the service named service: its key
// "\Registry\Machine\System\CurrentControlSet\Services\<service>" is made when missing, a driver
// object "\Driver\<service>" is created, and DriverEntry (exported by the shared library, or
// given) runs on a system thread with the key's path. The result is DriverEntry's status
// (STATUS_IMAGE_ALREADY_LOADED when the service is loaded already). A failed DriverEntry leaves
// nothing loaded; that it also left no device behind is checked.
NTSTATUS load_driver(const std::string& service, const std::string& library_path);
NTSTATUS load_driver(const std::string& service, PDRIVER_INITIALIZE entry);

// Unloads a loaded driver: new opens of its devices fail from now on, then, once no file is open
// on any of them (this waits), its unload routine runs on a system thread. Afterwards the driver
// must have deleted its devices and ended its system threads; otherwise the process stops, as a
// bug check would. STATUS_INVALID_DEVICE_REQUEST when the driver has no unload routine.
NTSTATUS unload_driver(const std::string& service);
bool driver_loaded(const std::string& service);

struct DeviceInfo {
    std::string name;  // "\Device\..." ("" for an unnamed device)
    DEVICE_TYPE type = 0;
    ULONG characteristics = 0;
    ULONG flags = 0;
    ULONG extension_size = 0;
    // The device's security descriptor (ZwSetSecurityObject sets it), in the form of SDDL with
    // rights as numbers and SIDs in full: "D:P(A;;0x1f01ff;;;S-1-5-18)"; "" when it has none.
    std::string security;
    LONG open_files = 0;  // the device's reference count
};
// The devices of a loaded driver, in the driver object's list order (newest first).
std::vector<DeviceInfo> driver_devices(const std::string& service);

// A self-relative security descriptor (what ZwQuerySecurityObject writes) in the form of
// DeviceInfo::security.
std::string security_descriptor_text(const void* descriptor);

// ---- What is live ----

// What a thread did with KeSaveExtendedProcessorState and KeRestoreExtendedProcessorState.
using ExtendedStateUse = ntoskrnl::ExtendedStateUse;

struct SystemThreadInfo {
    KPRIORITY priority;
    ExtendedStateUse extended_state;
};
std::vector<SystemThreadInfo> system_threads();
// The calling thread's use of its extended processor state.
ExtendedStateUse extended_state_use();
size_t live_irps();
size_t kernel_handles();

// True when path names an object (symbolic links followed, except as the last name).
bool object_exists(const std::string& path);
// The names in an object directory; empty when there is none.
std::vector<std::string> directory_entries(const std::string& path);

// ---- Pool ----

// From now on allocations of tag (any tag when empty) of at least min_bytes fail: the first skip
// of them still succeed, then count fail (-1: all).
using PoolFault = ntoskrnl::PoolFault;
void pool_fail(const PoolFault& fault);
void pool_clear_faults();
// Bytes and blocks of tag ("Orvk") allocated and not yet freed.
uint64_t pool_live_bytes(const std::string& tag);
size_t pool_live_blocks(const std::string& tag);

// ---- File systems ----

// A volume control (FSCTL_LOCK_VOLUME, FSCTL_UNLOCK_VOLUME or FSCTL_DISMOUNT_VOLUME) that the RAW
// file system answered, with its status.
using VolumeControl = ntoskrnl::io::VolumeControl;
// Every volume control since the last clear, in the order answered, whatever the volume.
std::vector<VolumeControl> volume_controls();
void clear_volume_controls();

// ---- Faults ----

// The next count mappings of a request's buffer into system space (MmGetSystemAddressForMdlSafe)
// return null.
void fail_mdl_mappings(unsigned count);

// The next count calls of KeSaveExtendedProcessorState fail (STATUS_INSUFFICIENT_RESOURCES).
void fail_extended_state_saves(unsigned count);

// From now on MmGetSystemRoutineAddress finds none of names, as on a kernel that does not export
// them (Wine's lacks KeSaveExtendedProcessorState); an empty list exports everything again.
void hide_system_routines(const std::vector<std::string>& names);

// ---- DbgPrint ----

// Every DbgPrint since the last clear, one entry per call, as formatted.
std::vector<std::string> debug_output();
void clear_debug_output();

}  // namespace sim::kernel
