#include "platform/ntoskrnl/fs/share_access.h"

#include "platform/ddk/ntstatus.h"
#include "platform/unix/unix_file.h"
#include "platform/win32.h"

namespace ntoskrnl::fs {

namespace unix_file = platform::unix_file;
namespace {

using unix_file::LockType;

enum Byte : uint64_t {
    kReads,
    kWrites,
    kDeletes,
    kRefusesRead,
    kRefusesWrite,
    kRefusesDelete,
    kOpen,
    kGate,
};

uint64_t offset_of(Byte byte) {
    return unix_file::kShareBytes + byte;
}

bool held_elsewhere(int fd, Byte byte) {
    return unix_file::lock_held_elsewhere(fd, offset_of(byte));
}

void hold(int fd, Byte byte) {
    unix_file::set_lock(fd, offset_of(byte), 1, LockType::kShared, false);
}

struct Wants {
    bool read, write, erase;
    bool share_read, share_write, share_delete;
    bool checked() const { return read || write || erase; }
};

Wants wants(uint32_t access, uint32_t share) {
    return {(access & (FILE_READ_DATA | FILE_EXECUTE)) != 0,
            (access & (FILE_WRITE_DATA | FILE_APPEND_DATA)) != 0,
            (access & DELETE) != 0,
            (share & FILE_SHARE_READ) != 0,
            (share & FILE_SHARE_WRITE) != 0,
            (share & FILE_SHARE_DELETE) != 0};
}

// The gate's host lock orders processes; this orders the threads of one process, whose
// descriptors would otherwise meet only at the host.
std::mutex& process_gate() {
    static std::mutex* instance = new std::mutex;
    return *instance;
}

}  // namespace

ShareGate::ShareGate(int fd) : local_(process_gate()), fd_(fd) {
    // A descriptor the host opened read-only cannot take it: the process's own gate must do.
    held_ =
        unix_file::set_lock(fd, offset_of(kGate), 1, LockType::kExclusive, true) == STATUS_SUCCESS;
}

ShareGate::~ShareGate() {
    if (held_) unix_file::set_lock(fd_, offset_of(kGate), 1, LockType::kUnlock, false);
}

bool share_access_allows(int fd, uint32_t access, uint32_t share) {
    const Wants w = wants(access, share);
    if (!w.checked()) return true;
    // Some open refuses what this one asks for, or has what this one refuses to share.
    if (w.read && held_elsewhere(fd, kRefusesRead)) return false;
    if (w.write && held_elsewhere(fd, kRefusesWrite)) return false;
    if (w.erase && held_elsewhere(fd, kRefusesDelete)) return false;
    if (!w.share_read && held_elsewhere(fd, kReads)) return false;
    if (!w.share_write && held_elsewhere(fd, kWrites)) return false;
    if (!w.share_delete && held_elsewhere(fd, kDeletes)) return false;
    return true;
}

void share_access_join(int fd, uint32_t access, uint32_t share) {
    hold(fd, kOpen);
    const Wants w = wants(access, share);
    if (!w.checked()) return;
    if (w.read) hold(fd, kReads);
    if (w.write) hold(fd, kWrites);
    if (w.erase) hold(fd, kDeletes);
    if (!w.share_read) hold(fd, kRefusesRead);
    if (!w.share_write) hold(fd, kRefusesWrite);
    if (!w.share_delete) hold(fd, kRefusesDelete);
}

bool share_access_open_elsewhere(int fd) {
    return held_elsewhere(fd, kOpen);
}

}  // namespace ntoskrnl::fs
