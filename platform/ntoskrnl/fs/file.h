// The kernel's file system of host files: plain files as the NT I/O services see them, opened
// with a disposition, access and share mode, read and written at the file position or at an
// offset, with size, identity and byte-range locks; deletion and renaming by NT name. The I/O
// manager's opens, the Zw calls, kernel32 and the C runtime build on these. Results are NT status
// values (platform/ddk/ntstatus.h).
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "platform/core/object.h"
#include "platform/ntoskrnl/fs/file_locks.h"
#include "platform/unix/unix_file.h"
#include "platform/unix/unix_name.h"

namespace ntoskrnl::fs {

namespace unix_file = platform::unix_file;

// Dispositions (FILE_SUPERSEDE ... FILE_OVERWRITE_IF) and what an open did.
constexpr uint32_t kFileSupersede = 0;
constexpr uint32_t kFileOpen = 1;
constexpr uint32_t kFileCreate = 2;
constexpr uint32_t kFileOpenIf = 3;
constexpr uint32_t kFileOverwrite = 4;
constexpr uint32_t kFileOverwriteIf = 5;
constexpr uint32_t kFileSuperseded = 0;
constexpr uint32_t kFileOpened = 1;
constexpr uint32_t kFileCreated = 2;
constexpr uint32_t kFileOverwritten = 3;

// The offset that writes at the end of the file, whatever its size.
constexpr uint64_t kWriteAtEnd = ~0ull;
constexpr uint32_t kSectorSize = 512;
// What FileAlignmentInformation reports for a file: buffers of unbuffered transfers may lie at
// any address (FILE_BYTE_ALIGNMENT); their offsets and lengths are whole sectors.
constexpr uint32_t kAlignmentRequirement = 0;

// True when nt_path names a host file: "\??\X:\..." of a drive that is not an MS-DOS device
// (DefineDosDeviceA), or "\??\unix\..."; otherwise it names a device or the volume of one.
bool nt_name_is_file(const std::string& nt_path);
// Where a host file's name lives on the host (platform::nt_name_to_unix);
// STATUS_OBJECT_PATH_NOT_FOUND for any other name.
NTSTATUS nt_name_to_host(const std::string& nt_path, platform::UnixName* out);

// Generic rights (GENERIC_READ ...) turned into the file rights they stand for.
uint32_t map_generic_file_access(uint32_t access);

struct FileOpenRequest {
    uint32_t access = 0;  // file rights; generic rights already mapped
    uint32_t share = 0;   // FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE
    uint32_t disposition = kFileOpen;
    bool no_buffering = false;  // offsets, lengths and buffers in whole sectors
    bool write_through = false;
    uint32_t attributes = 0;  // FILE_ATTRIBUTE_HIDDEN, ... for a file the open creates
    int permissions = -1;     // of a file the open creates (0777 bits); -1: the host's default
};

class File : public platform::IoTarget {
  public:
    ~File() override;

    // Reads or writes at *offset, or at the file position (which then advances) when offset is
    // null. Reading at or past the end gives STATUS_END_OF_FILE with *done 0.
    NTSTATUS read(void* buffer, uint32_t length, const uint64_t* offset, uint32_t* done);
    NTSTATUS write(const void* buffer, uint32_t length, const uint64_t* offset, uint32_t* done);

    uint64_t position();
    void set_position(uint64_t position);
    NTSTATUS query(unix_file::Status* out);
    // Sets the end of the file at the file position.
    NTSTATUS set_end_of_file();
    // Sets the end of the file at size (FileEndOfFileInformation); the position stays.
    NTSTATUS set_size(uint64_t size);

    // The file's attributes as Windows reports them: the hidden, system, temporary, archive and
    // sparse ones kept with the file (archive alone for a file that never had others), and
    // read-only when its permissions let no one write it.
    NTSTATUS attributes(uint32_t* out);
    // Sets the kept attributes from FileBasicInformation (0: no change; sparseness stays).
    NTSTATUS set_attributes(uint32_t attributes);
    // Marks the file sparse (FSCTL_SET_SPARSE); the host stores unwritten ranges sparsely anyway.
    NTSTATUS set_sparse();
    NTSTATUS flush();
    NTSTATUS lock(uint64_t offset, uint64_t length, bool exclusive, bool wait);
    NTSTATUS unlock(uint64_t offset, uint64_t length);

  private:
    friend NTSTATUS nt_open_file(const std::string&, const FileOpenRequest&, std::shared_ptr<File>*,
                                 uint32_t*);
    File(int fd, const FileOpenRequest& request, char drive);
    NTSTATUS check_alignment(const void* buffer, uint32_t length, uint64_t offset) const;

    const int fd_;
    const uint32_t access_;
    const bool no_buffering_;
    const char drive_;  // 0 for a host file
    const bool write_limited_, read_limited_;
    std::mutex io_lock_;  // synchronous I/O on a handle is one operation at a time
    uint64_t position_ = 0;
    RangeLocks locks_;
};

// Opens or creates a file. A read-only file (FILE_ATTRIBUTE_READONLY) refuses every open that
// would write it (write or append access, or a disposition that overwrites) with
// STATUS_ACCESS_DENIED, whoever asks and in either mode, as Windows' file systems do.
NTSTATUS nt_open_file(const std::string& nt_path, const FileOpenRequest& request,
                      std::shared_ptr<File>* file, uint32_t* information);
// Deletes a file as DeleteFile does: an open for DELETE sharing everything, which any open
// without FILE_SHARE_DELETE refuses (in any process: platform/ntoskrnl/fs/share_access.h).
NTSTATUS nt_delete_file(const std::string& nt_path);
// Renames a file or folder. The source is opened for DELETE as in nt_delete_file; a target that
// exists is replaced only when asked, and never while it is open.
NTSTATUS nt_rename_file(const std::string& from, const std::string& to, bool replace,
                        bool write_through);

}  // namespace ntoskrnl::fs
