// Share access, which the host does not keep: Windows' rule for whether a new open may join the
// opens of a file (IoCheckShareAccess), held on the host so that the opens of every process count.
// Each open holds shared host locks on bytes past every offset a file can use: one byte for each
// access it has (read, write, delete), one for each sharing it refuses, and one for being open. A
// new open tests those bytes against the rule, under an exclusive gate byte. An open that asks for
// no data access and no DELETE (attributes only) is not checked and restricts nothing. Closing the
// descriptor, or the end of its process, drops what it held.
#pragma once

#include <cstdint>
#include <mutex>

namespace ntoskrnl::fs {

// Held around a check and what depends on it (taking the open's bytes, a delete, a rename), so
// that no open of another thread or process comes between.
class ShareGate {
  public:
    explicit ShareGate(int fd);
    ~ShareGate();
    ShareGate(const ShareGate&) = delete;
    ShareGate& operator=(const ShareGate&) = delete;

  private:
    std::unique_lock<std::mutex> local_;
    int fd_;
    bool held_;
};

// Under the gate: whether an open with access and share may join the file's other opens.
bool share_access_allows(int fd, uint32_t access, uint32_t share);
// Under the gate: takes the bytes of an open through fd with access and share.
void share_access_join(int fd, uint32_t access, uint32_t share);
// Under the gate: whether another descriptor has the file open, with or without data access.
bool share_access_open_elsewhere(int fd);

}  // namespace ntoskrnl::fs
