// The Zw services: files, directory objects, handles and device control from kernel mode.
// File names are object names: "\??\C:\x" (the drive folder under the machine root) or a device
// path such as "\Device\Name" or "\GLOBAL??\Link".
#pragma once

#include "platform/ddk/io.h"

enum _FILE_INFORMATION_CLASS : int {
    FileDirectoryInformation = 1,
    FileFullDirectoryInformation,
    FileBothDirectoryInformation,
    FileBasicInformation,
    FileStandardInformation,
    FileInternalInformation,
    FileEaInformation,
    FileAccessInformation,
    FileNameInformation,
    FileRenameInformation,
    FileLinkInformation,
    FileNamesInformation,
    FileDispositionInformation,
    FilePositionInformation,
    FileFullEaInformation,
    FileModeInformation,
    FileAlignmentInformation,
    FileAllInformation,
    FileAllocationInformation,
    FileEndOfFileInformation,
};

typedef struct _FILE_BASIC_INFORMATION {
    LARGE_INTEGER CreationTime;
    LARGE_INTEGER LastAccessTime;
    LARGE_INTEGER LastWriteTime;
    LARGE_INTEGER ChangeTime;
    ULONG FileAttributes;
} FILE_BASIC_INFORMATION, *PFILE_BASIC_INFORMATION;

typedef struct _FILE_STANDARD_INFORMATION {
    LARGE_INTEGER AllocationSize;
    LARGE_INTEGER EndOfFile;
    ULONG NumberOfLinks;
    BOOLEAN DeletePending;
    BOOLEAN Directory;
} FILE_STANDARD_INFORMATION, *PFILE_STANDARD_INFORMATION;

typedef struct _FILE_POSITION_INFORMATION {
    LARGE_INTEGER CurrentByteOffset;
} FILE_POSITION_INFORMATION, *PFILE_POSITION_INFORMATION;

typedef struct _FILE_ALIGNMENT_INFORMATION {
    ULONG AlignmentRequirement;
} FILE_ALIGNMENT_INFORMATION, *PFILE_ALIGNMENT_INFORMATION;

typedef struct _FILE_END_OF_FILE_INFORMATION {
    LARGE_INTEGER EndOfFile;
} FILE_END_OF_FILE_INFORMATION, *PFILE_END_OF_FILE_INFORMATION;

// Create dispositions.
#define FILE_SUPERSEDE 0x00000000
#define FILE_OPEN 0x00000001
#define FILE_CREATE 0x00000002
#define FILE_OPEN_IF 0x00000003
#define FILE_OVERWRITE 0x00000004
#define FILE_OVERWRITE_IF 0x00000005

// Create options.
#define FILE_DIRECTORY_FILE 0x00000001
#define FILE_WRITE_THROUGH 0x00000002
#define FILE_SEQUENTIAL_ONLY 0x00000004
#define FILE_NO_INTERMEDIATE_BUFFERING 0x00000008
#define FILE_SYNCHRONOUS_IO_ALERT 0x00000010
#define FILE_SYNCHRONOUS_IO_NONALERT 0x00000020
#define FILE_NON_DIRECTORY_FILE 0x00000040
#define FILE_RANDOM_ACCESS 0x00000800
#define FILE_DELETE_ON_CLOSE 0x00001000

// What a create did, in the status block's Information.
#define FILE_SUPERSEDED 0x00000000
#define FILE_OPENED 0x00000001
#define FILE_CREATED 0x00000002
#define FILE_OVERWRITTEN 0x00000003
#define FILE_EXISTS 0x00000004
#define FILE_DOES_NOT_EXIST 0x00000005

// ByteOffset.HighPart -1 with this LowPart: at the handle's position.
#define FILE_USE_FILE_POINTER_POSITION 0xfffffffe
#define FILE_WRITE_TO_END_OF_FILE 0xffffffff

#define FILE_BYTE_ALIGNMENT 0x00000000
#define FILE_WORD_ALIGNMENT 0x00000001
#define FILE_LONG_ALIGNMENT 0x00000003
#define FILE_QUAD_ALIGNMENT 0x00000007
#define FILE_OCTA_ALIGNMENT 0x0000000f
#define FILE_32_BYTE_ALIGNMENT 0x0000001f
#define FILE_64_BYTE_ALIGNMENT 0x0000003f
#define FILE_128_BYTE_ALIGNMENT 0x0000007f
#define FILE_256_BYTE_ALIGNMENT 0x000000ff
#define FILE_512_BYTE_ALIGNMENT 0x000001ff

extern "C" {

// Opens or creates a file or opens a device. IoStatusBlock->Information tells what was done
// (FILE_OPENED, FILE_CREATED, ...). A missing file gives STATUS_OBJECT_NAME_NOT_FOUND, a missing
// folder or object directory STATUS_OBJECT_PATH_NOT_FOUND; share modes are enforced against
// every open of the file, user mode's included.
NTSTATUS NTAPI ZwCreateFile(PHANDLE FileHandle, ACCESS_MASK DesiredAccess,
                            POBJECT_ATTRIBUTES ObjectAttributes, PIO_STATUS_BLOCK IoStatusBlock,
                            PLARGE_INTEGER AllocationSize, ULONG FileAttributes, ULONG ShareAccess,
                            ULONG CreateDisposition, ULONG CreateOptions, PVOID EaBuffer,
                            ULONG EaLength);
// Reads or writes at ByteOffset (null: at the position of a synchronous handle).
NTSTATUS NTAPI ZwReadFile(HANDLE FileHandle, HANDLE Event, PIO_APC_ROUTINE ApcRoutine,
                          PVOID ApcContext, PIO_STATUS_BLOCK IoStatusBlock, PVOID Buffer,
                          ULONG Length, PLARGE_INTEGER ByteOffset, PULONG Key);
NTSTATUS NTAPI ZwWriteFile(HANDLE FileHandle, HANDLE Event, PIO_APC_ROUTINE ApcRoutine,
                           PVOID ApcContext, PIO_STATUS_BLOCK IoStatusBlock, PVOID Buffer,
                           ULONG Length, PLARGE_INTEGER ByteOffset, PULONG Key);
NTSTATUS NTAPI ZwQueryInformationFile(HANDLE FileHandle, PIO_STATUS_BLOCK IoStatusBlock,
                                      PVOID FileInformation, ULONG Length,
                                      FILE_INFORMATION_CLASS FileInformationClass);
NTSTATUS NTAPI ZwSetInformationFile(HANDLE FileHandle, PIO_STATUS_BLOCK IoStatusBlock,
                                    PVOID FileInformation, ULONG Length,
                                    FILE_INFORMATION_CLASS FileInformationClass);
// A control request to the device behind the handle. On an asynchronous handle a request that
// the device leaves pending returns STATUS_PENDING; at its end the status block is written, Event
// (or else the file object) is signalled, and ApcRoutine runs on the calling thread in its next
// wait.
NTSTATUS NTAPI ZwDeviceIoControlFile(HANDLE FileHandle, HANDLE Event, PIO_APC_ROUTINE ApcRoutine,
                                     PVOID ApcContext, PIO_STATUS_BLOCK IoStatusBlock,
                                     ULONG IoControlCode, PVOID InputBuffer,
                                     ULONG InputBufferLength, PVOID OutputBuffer,
                                     ULONG OutputBufferLength);
NTSTATUS NTAPI ZwFsControlFile(HANDLE FileHandle, HANDLE Event, PIO_APC_ROUTINE ApcRoutine,
                               PVOID ApcContext, PIO_STATUS_BLOCK IoStatusBlock,
                               ULONG FsControlCode, PVOID InputBuffer, ULONG InputBufferLength,
                               PVOID OutputBuffer, ULONG OutputBufferLength);
NTSTATUS NTAPI ZwClose(HANDLE Handle);
// Waits for the object behind a handle (a thread, an event), as KeWaitForSingleObject does for
// an object pointer.
NTSTATUS NTAPI ZwWaitForSingleObject(HANDLE Handle, BOOLEAN Alertable, PLARGE_INTEGER Timeout);

// Creates an object directory. OBJ_PERMANENT keeps it after its last handle; otherwise (or after
// ZwMakeTemporaryObject) it leaves the namespace when its last handle is closed.
NTSTATUS NTAPI ZwCreateDirectoryObject(PHANDLE DirectoryHandle, ACCESS_MASK DesiredAccess,
                                       POBJECT_ATTRIBUTES ObjectAttributes);
NTSTATUS NTAPI ZwMakeTemporaryObject(HANDLE Handle);

// An object's security descriptor, through a handle with WRITE_DAC (DACL) or READ_CONTROL access.
// Setting takes the parts that SecurityInformation names from an absolute or self-relative
// descriptor (with the DACL, its SE_DACL_PROTECTED bit); querying writes those parts as a
// self-relative descriptor, or STATUS_BUFFER_TOO_SMALL with the size in *LengthNeeded. Only
// owner, group and DACL are kept; an object that was never given a descriptor has an empty one
// (Windows gives every object a default one, which is not modelled).
NTSTATUS NTAPI ZwSetSecurityObject(HANDLE Handle, SECURITY_INFORMATION SecurityInformation,
                                   PSECURITY_DESCRIPTOR SecurityDescriptor);
NTSTATUS NTAPI ZwQuerySecurityObject(HANDLE Handle, SECURITY_INFORMATION SecurityInformation,
                                     PSECURITY_DESCRIPTOR SecurityDescriptor, ULONG Length,
                                     PULONG LengthNeeded);

}  // extern "C"

static_assert(sizeof(FILE_BASIC_INFORMATION) == 40);
static_assert(sizeof(FILE_STANDARD_INFORMATION) == 24);
static_assert(sizeof(FILE_ALIGNMENT_INFORMATION) == 4);
static_assert(sizeof(FILE_END_OF_FILE_INFORMATION) == 8);
