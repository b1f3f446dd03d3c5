#include "platform/ntoskrnl/fs/file.h"

#include <optional>

#include "platform/core/trace.h"
#include "platform/ddk/ntstatus.h"
#include "platform/ntoskrnl/fs/disk_limits.h"
#include "platform/ntoskrnl/fs/share_access.h"
#include "platform/ntoskrnl/ob/namespace.h"
#include "platform/unix/unix_name.h"
#include "platform/win32.h"

namespace ntoskrnl::fs {
namespace {

using platform::UnixName;

constexpr uint32_t kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
// The attributes kept with a file; FILE_ATTRIBUTE_NORMAL stands for "none of them".
constexpr uint32_t kKeptAttributes = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                     FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_TEMPORARY;

// The kept attributes of a file: a file that never had any is archive only, as a new file is.
NTSTATUS kept_attributes(int fd, uint32_t* kept) {
    const NTSTATUS status = unix_file::get_attributes(fd, kept);
    if (status == STATUS_SUCCESS && *kept == 0) *kept = FILE_ATTRIBUTE_ARCHIVE;
    return status;
}

NTSTATUS keep_attributes(int fd, uint32_t kept) {
    return unix_file::set_attributes(fd, kept ? kept : FILE_ATTRIBUTE_NORMAL);
}

bool overwrites(uint32_t disposition) {
    return disposition == kFileSupersede || disposition == kFileOverwrite ||
           disposition == kFileOverwriteIf;
}

bool may_create(uint32_t disposition) {
    return disposition != kFileOpen && disposition != kFileOverwrite;
}

// A descriptor of a file that is only looked at, for the share checks of deleting and renaming;
// with gated, the gate is held meanwhile (one at a time in a thread). A folder has no opens to
// check.
class CheckedFile {
  public:
    CheckedFile(const std::string& path, bool gated) {
        if (unix_file::open(path, {}, &fd_) != STATUS_SUCCESS) fd_ = -1;
        if (fd_ >= 0 && gated) gate_.emplace(fd_);
    }
    ~CheckedFile() {
        gate_.reset();
        if (fd_ >= 0) unix_file::close(fd_);
    }
    bool allows(uint32_t access, uint32_t share) const {
        return fd_ < 0 || share_access_allows(fd_, access, share);
    }
    bool open_elsewhere() const { return fd_ >= 0 && share_access_open_elsewhere(fd_); }

  private:
    int fd_ = -1;
    std::optional<ShareGate> gate_;
};

std::string parent_folder(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos || slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

bool nt_name_is_file(const std::string& nt_path) {
    char drive;
    return platform::nt_name_is_host_path(nt_path, &drive) &&
           !(drive && ob::drive_letter_defined(drive));
}

NTSTATUS nt_name_to_host(const std::string& nt_path, platform::UnixName* out) {
    if (!nt_name_is_file(nt_path)) return STATUS_OBJECT_PATH_NOT_FOUND;
    return platform::nt_name_to_unix(nt_path, out);
}

uint32_t map_generic_file_access(uint32_t access) {
    if (access & GENERIC_READ) access |= FILE_GENERIC_READ;
    if (access & GENERIC_WRITE) access |= FILE_GENERIC_WRITE;
    if (access & GENERIC_EXECUTE) access |= FILE_GENERIC_EXECUTE;
    if (access & (GENERIC_ALL | MAXIMUM_ALLOWED)) access |= FILE_ALL_ACCESS;
    return access &
           ~(GENERIC_READ | GENERIC_WRITE | GENERIC_EXECUTE | GENERIC_ALL | MAXIMUM_ALLOWED);
}

File::File(int fd, const FileOpenRequest& request, char drive)
    : fd_(fd),
      access_(request.access),
      no_buffering_(request.no_buffering),
      drive_(drive),
      write_limited_(drive && drive_has_write_limit(drive)),
      read_limited_(drive && drive_has_read_limit(drive)),
      locks_(fd) {}

File::~File() {
    unix_file::close(fd_);  // the host drops the handle's range locks and share access with it
}

NTSTATUS File::check_alignment(const void* buffer, uint32_t length, uint64_t offset) const {
    if (!no_buffering_) return STATUS_SUCCESS;
    const bool aligned = length % kSectorSize == 0 && offset % kSectorSize == 0 &&
                         (reinterpret_cast<uintptr_t>(buffer) & kAlignmentRequirement) == 0;
    return aligned ? STATUS_SUCCESS : STATUS_INVALID_PARAMETER;
}

NTSTATUS File::read(void* buffer, uint32_t length, const uint64_t* offset, uint32_t* done) {
    *done = 0;
    if (!(access_ & FILE_READ_DATA)) return STATUS_ACCESS_DENIED;
    std::lock_guard guard(io_lock_);
    const uint64_t at = offset ? *offset : position_;
    if (NTSTATUS status = check_alignment(buffer, length, at); status != STATUS_SUCCESS)
        return status;
    size_t got = 0;
    if (NTSTATUS status = unix_file::read_at(fd_, buffer, length, at, &got);
        status != STATUS_SUCCESS)
        return status;
    if (read_limited_ && got > 0) {
        const uint64_t granted = drive_take_read(drive_, got);
        if (granted == 0) return STATUS_IO_DEVICE_ERROR;
        got = static_cast<size_t>(granted);
    }
    if (got == 0 && length > 0) return STATUS_END_OF_FILE;
    position_ = at + got;
    *done = static_cast<uint32_t>(got);
    return STATUS_SUCCESS;
}

NTSTATUS File::write(const void* buffer, uint32_t length, const uint64_t* offset, uint32_t* done) {
    *done = 0;
    if (!(access_ & (FILE_WRITE_DATA | FILE_APPEND_DATA))) return STATUS_ACCESS_DENIED;
    std::lock_guard guard(io_lock_);
    uint64_t at = offset ? *offset : position_;
    if (at == kWriteAtEnd || !(access_ & FILE_WRITE_DATA)) {
        unix_file::Status status;
        if (NTSTATUS result = unix_file::status(fd_, &status); result != STATUS_SUCCESS)
            return result;
        at = status.size;
    } else if (NTSTATUS status = check_alignment(buffer, length, at); status != STATUS_SUCCESS) {
        return status;
    }
    const uint64_t granted = write_limited_ ? drive_take_written(drive_, length) : length;
    size_t put = 0;
    const NTSTATUS status =
        unix_file::write_at(fd_, buffer, static_cast<size_t>(granted), at, &put);
    position_ = at + put;
    *done = static_cast<uint32_t>(put);
    if (status != STATUS_SUCCESS) return status;
    return granted < length ? STATUS_DISK_FULL : STATUS_SUCCESS;
}

uint64_t File::position() {
    std::lock_guard guard(io_lock_);
    return position_;
}

void File::set_position(uint64_t position) {
    std::lock_guard guard(io_lock_);
    position_ = position;
}

NTSTATUS File::query(unix_file::Status* out) {
    return unix_file::status(fd_, out);
}

NTSTATUS File::set_end_of_file() {
    if (!(access_ & FILE_WRITE_DATA)) return STATUS_ACCESS_DENIED;
    std::lock_guard guard(io_lock_);
    return unix_file::truncate(fd_, position_);
}

NTSTATUS File::set_size(uint64_t size) {
    if (!(access_ & FILE_WRITE_DATA)) return STATUS_ACCESS_DENIED;
    std::lock_guard guard(io_lock_);
    return unix_file::truncate(fd_, size);
}

NTSTATUS File::attributes(uint32_t* out) {
    unix_file::Status status;
    uint32_t kept = 0;
    NTSTATUS result = unix_file::status(fd_, &status);
    if (result == STATUS_SUCCESS) result = kept_attributes(fd_, &kept);
    if (result != STATUS_SUCCESS) return result;
    kept &= ~FILE_ATTRIBUTE_NORMAL;
    if (status.read_only) kept |= FILE_ATTRIBUTE_READONLY;
    *out = kept ? kept : FILE_ATTRIBUTE_NORMAL;
    return STATUS_SUCCESS;
}

NTSTATUS File::set_attributes(uint32_t attributes) {
    if (!(access_ & FILE_WRITE_ATTRIBUTES)) return STATUS_ACCESS_DENIED;
    if (attributes == 0) return STATUS_SUCCESS;
    std::lock_guard guard(io_lock_);
    uint32_t kept = 0;
    if (NTSTATUS result = kept_attributes(fd_, &kept); result != STATUS_SUCCESS) return result;
    return keep_attributes(fd_,
                           (attributes & kKeptAttributes) | (kept & FILE_ATTRIBUTE_SPARSE_FILE));
}

NTSTATUS File::set_sparse() {
    if (!(access_ & (FILE_WRITE_DATA | FILE_WRITE_ATTRIBUTES))) return STATUS_ACCESS_DENIED;
    std::lock_guard guard(io_lock_);
    uint32_t kept = 0;
    if (NTSTATUS result = kept_attributes(fd_, &kept); result != STATUS_SUCCESS) return result;
    return keep_attributes(fd_, (kept & ~FILE_ATTRIBUTE_NORMAL) | FILE_ATTRIBUTE_SPARSE_FILE);
}

NTSTATUS File::flush() {
    if (!(access_ & (FILE_WRITE_DATA | FILE_APPEND_DATA))) return STATUS_ACCESS_DENIED;
    return unix_file::sync(fd_);
}

NTSTATUS File::lock(uint64_t offset, uint64_t length, bool exclusive, bool wait) {
    if (!(access_ & (FILE_READ_DATA | FILE_WRITE_DATA))) return STATUS_ACCESS_DENIED;
    std::lock_guard guard(io_lock_);
    return locks_.lock(offset, length, exclusive, wait);
}

NTSTATUS File::unlock(uint64_t offset, uint64_t length) {
    if (!(access_ & (FILE_READ_DATA | FILE_WRITE_DATA))) return STATUS_ACCESS_DENIED;
    std::lock_guard guard(io_lock_);
    return locks_.unlock(offset, length);
}

NTSTATUS nt_open_file(const std::string& nt_path, const FileOpenRequest& request,
                      std::shared_ptr<File>* file, uint32_t* information) {
    TRACE("ntoskrnl", "open_file(\"%s\", %#x, %#x, %u)", nt_path.c_str(), request.access,
          request.share, request.disposition);
    if (request.disposition > kFileOverwriteIf) return STATUS_INVALID_PARAMETER;
    UnixName name;
    if (NTSTATUS status = nt_name_to_host(nt_path, &name); status != STATUS_SUCCESS) return status;
    // A name that is taken, by a folder too, is a collision before anything else.
    if (name.exists && request.disposition == kFileCreate) return STATUS_OBJECT_NAME_COLLISION;
    if (name.exists && name.directory) return STATUS_FILE_IS_A_DIRECTORY;
    if (name.trailing_separator) return STATUS_OBJECT_NAME_INVALID;
    const bool writes = (request.access & (FILE_WRITE_DATA | FILE_APPEND_DATA)) != 0 ||
                        overwrites(request.disposition);
    int fd = -1;
    bool created = false;
    // A file made or removed by someone else between the look-up and the open: try once more.
    for (int attempt = 0; attempt < 2 && fd < 0; ++attempt) {
        if (name.exists && request.disposition == kFileCreate) return STATUS_OBJECT_NAME_COLLISION;
        if (!name.exists && !may_create(request.disposition)) return STATUS_OBJECT_NAME_NOT_FOUND;
        const NTSTATUS status = unix_file::open(
            name.path, {!name.exists, writes, request.write_through, request.permissions}, &fd);
        if (status == STATUS_SUCCESS) {
            created = !name.exists;
        } else if (status == STATUS_OBJECT_NAME_COLLISION ||
                   status == STATUS_OBJECT_NAME_NOT_FOUND) {
            name.exists = !name.exists;
        } else {
            return status;
        }
    }
    if (fd < 0) return STATUS_OBJECT_NAME_NOT_FOUND;
    unix_file::Status status;
    NTSTATUS result = unix_file::status(fd, &status);
    if (result == STATUS_SUCCESS && status.directory) result = STATUS_FILE_IS_A_DIRECTORY;
    // The host would let root write whatever the permissions; the attribute refuses everyone.
    if (result == STATUS_SUCCESS && !created && writes && status.read_only)
        result = STATUS_ACCESS_DENIED;
    if (result == STATUS_SUCCESS) {
        ShareGate gate(fd);
        if (share_access_allows(fd, request.access, request.share))
            share_access_join(fd, request.access, request.share);
        else
            result = STATUS_SHARING_VIOLATION;
    }
    if (result != STATUS_SUCCESS) {
        unix_file::close(fd);
        return result;
    }
    // A new file is archive, with the hidden, system and temporary attributes asked for.
    if (created && (request.attributes & (kKeptAttributes & ~FILE_ATTRIBUTE_ARCHIVE)))
        keep_attributes(fd, FILE_ATTRIBUTE_ARCHIVE | (request.attributes & kKeptAttributes));
    std::shared_ptr<File> opened(new File(fd, request, name.drive));
    if (!created && overwrites(request.disposition)) {
        if (NTSTATUS truncated = unix_file::truncate(fd, 0); truncated != STATUS_SUCCESS)
            return truncated;
    }
    *information = created                                 ? kFileCreated
                   : request.disposition == kFileSupersede ? kFileSuperseded
                   : overwrites(request.disposition)       ? kFileOverwritten
                                                           : kFileOpened;
    *file = std::move(opened);
    return STATUS_SUCCESS;
}

NTSTATUS nt_delete_file(const std::string& nt_path) {
    TRACE("ntoskrnl", "delete_file(\"%s\")", nt_path.c_str());
    UnixName name;
    if (NTSTATUS status = nt_name_to_host(nt_path, &name); status != STATUS_SUCCESS) return status;
    if (name.exists && name.directory) return STATUS_FILE_IS_A_DIRECTORY;
    if (name.trailing_separator) return STATUS_OBJECT_NAME_INVALID;
    if (!name.exists) return STATUS_OBJECT_NAME_NOT_FOUND;
    CheckedFile file(name.path, true);
    if (!file.allows(DELETE, kShareAll)) return STATUS_SHARING_VIOLATION;
    return unix_file::remove_file(name.path);
}

NTSTATUS nt_rename_file(const std::string& from, const std::string& to, bool replace,
                        bool write_through) {
    TRACE("ntoskrnl", "rename_file(\"%s\", \"%s\", %d)", from.c_str(), to.c_str(), replace);
    UnixName source, target;
    if (NTSTATUS status = nt_name_to_host(from, &source); status != STATUS_SUCCESS) return status;
    if (source.trailing_separator && !(source.exists && source.directory))
        return STATUS_OBJECT_NAME_INVALID;
    if (!source.exists) return STATUS_OBJECT_NAME_NOT_FOUND;
    if (NTSTATUS status = nt_name_to_host(to, &target); status != STATUS_SUCCESS) return status;
    if (target.trailing_separator && !(target.exists && target.directory))
        return STATUS_OBJECT_NAME_INVALID;
    if (source.drive != target.drive) return STATUS_NOT_SAME_DEVICE;
    unix_file::Status source_status, target_status;
    if (NTSTATUS status = unix_file::status(source.path, &source_status); status != STATUS_SUCCESS)
        return status;
    if (target.exists) {
        if (NTSTATUS status = unix_file::status(target.path, &target_status);
            status != STATUS_SUCCESS)
            return status;
        if (target_status.identity == source_status.identity) return STATUS_SUCCESS;
        if (!replace) return STATUS_OBJECT_NAME_COLLISION;
        if (target.directory) return STATUS_ACCESS_DENIED;
    }
    CheckedFile file(source.path, true);
    if (!file.allows(DELETE, kShareAll)) return STATUS_SHARING_VIOLATION;
    // Replacing drops the old file's name, which no open of it allows.
    if (target.exists && CheckedFile(target.path, false).open_elsewhere())
        return STATUS_ACCESS_DENIED;
    // Write-through: the data is on disk before the name points at it, and the name after.
    if (write_through) unix_file::sync_path(source.path);
    if (NTSTATUS status = unix_file::rename_file(source.path, target.path);
        status != STATUS_SUCCESS)
        return status;
    if (write_through) unix_file::sync_path(parent_folder(target.path));
    return STATUS_SUCCESS;
}

}  // namespace ntoskrnl::fs
