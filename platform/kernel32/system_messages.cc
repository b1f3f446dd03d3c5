#include "platform/kernel32/system_messages.h"

#include <algorithm>
#include <iterator>

#include "platform/win32.h"

namespace platform {
namespace {

struct Message {
    uint32_t code;
    const char* text;
};

// Every error in platform/api/winerror.h, in order of code.
constexpr Message kMessages[] = {
    {ERROR_SUCCESS, "The operation completed successfully.\r\n"},
    {ERROR_INVALID_FUNCTION, "Incorrect function.\r\n"},
    {ERROR_FILE_NOT_FOUND, "The system cannot find the file specified.\r\n"},
    {ERROR_PATH_NOT_FOUND, "The system cannot find the path specified.\r\n"},
    {ERROR_ACCESS_DENIED, "Access is denied.\r\n"},
    {ERROR_INVALID_HANDLE, "The handle is invalid.\r\n"},
    {ERROR_NOT_ENOUGH_MEMORY,
     "Not enough memory resources are available to process this command.\r\n"},
    {ERROR_INVALID_DATA, "The data is invalid.\r\n"},
    {ERROR_INVALID_DRIVE, "The system cannot find the drive specified.\r\n"},
    {ERROR_NOT_SAME_DEVICE, "The system cannot move the file to a different disk drive.\r\n"},
    {ERROR_NOT_READY, "The device is not ready.\r\n"},
    {ERROR_CRC, "Data error (cyclic redundancy check).\r\n"},
    {ERROR_BAD_LENGTH, "The program issued a command but the command length is incorrect.\r\n"},
    {ERROR_GEN_FAILURE, "A device attached to the system is not functioning.\r\n"},
    {ERROR_SHARING_VIOLATION,
     "The process cannot access the file because it is being used by another process.\r\n"},
    {ERROR_LOCK_VIOLATION,
     "The process cannot access the file because another process has locked a portion of the "
     "file.\r\n"},
    {ERROR_HANDLE_EOF, "Reached the end of the file.\r\n"},
    {ERROR_NOT_SUPPORTED, "The request is not supported.\r\n"},
    {ERROR_BAD_NETPATH, "The network path was not found.\r\n"},
    {ERROR_FILE_EXISTS, "The file exists.\r\n"},
    {ERROR_INVALID_PARAMETER, "The parameter is incorrect.\r\n"},
    {ERROR_DISK_FULL, "There is not enough space on the disk.\r\n"},
    {ERROR_CALL_NOT_IMPLEMENTED, "This function is not supported on this system.\r\n"},
    {ERROR_SEM_TIMEOUT, "The semaphore timeout period has expired.\r\n"},
    {ERROR_INSUFFICIENT_BUFFER, "The data area passed to a system call is too small.\r\n"},
    {ERROR_INVALID_NAME, "The filename, directory name, or volume label syntax is incorrect.\r\n"},
    {ERROR_NEGATIVE_SEEK,
     "An attempt was made to move the file pointer before the beginning of the file.\r\n"},
    {ERROR_NOT_LOCKED, "The segment is already unlocked.\r\n"},
    {ERROR_BAD_PATHNAME, "The specified path is invalid.\r\n"},
    {ERROR_BUSY, "The requested resource is in use.\r\n"},
    {ERROR_ALREADY_EXISTS, "Cannot create a file when that file already exists.\r\n"},
    {ERROR_FILENAME_EXCED_RANGE, "The filename or extension is too long.\r\n"},
    {ERROR_MORE_DATA, "More data is available.\r\n"},
    {ERROR_NO_MORE_ITEMS, "No more data is available.\r\n"},
    {ERROR_DIRECTORY, "The directory name is invalid.\r\n"},
    {ERROR_MR_MID_NOT_FOUND,
     "The system cannot find message text for message number 0x%1 in the message file for "
     "%2.\r\n"},
    {ERROR_NO_SUCH_DEVICE, "A device which does not exist was specified.\r\n"},
    {ERROR_OPERATION_ABORTED,
     "The I/O operation has been aborted because of either a thread exit or an application "
     "request.\r\n"},
    {ERROR_IO_INCOMPLETE, "Overlapped I/O event is not in a signaled state.\r\n"},
    {ERROR_IO_PENDING, "Overlapped I/O operation is in progress.\r\n"},
    {ERROR_NOACCESS, "Invalid access to memory location.\r\n"},
    {ERROR_INVALID_FLAGS, "Invalid flags.\r\n"},
    {ERROR_UNRECOGNIZED_VOLUME,
     "The volume does not contain a recognized file system.\r\nPlease make sure that all required "
     "file system drivers are loaded and that the volume is not corrupted.\r\n"},
    {ERROR_SERVICE_ALREADY_RUNNING, "An instance of the service is already running.\r\n"},
    {ERROR_IO_DEVICE, "The request could not be performed because of an I/O device error.\r\n"},
    {ERROR_DEVICE_NOT_CONNECTED, "The device is not connected.\r\n"},
    {ERROR_NOT_FOUND, "Element not found.\r\n"},
    {ERROR_UNKNOWN_REVISION, "The revision level is unknown.\r\n"},
    {ERROR_PRIVILEGE_NOT_HELD, "A required privilege is not held by the client.\r\n"},
    {ERROR_INVALID_SID, "The security ID structure is invalid.\r\n"},
    {ERROR_INVALID_SECURITY_DESCR, "The security descriptor structure is invalid.\r\n"},
    {ERROR_NO_SYSTEM_RESOURCES,
     "Insufficient system resources exist to complete the requested service.\r\n"},
    {ERROR_TIMEOUT, "This operation returned because the timeout period expired.\r\n"},
    {ERROR_INVALID_USER_BUFFER,
     "The supplied user buffer is not valid for the requested operation.\r\n"},
    {ERROR_RESOURCE_LANG_NOT_FOUND,
     "The specified resource language ID cannot be found in the image file.\r\n"},
};

constexpr bool ordered() {
    for (size_t i = 1; i < std::size(kMessages); ++i)
        if (kMessages[i - 1].code >= kMessages[i].code) return false;
    return true;
}
static_assert(ordered());

}  // namespace

const char* system_message(uint32_t code) {
    const auto* found = std::lower_bound(
        std::begin(kMessages), std::end(kMessages), code,
        [](const Message& message, uint32_t wanted) { return message.code < wanted; });
    return found != std::end(kMessages) && found->code == code ? found->text : nullptr;
}

}  // namespace platform
