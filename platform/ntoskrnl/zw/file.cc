// The Zw file services. A host file's requests go to the NT file services directly (they end
// before the call returns); a device's become IRPs through the I/O manager.
#include <cstring>
#include <string>

#include "platform/core/trace.h"
#include "platform/ddk/ntstatus.h"
#include "platform/ntoskrnl/io/io.h"
#include "platform/ntoskrnl/ke/thread.h"
#include "platform/ntoskrnl/not_implemented.h"
#include "platform/ntoskrnl/ob/handles.h"
#include "platform/ntoskrnl/ob/namespace.h"
#include "platform/ntoskrnl/rtl/text.h"

namespace ntoskrnl {
namespace {

// 100 ns units of a host time as FILE_BASIC_INFORMATION has them.
LARGE_INTEGER time_of(uint64_t units) {
    LARGE_INTEGER t;
    t.QuadPart = static_cast<LONGLONG>(units);
    return t;
}

// The file object behind a kernel handle, referenced (null with *status set).
PFILE_OBJECT file_of(HANDLE handle, NTSTATUS* status) {
    return static_cast<PFILE_OBJECT>(ob::reference_handle(handle, &io::file_type, status));
}

// The end of a host file's request, which ends at once: as IopCompleteRequest would have it.
NTSTATUS complete_now(NTSTATUS status, ULONG_PTR information, PIO_STATUS_BLOCK iosb,
                      PIO_APC_ROUTINE apc, PVOID apc_context) {
    if (NT_ERROR(status)) return status;
    iosb->Status = status;
    iosb->Information = information;
    if (apc) {
        queue_kernel_apc(current_thread(), [apc, apc_context, iosb] { apc(apc_context, iosb, 0); });
    }
    return status;
}

// The entry of a Zw call that may take an event: at PASSIVE_LEVEL, and with no event handle (not
// provided here).
void enter_with_event(const char* routine, HANDLE event) {
    require_passive_level(routine);
    if (event) not_implemented((std::string(routine) + " with an event handle").c_str());
}

// A record of a query's answer copied out: STATUS_INFO_LENGTH_MISMATCH when it does not fit.
template <typename Record>
NTSTATUS copy_out(const Record& record, PVOID information, ULONG length, ULONG_PTR* written) {
    if (length < sizeof record) return STATUS_INFO_LENGTH_MISMATCH;
    std::memcpy(information, &record, sizeof record);
    *written = sizeof record;
    return STATUS_SUCCESS;
}

// A set request's record copied in: false when the buffer is too short for it.
template <typename Record>
bool copy_in(Record* record, const void* information, ULONG length) {
    if (length < sizeof *record) return false;
    std::memcpy(record, information, sizeof *record);
    return true;
}

// The offset a read or write names: none for the handle's position.
std::optional<LONGLONG> offset_of(const LARGE_INTEGER* offset) {
    if (!offset || (offset->HighPart == -1 && offset->LowPart == FILE_USE_FILE_POINTER_POSITION))
        return std::nullopt;
    return offset->QuadPart;
}

NTSTATUS host_transfer(PFILE_OBJECT file, bool write, PVOID buffer, ULONG length,
                       std::optional<LONGLONG> offset, ULONG* done) {
    auto host = io::host_file(file);
    if (!host) return STATUS_FILE_CLOSED;
    if (!offset && !(file->Flags & FO_SYNCHRONOUS_IO)) return STATUS_INVALID_PARAMETER;
    if (offset && *offset < 0) return STATUS_INVALID_PARAMETER;
    const uint64_t at = offset ? static_cast<uint64_t>(*offset) : 0;
    uint32_t moved = 0;
    const NTSTATUS status = write ? host->write(buffer, length, offset ? &at : nullptr, &moved)
                                  : host->read(buffer, length, offset ? &at : nullptr, &moved);
    *done = moved;
    return status;
}

// ZwReadFile and ZwWriteFile.
NTSTATUS transfer(const char* routine, HANDLE handle, HANDLE event, bool write, PIO_APC_ROUTINE apc,
                  PVOID apc_context, PIO_STATUS_BLOCK iosb, PVOID buffer, ULONG length,
                  PLARGE_INTEGER offset) {
    TRACE("ntoskrnl", "%s(%p, %p, %u, %lld)", routine, handle, buffer, length,
          offset ? static_cast<long long>(offset->QuadPart) : -1LL);
    enter_with_event(routine, event);
    NTSTATUS status;
    PFILE_OBJECT file = file_of(handle, &status);
    if (!file) return status;
    if (io::is_host_file(file)) {
        ULONG done = 0;
        status = host_transfer(file, write, buffer, length, offset_of(offset), &done);
        status = complete_now(status, done, iosb, apc, apc_context);
    } else {
        io::Request request;
        request.major = write ? IRP_MJ_WRITE : IRP_MJ_READ;
        (write ? request.input : request.output) = buffer;
        (write ? request.input_length : request.output_length) = length;
        request.offset = offset_of(offset);
        request.iosb = iosb;
        request.apc = apc;
        request.apc_context = apc_context;
        status = io::issue(file, request);
    }
    ob::dereference(file);
    return status;
}

// ZwDeviceIoControlFile and ZwFsControlFile.
NTSTATUS control(const char* routine, HANDLE handle, HANDLE event, UCHAR major, PIO_APC_ROUTINE apc,
                 PVOID apc_context, PIO_STATUS_BLOCK iosb, ULONG code, PVOID input,
                 ULONG input_length, PVOID output, ULONG output_length) {
    TRACE("ntoskrnl", "%s(%p, %#x, %p, %u, %p, %u)", routine, handle, code, input, input_length,
          output, output_length);
    enter_with_event(routine, event);
    NTSTATUS status;
    PFILE_OBJECT file = file_of(handle, &status);
    if (!file) return status;
    if (io::is_host_file(file)) {
        // The file system answers FSCTL_SET_SPARSE; nothing else reaches a host file here.
        if (major == IRP_MJ_FILE_SYSTEM_CONTROL && code == FSCTL_SET_SPARSE) {
            auto host = io::host_file(file);
            status = host ? host->set_sparse() : STATUS_FILE_CLOSED;
        } else {
            status = STATUS_INVALID_DEVICE_REQUEST;
        }
        status = complete_now(status, 0, iosb, apc, apc_context);
    } else {
        io::Request request;
        request.major = major;
        request.code = code;
        request.input = input;
        request.input_length = input_length;
        request.output = output;
        request.output_length = output_length;
        request.iosb = iosb;
        request.apc = apc;
        request.apc_context = apc_context;
        status = io::issue(file, request);
    }
    ob::dereference(file);
    return status;
}

NTSTATUS query_host(fs::File& host, PVOID information, ULONG length, FILE_INFORMATION_CLASS type,
                    ULONG_PTR* written) {
    platform::unix_file::Status status;
    NTSTATUS result = host.query(&status);
    if (result != STATUS_SUCCESS) return result;
    switch (type) {
        case FileBasicInformation: {
            // Checked before the attributes are read, whose failure would otherwise come first.
            if (length < sizeof(FILE_BASIC_INFORMATION)) return STATUS_INFO_LENGTH_MISMATCH;
            FILE_BASIC_INFORMATION basic{};
            basic.CreationTime = time_of(status.creation_time);
            basic.LastAccessTime = time_of(status.access_time);
            basic.LastWriteTime = time_of(status.write_time);
            basic.ChangeTime = time_of(status.write_time);
            uint32_t attributes = 0;
            if ((result = host.attributes(&attributes)) != STATUS_SUCCESS) return result;
            basic.FileAttributes = attributes;
            return copy_out(basic, information, length, written);
        }
        case FileStandardInformation: {
            FILE_STANDARD_INFORMATION standard{};
            standard.AllocationSize.QuadPart = static_cast<LONGLONG>(status.allocated);
            standard.EndOfFile.QuadPart = static_cast<LONGLONG>(status.size);
            standard.NumberOfLinks = status.links;
            return copy_out(standard, information, length, written);
        }
        case FilePositionInformation: {
            FILE_POSITION_INFORMATION position;
            position.CurrentByteOffset.QuadPart = static_cast<LONGLONG>(host.position());
            return copy_out(position, information, length, written);
        }
        case FileAlignmentInformation: {
            const FILE_ALIGNMENT_INFORMATION alignment{fs::kAlignmentRequirement};
            return copy_out(alignment, information, length, written);
        }
        default:
            not_implemented("ZwQueryInformationFile of this class");
    }
}

NTSTATUS set_host(fs::File& host, PVOID information, ULONG length, FILE_INFORMATION_CLASS type) {
    switch (type) {
        case FileBasicInformation: {
            FILE_BASIC_INFORMATION basic;
            if (!copy_in(&basic, information, length)) return STATUS_INFO_LENGTH_MISMATCH;
            platform::unix_file::Status status;
            if (NTSTATUS result = host.query(&status); result != STATUS_SUCCESS) return result;
            // Times: 0 leaves one as it is; only its own value may be written back here.
            const auto unchanged = [](const LARGE_INTEGER& t, uint64_t now) {
                return t.QuadPart == 0 || t.QuadPart == -1 ||
                       static_cast<uint64_t>(t.QuadPart) == now;
            };
            if (!unchanged(basic.CreationTime, status.creation_time) ||
                !unchanged(basic.LastAccessTime, status.access_time) ||
                !unchanged(basic.LastWriteTime, status.write_time) ||
                !unchanged(basic.ChangeTime, status.write_time))
                not_implemented("ZwSetInformationFile changing a file's times");
            return host.set_attributes(basic.FileAttributes);
        }
        case FileEndOfFileInformation: {
            FILE_END_OF_FILE_INFORMATION end;
            if (!copy_in(&end, information, length)) return STATUS_INFO_LENGTH_MISMATCH;
            if (end.EndOfFile.QuadPart < 0) return STATUS_INVALID_PARAMETER;
            return static_cast<NTSTATUS>(
                host.set_size(static_cast<uint64_t>(end.EndOfFile.QuadPart)));
        }
        case FilePositionInformation: {
            FILE_POSITION_INFORMATION position;
            if (!copy_in(&position, information, length)) return STATUS_INFO_LENGTH_MISMATCH;
            if (position.CurrentByteOffset.QuadPart < 0) return STATUS_INVALID_PARAMETER;
            host.set_position(static_cast<uint64_t>(position.CurrentByteOffset.QuadPart));
            return STATUS_SUCCESS;
        }
        default:
            not_implemented("ZwSetInformationFile of this class");
    }
}

}  // namespace
}  // namespace ntoskrnl

using namespace ntoskrnl;

extern "C" NTSTATUS NTAPI ZwCreateFile(PHANDLE FileHandle, ACCESS_MASK DesiredAccess,
                                       POBJECT_ATTRIBUTES ObjectAttributes,
                                       PIO_STATUS_BLOCK IoStatusBlock,
                                       PLARGE_INTEGER AllocationSize, ULONG FileAttributes,
                                       ULONG ShareAccess, ULONG CreateDisposition,
                                       ULONG CreateOptions, PVOID EaBuffer, ULONG EaLength) {
    (void)AllocationSize;
    TRACE("ntoskrnl", "ZwCreateFile(%p, %#x, \"%s\", %#x, %#x, %u, %#x)",
          static_cast<void*>(FileHandle), DesiredAccess,
          ObjectAttributes ? utf16_to_utf8(view_of(ObjectAttributes->ObjectName)).c_str() : "",
          FileAttributes, ShareAccess, CreateDisposition, CreateOptions);
    require_passive_level("ZwCreateFile");
    if (EaBuffer || EaLength) not_implemented("ZwCreateFile with extended attributes");
    if (!FileHandle || !ObjectAttributes || !ObjectAttributes->ObjectName || !IoStatusBlock ||
        CreateDisposition > FILE_OVERWRITE_IF)
        return STATUS_INVALID_PARAMETER;
    void* root = nullptr;
    NTSTATUS status;
    if (ObjectAttributes->RootDirectory) {
        root = ob::reference_handle(ObjectAttributes->RootDirectory, &ob::directory_type, &status);
        if (!root) return status;
    }
    io::OpenParameters parameters{DesiredAccess, ShareAccess,    CreateDisposition,
                                  CreateOptions, FileAttributes, KernelMode};
    PFILE_OBJECT file = nullptr;
    ULONG_PTR information = 0;
    status =
        io::open_file(view_of(ObjectAttributes->ObjectName), root, parameters, &file, &information);
    if (root) ob::dereference(root);
    if (!NT_SUCCESS(status)) return status;
    IoStatusBlock->Status = status;
    IoStatusBlock->Information = information;
    *FileHandle = ob::insert_handle(file, DesiredAccess);
    ob::dereference(file);
    return status;
}

extern "C" NTSTATUS NTAPI ZwReadFile(HANDLE FileHandle, HANDLE Event, PIO_APC_ROUTINE ApcRoutine,
                                     PVOID ApcContext, PIO_STATUS_BLOCK IoStatusBlock, PVOID Buffer,
                                     ULONG Length, PLARGE_INTEGER ByteOffset, PULONG Key) {
    (void)Key;
    return transfer("ZwReadFile", FileHandle, Event, false, ApcRoutine, ApcContext, IoStatusBlock,
                    Buffer, Length, ByteOffset);
}

extern "C" NTSTATUS NTAPI ZwWriteFile(HANDLE FileHandle, HANDLE Event, PIO_APC_ROUTINE ApcRoutine,
                                      PVOID ApcContext, PIO_STATUS_BLOCK IoStatusBlock,
                                      PVOID Buffer, ULONG Length, PLARGE_INTEGER ByteOffset,
                                      PULONG Key) {
    (void)Key;
    return transfer("ZwWriteFile", FileHandle, Event, true, ApcRoutine, ApcContext, IoStatusBlock,
                    Buffer, Length, ByteOffset);
}

extern "C" NTSTATUS NTAPI ZwDeviceIoControlFile(HANDLE FileHandle, HANDLE Event,
                                                PIO_APC_ROUTINE ApcRoutine, PVOID ApcContext,
                                                PIO_STATUS_BLOCK IoStatusBlock, ULONG IoControlCode,
                                                PVOID InputBuffer, ULONG InputBufferLength,
                                                PVOID OutputBuffer, ULONG OutputBufferLength) {
    return control("ZwDeviceIoControlFile", FileHandle, Event, IRP_MJ_DEVICE_CONTROL, ApcRoutine,
                   ApcContext, IoStatusBlock, IoControlCode, InputBuffer, InputBufferLength,
                   OutputBuffer, OutputBufferLength);
}

extern "C" NTSTATUS NTAPI ZwFsControlFile(HANDLE FileHandle, HANDLE Event,
                                          PIO_APC_ROUTINE ApcRoutine, PVOID ApcContext,
                                          PIO_STATUS_BLOCK IoStatusBlock, ULONG FsControlCode,
                                          PVOID InputBuffer, ULONG InputBufferLength,
                                          PVOID OutputBuffer, ULONG OutputBufferLength) {
    return control("ZwFsControlFile", FileHandle, Event, IRP_MJ_FILE_SYSTEM_CONTROL, ApcRoutine,
                   ApcContext, IoStatusBlock, FsControlCode, InputBuffer, InputBufferLength,
                   OutputBuffer, OutputBufferLength);
}

extern "C" NTSTATUS NTAPI ZwQueryInformationFile(HANDLE FileHandle, PIO_STATUS_BLOCK IoStatusBlock,
                                                 PVOID FileInformation, ULONG Length,
                                                 FILE_INFORMATION_CLASS FileInformationClass) {
    TRACE("ntoskrnl", "ZwQueryInformationFile(%p, %u, %d)", FileHandle, Length,
          static_cast<int>(FileInformationClass));
    require_passive_level("ZwQueryInformationFile");
    NTSTATUS status;
    PFILE_OBJECT file = file_of(FileHandle, &status);
    if (!file) return status;
    ULONG_PTR written = 0;
    if (io::is_host_file(file)) {
        auto host = io::host_file(file);
        status = host ? query_host(*host, FileInformation, Length, FileInformationClass, &written)
                      : STATUS_FILE_CLOSED;
    } else if (FileInformationClass == FileAlignmentInformation) {
        // The I/O manager answers these for a device's file itself.
        const FILE_ALIGNMENT_INFORMATION alignment{io::target_device(file)->AlignmentRequirement};
        status = copy_out(alignment, FileInformation, Length, &written);
    } else if (FileInformationClass == FilePositionInformation) {
        const FILE_POSITION_INFORMATION position{file->CurrentByteOffset};
        status = copy_out(position, FileInformation, Length, &written);
    } else {
        not_implemented("ZwQueryInformationFile of this class on a device");
    }
    ob::dereference(file);
    if (NT_SUCCESS(status)) {
        IoStatusBlock->Status = status;
        IoStatusBlock->Information = written;
    }
    return status;
}

extern "C" NTSTATUS NTAPI ZwSetInformationFile(HANDLE FileHandle, PIO_STATUS_BLOCK IoStatusBlock,
                                               PVOID FileInformation, ULONG Length,
                                               FILE_INFORMATION_CLASS FileInformationClass) {
    TRACE("ntoskrnl", "ZwSetInformationFile(%p, %u, %d)", FileHandle, Length,
          static_cast<int>(FileInformationClass));
    require_passive_level("ZwSetInformationFile");
    NTSTATUS status;
    PFILE_OBJECT file = file_of(FileHandle, &status);
    if (!file) return status;
    if (io::is_host_file(file)) {
        auto host = io::host_file(file);
        status = host ? set_host(*host, FileInformation, Length, FileInformationClass)
                      : STATUS_FILE_CLOSED;
    } else if (FileInformationClass == FilePositionInformation) {
        FILE_POSITION_INFORMATION position;
        if (copy_in(&position, FileInformation, Length))
            file->CurrentByteOffset = position.CurrentByteOffset;
        else
            status = STATUS_INFO_LENGTH_MISMATCH;
    } else {
        not_implemented("ZwSetInformationFile of this class on a device");
    }
    ob::dereference(file);
    if (NT_SUCCESS(status)) {
        IoStatusBlock->Status = status;
        IoStatusBlock->Information = 0;
    }
    return status;
}
