// The host side of plain files: descriptors, their data, sizes, identities and byte-range locks.
// Results are NT status values; no host header is needed to use these.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/ddk/ntstatus.h"

namespace platform::unix_file {

struct Identity {
    uint64_t device = 0;
    uint64_t inode = 0;
    bool operator==(const Identity&) const = default;
};

struct Status {
    Identity identity;
    uint64_t size = 0;
    uint64_t allocated = 0;  // bytes the host stores for it (less than size for a sparse file)
    uint32_t links = 0;
    bool directory = false;
    bool read_only = false;         // no write permission for anyone: FILE_ATTRIBUTE_READONLY
    uint32_t owner = 0, group = 0;  // the host's user and group ids
    uint32_t permissions = 0;       // read, write, execute for owner, group, others (0777)
    // Times in 100 ns units since 1601-01-01, as Windows counts them.
    uint64_t creation_time = 0, access_time = 0, write_time = 0;
};

struct OpenMode {
    bool create = false;  // create the file, failing when it exists
    bool write = false;   // the descriptor must allow writing
    bool write_through = false;
    int permissions = -1;  // of a file created: exactly these (0777 bits); -1: the host's default
};

// A descriptor for path (>= 0), or the status of the failure.
NTSTATUS open(const std::string& path, const OpenMode& mode, int* fd);
void close(int fd);

NTSTATUS status(int fd, Status* out);
NTSTATUS status(const std::string& path, Status* out);

// Reads or writes at offset until length bytes are moved or the end of the file is reached.
NTSTATUS read_at(int fd, void* buffer, size_t length, uint64_t offset, size_t* done);
NTSTATUS write_at(int fd, const void* buffer, size_t length, uint64_t offset, size_t* done);
NTSTATUS truncate(int fd, uint64_t size);

// The Windows attributes that the host has no place for (hidden, system, sparse, ...), kept in an
// extended attribute of the file; 0 when none were set.
NTSTATUS get_attributes(int fd, uint32_t* attributes);
NTSTATUS set_attributes(int fd, uint32_t attributes);
NTSTATUS sync(int fd);
// Syncs a file or folder by name (a folder's entries after a rename).
void sync_path(const std::string& path);

NTSTATUS remove_file(const std::string& path);
// Replaces to when it exists, in one step.
NTSTATUS rename_file(const std::string& from, const std::string& to);

// Offsets from here on are the layer's own: no file holds data there, and byte-range locks of
// callers stop below. The share access of the opens is kept in locks there (share_access.h).
constexpr uint64_t kShareBytes = (1ull << 63) - 64;

enum class LockType { kUnlock, kShared, kExclusive };
// Sets the descriptor's own lock over [start, start + length). Locks belong to the open file
// description, so two descriptors of one process exclude each other as two handles do on Windows.
// wait: block until the range is free; otherwise STATUS_LOCK_NOT_GRANTED when another holds it.
NTSTATUS set_lock(int fd, uint64_t start, uint64_t length, LockType type, bool wait);
// Whether another open file description holds a lock on the byte at offset.
bool lock_held_elsewhere(int fd, uint64_t offset);

}  // namespace platform::unix_file
