// Attaching and detaching a disk's image file; the worker calls these for OPEN and CLOSE. An image
// is opened unbuffered, synchronous and unshared; a missing one is created sparse and hidden when
// the request gives it a size. An image, or a size to create one with, that is not a whole number
// of sectors (at least one) is refused with STATUS_INVALID_PARAMETER.
#include "driver/orvik.h"

namespace {

constexpr ULONG kImageOpenOptions = FILE_NO_INTERMEDIATE_BUFFERING | FILE_SYNCHRONOUS_IO_NONALERT |
                                    FILE_NON_DIRECTORY_FILE | FILE_RANDOM_ACCESS;
static_assert(kImageOpenOptions == 0x868);

// Driver-wide table of one byte per 4 KiB of the last image created. Nothing reads it.
PUCHAR g_BlockMap;

BOOLEAN AllocBlockMap(ULONGLONG bytes) {
    FreeBlockMap();
    if (bytes == 0) return TRUE;  // an image under 4 KiB has no whole block
    g_BlockMap = static_cast<PUCHAR>(AllocNonPaged(bytes));
    if (!g_BlockMap) return FALSE;
    RtlZeroMemory(g_BlockMap, bytes);
    return TRUE;
}

// A disk is whole sectors: an image of less than one sector, or of part of one at its end, would
// take the OPEN and then fail reads and writes of its last sectors.
BOOLEAN WholeSectors(LONGLONG size) {
    constexpr LONGLONG kSector = kSectorSize;
    return size >= kSector && size % kSector == 0;
}

VOID FreeImageFileName(OrvikDeviceExtension* extension) {
    if (extension->ImageName.Buffer) FreeNonPaged(extension->ImageName.Buffer);
    extension->ImageName.Buffer = nullptr;
    extension->ImageName.Length = 0;
    extension->ImageName.MaximumLength = 0;
}

NTSTATUS OpenImage(PHANDLE handle, PUNICODE_STRING name, ULONG disposition,
                   PIO_STATUS_BLOCK ioStatus) {
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, name, OBJ_CASE_INSENSITIVE, nullptr, nullptr);
    return ZwCreateFile(handle, GENERIC_READ | GENERIC_WRITE, &attributes, ioStatus, nullptr,
                        FILE_ATTRIBUTE_NORMAL, 0, disposition, kImageOpenOptions, nullptr, 0);
}

// A file that this OPEN created: sparse, size bytes long, hidden, with a fresh block map (none
// for a size the file cannot take).
NTSTATUS PrepareCreatedImage(HANDLE handle, LONGLONG size) {
    IO_STATUS_BLOCK ioStatus;
    ZwFsControlFile(handle, nullptr, nullptr, nullptr, &ioStatus, FSCTL_SET_SPARSE, nullptr, 0,
                    nullptr, 0);
    FILE_END_OF_FILE_INFORMATION endOfFile;
    endOfFile.EndOfFile.QuadPart = size;
    NTSTATUS status = ZwSetInformationFile(handle, &ioStatus, &endOfFile, sizeof endOfFile,
                                           FileEndOfFileInformation);
    if (!NT_SUCCESS(status)) return status;
    if (!AllocBlockMap(static_cast<ULONGLONG>(size) >> 12)) return STATUS_NO_MEMORY;
    FILE_BASIC_INFORMATION basic = {};
    if (NT_SUCCESS(ZwQueryInformationFile(handle, &ioStatus, &basic, sizeof basic,
                                          FileBasicInformation))) {
        basic.FileAttributes |= FILE_ATTRIBUTE_HIDDEN;
        ZwSetInformationFile(handle, &ioStatus, &basic, sizeof basic, FileBasicInformation);
    }
    return STATUS_SUCCESS;
}

}  // namespace

VOID FreeBlockMap() {
    if (g_BlockMap) FreeNonPaged(g_BlockMap);
    g_BlockMap = nullptr;
}

// IOCTL_ORVIK_OPEN_IMAGE, after dispatch checked the record (the request's system buffer) and set
// the driver-wide values. Success leaves the disk with media; failure leaves it without.
NTSTATUS OpenImageFile(PDEVICE_OBJECT device, PIRP irp) {
    OrvikDeviceExtension* extension = DiskExtension(device);
    const wire::file_descriptor::Fields record =
        wire::file_descriptor::Decode(static_cast<const UCHAR*>(irp->AssociatedIrp.SystemBuffer));
    irp->IoStatus.Information = 0;
    // A second OPEN that was queued before the first attached the image.
    if (extension->MediaPresent) return STATUS_INVALID_DEVICE_REQUEST;

    const USHORT nameLength = record.wFileNameLength;
    const LONGLONG fileSize = record.llFileSize;
    extension->ImageName.Buffer = static_cast<PCHAR>(AllocNonPaged(nameLength));
    if (!extension->ImageName.Buffer) return STATUS_INSUFFICIENT_RESOURCES;
    RtlCopyMemory(extension->ImageName.Buffer, record.szFileName, nameLength);
    extension->ImageName.Length = nameLength;
    extension->ImageName.MaximumLength = nameLength;

    UNICODE_STRING name;
    NTSTATUS status = RtlAnsiStringToUnicodeString(&name, &extension->ImageName, TRUE);
    if (!NT_SUCCESS(status)) {
        FreeImageFileName(extension);
        return status;
    }

    HANDLE handle = nullptr;
    BOOLEAN created = FALSE;
    status = OpenImage(&handle, &name, FILE_OPEN, &irp->IoStatus);
    if (status == STATUS_OBJECT_NAME_NOT_FOUND || status == STATUS_NO_SUCH_FILE) {
        if (fileSize == 0) {
            status = STATUS_NO_SUCH_FILE;
        } else if (!WholeSectors(fileSize)) {
            status = STATUS_INVALID_PARAMETER;  // refused before a file is made
        } else {
            status = OpenImage(&handle, &name, FILE_OPEN_IF, &irp->IoStatus);
            if (NT_SUCCESS(status) && irp->IoStatus.Information == FILE_CREATED) {
                status = PrepareCreatedImage(handle, fileSize);
                if (!NT_SUCCESS(status)) ZwClose(handle);
                created = TRUE;
            }
        }
    }
    RtlFreeUnicodeString(&name);
    irp->IoStatus.Information = 0;
    if (!NT_SUCCESS(status)) {
        FreeImageFileName(extension);
        return status;
    }

    FILE_STANDARD_INFORMATION standard;
    FILE_ALIGNMENT_INFORMATION alignment;
    IO_STATUS_BLOCK ioStatus;
    status = ZwQueryInformationFile(handle, &ioStatus, &standard, sizeof standard,
                                    FileStandardInformation);
    if (NT_SUCCESS(status)) {
        extension->ImageSize = standard.EndOfFile.QuadPart;
        status = WholeSectors(extension->ImageSize)
                     ? ZwQueryInformationFile(handle, &ioStatus, &alignment, sizeof alignment,
                                              FileAlignmentInformation)
                     : STATUS_INVALID_PARAMETER;
#if defined(ORVIK_WINE_TEST_BUILD)
        // The test build for Wine's kernel only, never shipped: Wine answers this query on a file
        // with STATUS_NOT_IMPLEMENTED, where Windows answers it. Byte alignment stands in.
        if (status == STATUS_NOT_IMPLEMENTED) {
            alignment.AlignmentRequirement = FILE_BYTE_ALIGNMENT;
            status = STATUS_SUCCESS;
        }
#endif
    }
    if (NT_SUCCESS(status) && g_dwEnableCrypte == HW_CRYPT &&
        (!HwCryptThreadStarted() || OpenCryptoDevice(&extension->CardSession) != 0))
        status = STATUS_NO_SUCH_DEVICE;
    if (!NT_SUCCESS(status)) {
        FreeImageFileName(extension);
        ZwClose(handle);
        return status;
    }

    device->Characteristics &= ~FILE_READ_ONLY_DEVICE;
    device->AlignmentRequirement = alignment.AlignmentRequirement;
    extension->ImageHandle = handle;
    extension->Created = created;
    extension->MediaPresent = 1;
    return STATUS_SUCCESS;
}

// Detaches the attached image: the card reference its OPEN took, the name, the handle and, for an
// image that the OPEN created, the block map.
VOID DetachImageFile(OrvikDeviceExtension* extension) {
    if (extension->CardSession) {
        ReleaseCryptoDevice(extension->CardSession);
        extension->CardSession = 0;
    }
    FreeImageFileName(extension);
    ZwClose(extension->ImageHandle);
    extension->ImageHandle = nullptr;
    extension->MediaPresent = 0;
    if (extension->Created) {
        FreeBlockMap();
        extension->Created = 0;
    }
}

// IOCTL_ORVIK_CLOSE_IMAGE.
NTSTATUS CloseImageFile(PDEVICE_OBJECT device, PIRP irp) {
    OrvikDeviceExtension* extension = DiskExtension(device);
    irp->IoStatus.Information = 0;
    // A second CLOSE that was queued before the first detached the image.
    if (!extension->MediaPresent) return STATUS_NO_MEDIA_IN_DEVICE;
    DetachImageFile(extension);
    return STATUS_SUCCESS;
}
