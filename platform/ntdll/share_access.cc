#include "platform/ntdll/share_access.h"

#include <map>
#include <utility>

#include "platform/win32.h"

namespace platform {
namespace {

struct Counts {
    uint32_t handles = 0;     // every open
    uint32_t open_count = 0;  // opens with data access or DELETE
    uint32_t readers = 0, writers = 0, deleters = 0;
    uint32_t shared_read = 0, shared_write = 0, shared_delete = 0;
};

struct Table {
    std::mutex lock;
    std::map<std::pair<uint64_t, uint64_t>, Counts> files;
};

Table& table() {
    static Table* instance = new Table;
    return *instance;
}

std::pair<uint64_t, uint64_t> key(const unix_file::Identity& file) {
    return {file.device, file.inode};
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

}  // namespace

std::unique_lock<std::mutex> lock_share_table() {
    return std::unique_lock(table().lock);
}

bool share_access_allows(const unix_file::Identity& file, uint32_t access, uint32_t share) {
    const Wants w = wants(access, share);
    if (!w.checked()) return true;
    auto it = table().files.find(key(file));
    if (it == table().files.end()) return true;
    const Counts& c = it->second;
    if (w.read && c.shared_read < c.open_count) return false;
    if (w.write && c.shared_write < c.open_count) return false;
    if (w.erase && c.shared_delete < c.open_count) return false;
    if (c.readers && !w.share_read) return false;
    if (c.writers && !w.share_write) return false;
    if (c.deleters && !w.share_delete) return false;
    return true;
}

void share_access_add(const unix_file::Identity& file, uint32_t access, uint32_t share) {
    const Wants w = wants(access, share);
    Counts& c = table().files[key(file)];
    ++c.handles;
    if (!w.checked()) return;
    ++c.open_count;
    c.readers += w.read;
    c.writers += w.write;
    c.deleters += w.erase;
    c.shared_read += w.share_read;
    c.shared_write += w.share_write;
    c.shared_delete += w.share_delete;
}

void share_access_remove(const unix_file::Identity& file, uint32_t access, uint32_t share) {
    const Wants w = wants(access, share);
    auto it = table().files.find(key(file));
    if (it == table().files.end()) return;
    Counts& c = it->second;
    --c.handles;
    if (w.checked()) {
        --c.open_count;
        c.readers -= w.read;
        c.writers -= w.write;
        c.deleters -= w.erase;
        c.shared_read -= w.share_read;
        c.shared_write -= w.share_write;
        c.shared_delete -= w.share_delete;
    }
    if (c.handles == 0) table().files.erase(it);
}

uint32_t share_access_handles(const unix_file::Identity& file) {
    auto it = table().files.find(key(file));
    return it == table().files.end() ? 0 : it->second.handles;
}

}  // namespace platform
