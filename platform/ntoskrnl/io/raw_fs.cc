#include "platform/ntoskrnl/io/raw_fs.h"

#include <mutex>
#include <new>
#include <vector>

#include "platform/core/trace.h"
#include "platform/ntoskrnl/io/io.h"
#include "platform/ntoskrnl/not_implemented.h"

namespace ntoskrnl::io {
namespace {

// Share access as IoCheckShareAccess keeps it: the opens with data access, what they do and what
// they let others do.
struct ShareAccess {
    ULONG opens = 0;
    ULONG readers = 0, writers = 0, deleters = 0;
    ULONG shared_read = 0, shared_write = 0, shared_delete = 0;
};

bool touches_data(PFILE_OBJECT file) {
    return file->ReadAccess || file->WriteAccess || file->DeleteAccess;
}

// Whether file may join the opens of share; it is counted when it may.
bool check_and_add(ShareAccess& share, PFILE_OBJECT file) {
    if (!touches_data(file)) return true;
    if ((file->ReadAccess && share.shared_read < share.opens) ||
        (file->WriteAccess && share.shared_write < share.opens) ||
        (file->DeleteAccess && share.shared_delete < share.opens) ||
        (share.readers && !file->SharedRead) || (share.writers && !file->SharedWrite) ||
        (share.deleters && !file->SharedDelete))
        return false;
    ++share.opens;
    share.readers += file->ReadAccess;
    share.writers += file->WriteAccess;
    share.deleters += file->DeleteAccess;
    share.shared_read += file->SharedRead;
    share.shared_write += file->SharedWrite;
    share.shared_delete += file->SharedDelete;
    return true;
}

void remove(ShareAccess& share, PFILE_OBJECT file) {
    if (!touches_data(file)) return;
    --share.opens;
    share.readers -= file->ReadAccess;
    share.writers -= file->WriteAccess;
    share.deleters -= file->DeleteAccess;
    share.shared_read -= file->SharedRead;
    share.shared_write -= file->SharedWrite;
    share.shared_delete -= file->SharedDelete;
}

// The volume device's extension.
struct Volume {
    PVPB vpb;
    PDEVICE_OBJECT disk;
    std::mutex lock;
    ULONG handles = 0;                 // files opened and not yet cleaned up
    PFILE_OBJECT locked_by = nullptr;  // FSCTL_LOCK_VOLUME's file
    ShareAccess share;
};

Volume* volume_of(PDEVICE_OBJECT device) {
    return static_cast<Volume*>(device->DeviceExtension);
}

NTSTATUS pass_on(Volume* volume, PIRP irp) {
    IoSkipCurrentIrpStackLocation(irp);
    return call_driver(volume->disk, irp);
}

// Only the volume itself opens: a name on it means a file system RAW does not know.
NTSTATUS create(Volume* volume, PIRP irp, PFILE_OBJECT file) {
    if (file->FileName.Length != 0) return complete_request(irp, STATUS_UNRECOGNIZED_VOLUME);
    std::lock_guard guard(volume->lock);
    if (volume->locked_by) return complete_request(irp, STATUS_ACCESS_DENIED);
    if (!check_and_add(volume->share, file)) return complete_request(irp, STATUS_SHARING_VIOLATION);
    ++volume->handles;
    return complete_request(irp, STATUS_SUCCESS, FILE_OPENED);
}

// The last handle of file is closed: its share access goes, and a lock it holds.
NTSTATUS cleanup(Volume* volume, PIRP irp, PFILE_OBJECT file) {
    std::lock_guard guard(volume->lock);
    remove(volume->share, file);
    --volume->handles;
    if (volume->locked_by == file) volume->locked_by = nullptr;
    return complete_request(irp, STATUS_SUCCESS);
}

// The volume controls answered, for the test controls.
struct ControlLog {
    std::mutex lock;
    std::vector<VolumeControl> controls;
};

ControlLog& control_log() {
    static ControlLog* instance = new ControlLog;
    return *instance;
}

NTSTATUS answer_control(PIRP irp, ULONG code, NTSTATUS status) {
    {
        ControlLog& log = control_log();
        std::lock_guard guard(log.lock);
        log.controls.push_back({code, status});
    }
    return complete_request(irp, status);
}

NTSTATUS user_request(Volume* volume, PIRP irp, PFILE_OBJECT file, ULONG code) {
    std::unique_lock guard(volume->lock);
    switch (code) {
        case FSCTL_LOCK_VOLUME:
            // Only the one handle that asks may be open.
            if (volume->locked_by || volume->handles > 1)
                return answer_control(irp, code, STATUS_ACCESS_DENIED);
            volume->locked_by = file;
            return answer_control(irp, code, STATUS_SUCCESS);
        case FSCTL_UNLOCK_VOLUME:
            if (volume->locked_by != file) return answer_control(irp, code, STATUS_NOT_LOCKED);
            volume->locked_by = nullptr;
            return answer_control(irp, code, STATUS_SUCCESS);
        case FSCTL_DISMOUNT_VOLUME:
            // A lock leaves no other handle that could ask, so no lock is needed.
            dismount_volume(volume->vpb);
            return answer_control(irp, code, STATUS_SUCCESS);
        default:
            guard.unlock();
            return pass_on(volume, irp);
    }
}

// The dispatch routine of every major function; runs in the caller's thread.
NTSTATUS NTAPI dispatch(PDEVICE_OBJECT device, PIRP irp) {
    Volume* volume = volume_of(device);
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    switch (stack->MajorFunction) {
        case IRP_MJ_CREATE:
            return create(volume, irp, stack->FileObject);
        case IRP_MJ_CLEANUP:
            return cleanup(volume, irp, stack->FileObject);
        case IRP_MJ_CLOSE:
            return complete_request(irp, STATUS_SUCCESS);
        case IRP_MJ_FILE_SYSTEM_CONTROL:
            if (stack->MinorFunction == IRP_MN_USER_FS_REQUEST)
                return user_request(volume, irp, stack->FileObject,
                                    stack->Parameters.FileSystemControl.FsControlCode);
            return pass_on(volume, irp);
        default:
            return pass_on(volume, irp);
    }
}

PDRIVER_OBJECT raw_driver() {
    static PDRIVER_OBJECT driver = [] {
        PDRIVER_OBJECT created = nullptr;
        if (!NT_SUCCESS(create_driver(u"RAW", &created, u"\\FileSystem")))
            bug_check("IO_MANAGER", "the RAW file system cannot be started");
        for (PDRIVER_DISPATCH& routine : created->MajorFunction) routine = dispatch;
        return created;
    }();
    return driver;
}

}  // namespace

NTSTATUS raw_mount(PVPB vpb) {
    PDEVICE_OBJECT disk = vpb->RealDevice;
    PDEVICE_OBJECT device = nullptr;
    const NTSTATUS status = IoCreateDevice(raw_driver(), sizeof(Volume), nullptr,
                                           FILE_DEVICE_DISK_FILE_SYSTEM, 0, FALSE, &device);
    if (!NT_SUCCESS(status)) return status;
    auto* volume = new (device->DeviceExtension) Volume;
    volume->vpb = vpb;
    volume->disk = disk;
    // Requests are built for the disk, which gets them as they come.
    device->Flags =
        (device->Flags & ~DO_DEVICE_INITIALIZING) | (disk->Flags & (DO_BUFFERED_IO | DO_DIRECT_IO));
    device->StackSize = static_cast<CCHAR>(disk->StackSize + 1);
    device->SectorSize = disk->SectorSize;
    device->AlignmentRequirement = disk->AlignmentRequirement;
    vpb->DeviceObject = device;
    TRACE("ntoskrnl", "RAW mounted on %p as %p", static_cast<void*>(disk),
          static_cast<void*>(device));
    return STATUS_SUCCESS;
}

void raw_delete_volume(PDEVICE_OBJECT device) {
    TRACE("ntoskrnl", "RAW volume %p deleted", static_cast<void*>(device));
    volume_of(device)->~Volume();
    IoDeleteDevice(device);
}

std::vector<VolumeControl> volume_controls() {
    auto& log = control_log();
    std::lock_guard guard(log.lock);
    return log.controls;
}

void clear_volume_controls() {
    auto& log = control_log();
    std::lock_guard guard(log.lock);
    log.controls.clear();
}

}  // namespace ntoskrnl::io
