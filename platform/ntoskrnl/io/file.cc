// File objects: opens of a device (IRP_MJ_CREATE; IRP_MJ_CLEANUP at the last handle and
// IRP_MJ_CLOSE at the last reference) and of a host file through the NT file services.
#include "platform/ntoskrnl/fs/file.h"

#include <mutex>
#include <new>

#include "platform/ntoskrnl/io/io.h"
#include "platform/ntoskrnl/not_implemented.h"
#include "platform/ntoskrnl/ob/namespace.h"
#include "platform/ntoskrnl/rtl/text.h"

namespace ntoskrnl::io {
namespace {

// What the I/O manager keeps of a file object (FileObjectExtension).
struct FileRecord {
    std::mutex host_lock;            // the cleanup may race a request on a closing handle
    std::shared_ptr<fs::File> host;  // a host file's, until its cleanup
    std::u16string name;             // FileName's text
    bool opened = false;             // the device completed IRP_MJ_CREATE with success
    bool counted = false;            // counted in the device's ReferenceCount
    std::mutex io_lock;              // requests on a synchronous file, one at a time
};

FileRecord* record_of(PFILE_OBJECT file) {
    return static_cast<FileRecord*>(file->FileObjectExtension);
}

// Sends a create, cleanup or close IRP for file and waits for its end.
NTSTATUS send_file_irp(PFILE_OBJECT file, UCHAR major, const IO_STACK_LOCATION* parameters,
                       ULONG_PTR* information) {
    PDEVICE_OBJECT device = target_device(file);
    // A file that is being closed has no references left to take.
    PIRP irp = allocate_irp(device->StackSize, major == IRP_MJ_CLOSE ? nullptr : file);
    IO_STATUS_BLOCK iosb{};
    KEVENT done;
    KeInitializeEvent(&done, NotificationEvent, FALSE);
    irp->Flags = IRP_SYNCHRONOUS_API | IRP_DEFER_IO_COMPLETION |
                 (major == IRP_MJ_CREATE ? IRP_CREATE_OPERATION : 0) |
                 (major == IRP_MJ_CLOSE ? IRP_CLOSE_OPERATION : 0);
    irp->RequestorMode = KernelMode;
    irp->UserIosb = &iosb;
    irp->UserEvent = &done;
    PIO_STACK_LOCATION stack = IoGetNextIrpStackLocation(irp);
    if (parameters) *stack = *parameters;
    stack->MajorFunction = major;
    stack->FileObject = file;
    NTSTATUS status = call_driver(device, irp);
    if (status == STATUS_PENDING) {
        KeWaitForSingleObject(&done, Executive, KernelMode, FALSE, nullptr);
        status = iosb.Status;
    } else {
        finish_deferred(irp);
    }
    release_irp(irp);
    if (information) *information = iosb.Information;
    return status;
}

void cleanup_file(void* body) {
    auto* file = static_cast<PFILE_OBJECT>(body);
    FileRecord* record = record_of(file);
    {
        std::lock_guard guard(record->host_lock);
        record->host.reset();  // the host file's share access goes with its last handle
    }
    if (record->opened) send_file_irp(file, IRP_MJ_CLEANUP, nullptr, nullptr);
    file->Flags |= FO_CLEANUP_COMPLETE;
}

void destroy_file(void* body) {
    auto* file = static_cast<PFILE_OBJECT>(body);
    FileRecord* record = record_of(file);
    PDEVICE_OBJECT device = file->DeviceObject;
    if (record->opened) send_file_irp(file, IRP_MJ_CLOSE, nullptr, nullptr);
    if (file->Vpb) release_volume(file->Vpb);
    if (record->counted) device_closed(device);
    if (device) ob::dereference(device);
    delete record;
}

ULONG file_flags(ULONG options) {
    ULONG flags = 0;
    if (options & (FILE_SYNCHRONOUS_IO_ALERT | FILE_SYNCHRONOUS_IO_NONALERT))
        flags |= FO_SYNCHRONOUS_IO;
    if (options & FILE_SYNCHRONOUS_IO_ALERT) flags |= FO_ALERTABLE_IO;
    if (options & FILE_NO_INTERMEDIATE_BUFFERING) flags |= FO_NO_INTERMEDIATE_BUFFERING;
    if (options & FILE_WRITE_THROUGH) flags |= FO_WRITE_THROUGH;
    if (options & FILE_SEQUENTIAL_ONLY) flags |= FO_SEQUENTIAL_ONLY;
    if (options & FILE_RANDOM_ACCESS) flags |= FO_RANDOM_ACCESS;
    return flags;
}

PFILE_OBJECT new_file_object(PDEVICE_OBJECT device, std::u16string_view name,
                             const OpenParameters& parameters) {
    auto* file = static_cast<PFILE_OBJECT>(ob::create_object(&file_type, sizeof(FILE_OBJECT)));
    auto* record = new FileRecord;
    record->name = name;
    file->Type = kIoTypeFile;
    file->Size = sizeof(FILE_OBJECT);
    file->DeviceObject = device;
    if (device) ob::reference(device);
    file->FileName.Buffer = record->name.data();
    file->FileName.Length = static_cast<USHORT>(record->name.size() * sizeof(WCHAR));
    file->FileName.MaximumLength = file->FileName.Length;
    file->Flags = file_flags(parameters.options);
    const ACCESS_MASK access = fs::map_generic_file_access(parameters.access);
    file->ReadAccess = (access & (FILE_READ_DATA | FILE_EXECUTE)) != 0;
    file->WriteAccess = (access & (FILE_WRITE_DATA | FILE_APPEND_DATA)) != 0;
    file->DeleteAccess = (access & DELETE) != 0;
    file->SharedRead = (parameters.share & FILE_SHARE_READ) != 0;
    file->SharedWrite = (parameters.share & FILE_SHARE_WRITE) != 0;
    file->SharedDelete = (parameters.share & FILE_SHARE_DELETE) != 0;
    KeInitializeEvent(&file->Lock, SynchronizationEvent, FALSE);
    KeInitializeEvent(&file->Event, NotificationEvent, FALSE);
    file->FileObjectExtension = record;
    return file;
}

// An open of a device by its name alone that asks for no data (attributes, synchronisation,
// security) reaches the device itself even when it holds a volume.
bool direct_open(std::u16string_view remaining, ACCESS_MASK access) {
    constexpr ACCESS_MASK kNoData = SYNCHRONIZE | FILE_READ_ATTRIBUTES | READ_CONTROL |
                                    ACCESS_SYSTEM_SECURITY | WRITE_OWNER | WRITE_DAC;
    return remaining.empty() && (fs::map_generic_file_access(access) & ~kNoData) == 0;
}

NTSTATUS open_device_file(PDEVICE_OBJECT device, std::u16string_view remaining,
                          const OpenParameters& parameters, PFILE_OBJECT* out,
                          ULONG_PTR* information) {
    if (NTSTATUS status = device_open(device); !NT_SUCCESS(status)) return status;
    PFILE_OBJECT file = new_file_object(device, remaining, parameters);
    record_of(file)->counted = true;
    if (holds_volume(device) && !direct_open(remaining, parameters.access)) {
        if (NTSTATUS status = reference_volume(device, &file->Vpb); !NT_SUCCESS(status)) {
            ob::dereference(file);
            return status;
        }
    }
    IO_SECURITY_CONTEXT security{};
    security.DesiredAccess = parameters.access;
    IO_STACK_LOCATION stack{};
    stack.Parameters.Create.SecurityContext = &security;
    stack.Parameters.Create.Options =
        parameters.disposition << 24 | (parameters.options & 0xFFFFFF);
    stack.Parameters.Create.FileAttributes = static_cast<USHORT>(parameters.attributes);
    stack.Parameters.Create.ShareAccess = static_cast<USHORT>(parameters.share);
    const NTSTATUS status = send_file_irp(file, IRP_MJ_CREATE, &stack, information);
    if (!NT_SUCCESS(status)) {
        ob::dereference(file);
        return status;
    }
    record_of(file)->opened = true;
    *out = file;
    return status;
}

NTSTATUS open_host_file(const std::string& path, const OpenParameters& parameters,
                        PFILE_OBJECT* out, ULONG_PTR* information) {
    if (parameters.options & FILE_DIRECTORY_FILE) not_implemented("opening a folder");
    fs::FileOpenRequest request;
    request.access = fs::map_generic_file_access(parameters.access);
    request.share = parameters.share;
    request.disposition = parameters.disposition;
    request.no_buffering = (parameters.options & FILE_NO_INTERMEDIATE_BUFFERING) != 0;
    request.write_through = (parameters.options & FILE_WRITE_THROUGH) != 0;
    request.attributes = parameters.attributes;
    std::shared_ptr<fs::File> host;
    uint32_t created = 0;
    const auto status = fs::nt_open_file(path, request, &host, &created);
    if (!NT_SUCCESS(status)) return status;
    PFILE_OBJECT file = new_file_object(nullptr, utf8_to_utf16(path), parameters);
    record_of(file)->host = std::move(host);
    *information = created;
    *out = file;
    return status;
}

// "\GLOBAL??\X" as "\??\X", the form the NT file services take.
std::u16string dos_devices_form(std::u16string_view path) {
    constexpr std::u16string_view global = u"\\GLOBAL??\\";
    if (path.size() >= global.size() && upcase(path.substr(0, global.size())) == global)
        return u"\\??\\" + std::u16string(path.substr(global.size()));
    return std::u16string(path);
}

}  // namespace

_OBJECT_TYPE file_type{"File", destroy_file, cleanup_file};

NTSTATUS open_file(std::u16string_view path, void* root, const OpenParameters& parameters,
                   PFILE_OBJECT* file, ULONG_PTR* information) {
    if (!root) {
        const std::u16string dos = dos_devices_form(path);
        const std::string narrow = utf16_to_utf8(dos);
        if (fs::nt_name_is_file(narrow))
            return open_host_file(narrow, parameters, file, information);
    }
    ob::Lookup found;
    NTSTATUS status = ob::lookup_object(path, root, false, &found);
    if (!NT_SUCCESS(status)) return status;
    if (ob::type_of(found.object) == &device_type)
        status = open_device_file(static_cast<PDEVICE_OBJECT>(found.object), found.remaining,
                                  parameters, file, information);
    else
        status = STATUS_OBJECT_TYPE_MISMATCH;
    ob::dereference(found.object);
    return status;
}

std::shared_ptr<fs::File> host_file(PFILE_OBJECT file) {
    FileRecord* record = record_of(file);
    std::lock_guard guard(record->host_lock);
    return record->host;
}

bool is_host_file(PFILE_OBJECT file) {
    return file->DeviceObject == nullptr;
}

bool close_refused(PFILE_OBJECT file) {
    return file->DeviceObject && file->DeviceObject->DeviceObjectExtension->close_refused;
}

std::mutex& file_lock(PFILE_OBJECT file) {
    return record_of(file)->io_lock;
}

}  // namespace ntoskrnl::io
