// RAW, the file system that Windows mounts on a volume no other file system recognises: it
// opens only the volume itself, keeps its share access, answers FSCTL_LOCK_VOLUME,
// FSCTL_UNLOCK_VOLUME and FSCTL_DISMOUNT_VOLUME (each kept for the test controls), and
// passes every other request (reads, writes, the disk's queries) on to the disk.
#pragma once

#include <vector>

#include "platform/wdm.h"

namespace ntoskrnl::io {

// Mounts RAW on vpb->RealDevice: a new volume device becomes vpb->DeviceObject. Called by the
// I/O manager with its mount lock held.
NTSTATUS raw_mount(PVPB vpb);
// Deletes a volume device of RAW once its last file has gone.
void raw_delete_volume(PDEVICE_OBJECT volume);

// A volume control that RAW answered, with its status.
struct VolumeControl {
    ULONG code = 0;
    NTSTATUS status = 0;
    bool operator==(const VolumeControl&) const = default;
};
// Every volume control since the last clear, in the order answered, whatever the volume.
std::vector<VolumeControl> volume_controls();
void clear_volume_controls();

}  // namespace ntoskrnl::io
