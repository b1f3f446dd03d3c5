// RAW, the file system that Windows mounts on a volume no other file system recognises: it
// opens only the volume itself, keeps its share access, answers FSCTL_LOCK_VOLUME,
// FSCTL_UNLOCK_VOLUME and FSCTL_DISMOUNT_VOLUME (each kept for sim::kernel::volume_controls), and
// passes every other request (reads, writes, the disk's queries) on to the disk.
#pragma once

#include "platform/wdm.h"

namespace ntoskrnl::fs {

// Mounts RAW on vpb->RealDevice: a new volume device becomes vpb->DeviceObject. Called by the
// I/O manager with its mount lock held.
NTSTATUS raw_mount(PVPB vpb);
// Deletes a volume device of RAW once its last file has gone.
void raw_delete_volume(PDEVICE_OBJECT volume);

}  // namespace ntoskrnl::fs
