// The volume steps under the exports: mounting an image on an Orvik device and a drive letter,
// taking it down again, formatting it, choosing letters, and the error text. All run on the
// caller's thread and keep no state. The error text of a failed step is "[%s]%s %s" (operation,
// detail, the system's message for the last error) or a step's own text, always written within
// the caller's size and NUL-terminated (nothing is written to a null buffer or a size of 0).
#pragma once

#include <cstdint>

#include "platform/win32.h"
#include "wire/orvik_interface.h"

inline constexpr uint32_t kVolumeChunkSize = 0x10000;  // the card's chunk in card mode

// Bit n stands for the letter 'A' + n: C and E to Z may be offered, A, B and D never are.
inline constexpr DWORD kFreeLetterMask = 0x03FFFFF4;

// What Mount attaches and where. The record: with soft the driver encrypts every sector under key
// (key1, then key2), without it the card at card_device_path does; file_size is the size of the
// image to create when it is missing (0: none is created).
struct MountRequest {
    wire::file_descriptor::Contents record;
    uint32_t device_number;  // the disk "\Device\orvik\device<device_number>"
    char letter;
};

// Attaches the image to the request's disk and defines the letter on it. True when attached and
// defined; a failure leaves nothing behind. Paths longer than the record's fields, or in card mode
// a card path longer than the driver holds, are refused with ERROR_FILENAME_EXCED_RANGE before
// anything is defined.
bool Mount(const MountRequest& request, char* error_text, uint32_t error_text_size);

// Takes the volume on letter down: lock (3 tries, 1 s apart), file-system dismount, image
// detached, unlock when locked, letter removed, the shell told. Without force a volume that stays
// busy is left mounted.
bool Dismount(char letter, bool force, char* error_text, uint32_t error_text_size);

// Runs "FORMAT.com <letter>: /FS:NTFS /Q /Y" and waits for it; its outcome is not reported.
void FormatDrive(char letter);

// Whether a volume may take the letter (upper-cased): in kFreeLetterMask and not in use. When it
// may not, the last error says why: ERROR_ALREADY_EXISTS for a letter in use, ERROR_INVALID_DRIVE
// for one never offered or not a letter at all.
bool IsDriveLetterAvailable(char letter);

// Writes "[operation]detail <the system's message for the thread's last error>"; the last error
// stays as it was.
void ReportLastError(const char* operation, const char* detail, char* error_text,
                     uint32_t error_text_size);
// Writes a formatted error text.
void WriteErrorText(char* error_text, uint32_t error_text_size, const char* format, ...)
    __attribute__((format(printf, 3, 4)));

// The names of a drive letter, as the caller passed it (a lower-case letter stays lower case).
struct DriveNames {
    char dos_name[16];     // "X:"
    char drive_path[16];   // "\\.\X:"
    char notify_path[16];  // "X:\", for the shell
};
DriveNames NamesOfDrive(char letter);
// The drive path opened for reading and writing, unbuffered, as mount and dismount open it.
HANDLE OpenDrive(const char* drive_path);

// One synchronous DeviceIoControl without buffers; true when it succeeds.
bool SendVolumeIoctl(HANDLE handle, DWORD code);
bool UnmountDriverVolume(HANDLE handle);  // IOCTL_ORVIK_CLOSE_IMAGE
bool LockVolume(HANDLE handle);           // FSCTL_LOCK_VOLUME
bool UnlockVolume(HANDLE handle);         // FSCTL_UNLOCK_VOLUME
bool DismountFileSystem(HANDLE handle);   // FSCTL_DISMOUNT_VOLUME
