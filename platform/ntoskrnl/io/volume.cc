// Volumes: a device that holds one (a disk) is opened for its data through the file system
// mounted on it, as IopParseDevice and IopCheckVpbMounted do. The one file system here is RAW
// (platform/ntoskrnl/io/raw_fs.h), which knows no file system on the disk and passes the volume's
// requests on to it. A volume lives while files are open on it: it is mounted at the first open
// and goes with its last file (or, once dismounted, is replaced by a new one at the next open).
#include <mutex>

#include "platform/ntoskrnl/io/io.h"
#include "platform/ntoskrnl/io/raw_fs.h"
#include "platform/ntoskrnl/ob/object.h"

namespace ntoskrnl::io {
namespace {

constexpr CSHORT kIoTypeVpb = 10;

// Guards every device's Vpb and every VPB's flags and reference count.
std::mutex& mount_lock() {
    static std::mutex* instance = new std::mutex;
    return *instance;
}

}  // namespace

bool holds_volume(PDEVICE_OBJECT device) {
    switch (device->DeviceType) {
        case FILE_DEVICE_DISK:
        case FILE_DEVICE_CD_ROM:
        case FILE_DEVICE_TAPE:
        case FILE_DEVICE_VIRTUAL_DISK:
            return true;
        default:
            return false;
    }
}

NTSTATUS reference_volume(PDEVICE_OBJECT device, PVPB* out) {
    std::lock_guard guard(mount_lock());
    PVPB vpb = device->Vpb;
    if (!vpb) {
        vpb = new VPB{};
        vpb->Type = kIoTypeVpb;
        vpb->Size = sizeof(VPB);
        vpb->RealDevice = device;
        if (NTSTATUS status = raw_mount(vpb); !NT_SUCCESS(status)) {
            delete vpb;
            return status;
        }
        vpb->Flags |= VPB_MOUNTED;
        device->Vpb = vpb;
    }
    ++vpb->ReferenceCount;
    ob::reference(vpb->DeviceObject);
    *out = vpb;
    return STATUS_SUCCESS;
}

void release_volume(PVPB vpb) {
    bool last;
    {
        std::lock_guard guard(mount_lock());
        last = --vpb->ReferenceCount == 0;
        if (last && vpb->RealDevice->Vpb == vpb) vpb->RealDevice->Vpb = nullptr;
    }
    PDEVICE_OBJECT volume = vpb->DeviceObject;
    if (last) raw_delete_volume(volume);
    ob::dereference(volume);
    if (last) delete vpb;
}

void dismount_volume(PVPB vpb) {
    std::lock_guard guard(mount_lock());
    vpb->Flags &= ~VPB_MOUNTED;
    if (vpb->RealDevice->Vpb == vpb) vpb->RealDevice->Vpb = nullptr;
}

PDEVICE_OBJECT target_device(PFILE_OBJECT file) {
    return file->Vpb ? file->Vpb->DeviceObject : file->DeviceObject;
}

}  // namespace ntoskrnl::io
