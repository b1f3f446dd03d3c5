// The I/O manager's internals: driver, device and file objects, IRPs and the requests built from
// the NT file calls of user and kernel mode.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ntoskrnl/fs/file.h"
#include "platform/ntoskrnl/ob/object.h"

// What the I/O manager keeps of a device beyond DEVICE_OBJECT.
struct _DEVOBJ_EXTENSION {
    CSHORT Type;
    USHORT Size;
    PDEVICE_OBJECT DeviceObject;
    ULONG extension_size = 0;
    bool delete_pending = false;
    std::atomic<bool> close_refused{false};  // a simulated device's fault: CloseHandle fails
};

namespace ntoskrnl::io {

extern _OBJECT_TYPE driver_type;
extern _OBJECT_TYPE device_type;
extern _OBJECT_TYPE file_type;

// Object type codes of the kernel's structures (their Type fields).
constexpr CSHORT kIoTypeDriver = 4;
constexpr CSHORT kIoTypeFile = 5;
constexpr CSHORT kIoTypeIrp = 6;
constexpr CSHORT kIoTypeDevice = 3;

// ---- Drivers ----

// A new driver object named "<directory>\<service>" ("\Driver\Orvik", "\FileSystem\RAW"), every
// major function refusing requests.
NTSTATUS create_driver(std::u16string_view service, PDRIVER_OBJECT* driver,
                       std::u16string_view directory = u"\\Driver");
// From now on new opens of the driver's devices are refused (its unload has begun).
void set_driver_unloading(PDRIVER_OBJECT driver);
// Waits until no file is open on any device of the driver.
void wait_until_devices_closed(PDRIVER_OBJECT driver);
// Clears DO_DEVICE_INITIALIZING on the driver's devices (after DriverEntry).
void ready_devices(PDRIVER_OBJECT driver);

struct DeviceSnapshot {
    PDEVICE_OBJECT device;
    ULONG extension_size;
};
// The driver's devices in list order (newest first).
std::vector<DeviceSnapshot> driver_devices(PDRIVER_OBJECT driver);

// Counts a file opened on device (its ReferenceCount). STATUS_NO_SUCH_DEVICE while the device is
// being deleted, initialised or unloaded; STATUS_ACCESS_DENIED for a second open of an exclusive
// device.
NTSTATUS device_open(PDEVICE_OBJECT device);
void device_closed(PDEVICE_OBJECT device);

// ---- IRPs ----

// A new IRP with stack_size stack locations for a request of the calling thread on file (null
// for a file being closed, which has no references left to take). The IRP references the thread
// and the file until its completion; the caller (the issuer) holds one reference to the IRP and
// the completion another.
PIRP allocate_irp(CCHAR stack_size, PFILE_OBJECT file);
// Sends irp to device (IoCallDriver): the next stack location becomes the current one. The
// dispatch routine must complete the IRP or return STATUS_PENDING after IoMarkIrpPending;
// anything else stops the process.
NTSTATUS call_driver(PDEVICE_OBJECT device, PIRP irp);
// After call_driver returned a status other than STATUS_PENDING: the I/O manager's part of the
// completion, left to the issuer (copy-back, status block, event, APC).
void finish_deferred(PIRP irp);
// The issuer is done with irp.
void release_irp(PIRP irp);
// A dispatch routine's end of irp at once: sets its status block, completes it, returns status.
NTSTATUS complete_request(PIRP irp, NTSTATUS status, ULONG_PTR information = 0);
// Sets the bytes the caller's output buffer holds (the bound of a buffered copy-back).
void set_output_length(PIRP irp, ULONG length);
// An event that a user-mode handle names (platform/ntoskrnl/ke/event.h) to signal at completion,
// besides or instead of UserEvent.
void set_user_event(PIRP irp, HANDLE event);
size_t live_irps();

// ---- Files ----

struct OpenParameters {
    ACCESS_MASK access = 0;  // generic rights allowed
    ULONG share = 0;
    ULONG disposition = FILE_OPEN;
    ULONG options = 0;  // FILE_SYNCHRONOUS_IO_NONALERT, FILE_NO_INTERMEDIATE_BUFFERING, ...
    ULONG attributes = 0;
    KPROCESSOR_MODE mode = KernelMode;
};

// Opens an NT name: a host file ("\??\C:\x") through the NT file services, or a device of the
// namespace with IRP_MJ_CREATE. The file object comes referenced; *information is the create's
// result (FILE_OPENED, FILE_CREATED, ...).
NTSTATUS open_file(std::u16string_view path, void* root, const OpenParameters& parameters,
                   PFILE_OBJECT* file, ULONG_PTR* information);
// Whether the file object is a host file's (as against a device's), and its host file (null after
// its cleanup).
bool is_host_file(PFILE_OBJECT file);
std::shared_ptr<fs::File> host_file(PFILE_OBJECT file);
// Whether CloseHandle of a user handle to the file is refused (a simulated device's fault).
bool close_refused(PFILE_OBJECT file);
void set_close_refused(PDEVICE_OBJECT device, bool refused);
// The lock that makes requests on a synchronous file object one at a time.
std::mutex& file_lock(PFILE_OBJECT file);

// ---- Volumes ----

// Whether the device holds a volume (a disk): opened for its data, it is opened through the file
// system mounted on it.
bool holds_volume(PDEVICE_OBJECT device);
// The file system's volume on device, mounted now if none is (RAW is the one file system here),
// referenced for a file about to be opened on it.
NTSTATUS reference_volume(PDEVICE_OBJECT device, PVPB* vpb);
// A file opened on the volume is gone; the volume goes with its last file.
void release_volume(PVPB vpb);
// Takes the volume off its device (FSCTL_DISMOUNT_VOLUME): its open files keep it, and the
// device's next open mounts a new one.
void dismount_volume(PVPB vpb);
// Where the requests of file go: the volume's device for a file opened on a mounted volume, else
// the file's own device (IoGetRelatedDeviceObject).
PDEVICE_OBJECT target_device(PFILE_OBJECT file);

// ---- Requests on device files ----

struct Request {
    UCHAR major = IRP_MJ_DEVICE_CONTROL;  // READ, WRITE, DEVICE_CONTROL, FILE_SYSTEM_CONTROL
    ULONG code = 0;                       // the control code
    PVOID input = nullptr;                // a write's data
    ULONG input_length = 0;
    PVOID output = nullptr;  // a read's buffer
    ULONG output_length = 0;
    std::optional<LONGLONG> offset;  // reads and writes; none: the synchronous file's position
    PIO_STATUS_BLOCK iosb = nullptr;
    PKEVENT event = nullptr;      // signalled at the end, else the file object's event
    HANDLE user_event = nullptr;  // a user-mode event signalled at the end
    PIO_APC_ROUTINE apc = nullptr;
    PVOID apc_context = nullptr;
    KPROCESSOR_MODE mode = KernelMode;
};

// What NtReadFile, NtWriteFile, NtDeviceIoControlFile and NtFsControlFile do on a device's file
// object: the IRP is built (buffered, direct or neither I/O), sent, and on a synchronous file
// waited for. STATUS_PENDING when an asynchronous request has not ended.
NTSTATUS issue(PFILE_OBJECT file, const Request& request);

}  // namespace ntoskrnl::io
