#include "platform/ntoskrnl/fs/file_locks.h"

#include <algorithm>

#include "platform/ddk/ntstatus.h"
#include "platform/unix/unix_file.h"

namespace ntoskrnl::fs {

namespace unix_file = platform::unix_file;
namespace {

using unix_file::LockType;

constexpr uint64_t kHostEnd = unix_file::kShareBytes;

// Ends are exclusive; 0 stands for 2^64.
bool overlaps(uint64_t a_start, uint64_t a_end, uint64_t b_start, uint64_t b_end) {
    const bool a_before_b_ends = b_end == 0 || a_start < b_end;
    const bool b_before_a_ends = a_end == 0 || b_start < a_end;
    return a_before_b_ends && b_before_a_ends;
}

bool ends_before(uint64_t a, uint64_t b) {  // a < b with 0 as 2^64
    return b == 0 ? a != 0 : (a != 0 && a < b);
}

NTSTATUS host_set(int fd, uint64_t offset, uint64_t end, LockType type, bool wait) {
    // The host's offsets end below 2^63 and the layer keeps the last ones: ranges are cut at
    // kHostEnd, and one that starts beyond it holds the last byte before it.
    const uint64_t start = std::min(offset, kHostEnd - 1);
    const uint64_t stop = (end == 0 || end > kHostEnd) ? kHostEnd : std::max(end, start + 1);
    return unix_file::set_lock(fd, start, stop - start, type, wait);
}

}  // namespace

void RangeLocks::sync_host(uint64_t offset, uint64_t length) {
    const uint64_t end = offset + length;
    std::vector<uint64_t> cuts = {offset};
    for (const auto& r : held_) {
        if (r.length == 0 || !overlaps(r.offset, r.end(), offset, end)) continue;
        if (r.offset > offset) cuts.push_back(r.offset);
        if (ends_before(r.end(), end)) cuts.push_back(r.end());
    }
    std::sort(cuts.begin(), cuts.end());
    cuts.erase(std::unique(cuts.begin(), cuts.end()), cuts.end());
    for (size_t i = 0; i < cuts.size(); ++i) {
        const uint64_t piece_start = cuts[i];
        const uint64_t piece_end = i + 1 < cuts.size() ? cuts[i + 1] : end;
        LockType type = LockType::kUnlock;
        for (const auto& r : held_) {
            if (r.length == 0 || !overlaps(r.offset, r.end(), piece_start, piece_end)) continue;
            if (r.exclusive)
                type = LockType::kExclusive;
            else if (type == LockType::kUnlock)
                type = LockType::kShared;
        }
        // Only unlocking and turning exclusive into shared happen here: neither waits nor fails.
        host_set(fd_, piece_start, piece_end, type, false);
    }
}

NTSTATUS RangeLocks::lock(uint64_t offset, uint64_t length, bool exclusive, bool wait) {
    const uint64_t end = offset + length;
    if (length != 0 && end != 0 && end < offset) return STATUS_INVALID_PARAMETER;
    if (length == 0) {
        held_.push_back({offset, length, exclusive});
        return STATUS_SUCCESS;
    }
    if (exclusive) {
        for (const auto& r : held_)
            if (r.length != 0 && overlaps(r.offset, r.end(), offset, end))
                return STATUS_LOCK_NOT_GRANTED;
        const NTSTATUS status = host_set(fd_, offset, end, LockType::kExclusive, wait);
        if (status == STATUS_SUCCESS) held_.push_back({offset, length, true});
        return status;
    }
    // Shared: the parts that this handle does not hold exclusively become shared on the host.
    held_.push_back({offset, length, false});
    std::vector<std::pair<uint64_t, uint64_t>> free_parts = {{offset, end}};
    for (const auto& r : held_) {
        if (!r.exclusive || r.length == 0) continue;
        std::vector<std::pair<uint64_t, uint64_t>> rest;
        for (auto [s, e] : free_parts) {
            if (!overlaps(r.offset, r.end(), s, e)) {
                rest.push_back({s, e});
                continue;
            }
            if (s < r.offset) rest.push_back({s, r.offset});
            if (ends_before(r.end(), e)) rest.push_back({r.end(), e});
        }
        free_parts = std::move(rest);
    }
    for (auto [s, e] : free_parts) {
        const NTSTATUS status = host_set(fd_, s, e, LockType::kShared, wait);
        if (status != STATUS_SUCCESS) {
            held_.pop_back();
            sync_host(offset, length);
            return status;
        }
    }
    return STATUS_SUCCESS;
}

NTSTATUS RangeLocks::unlock(uint64_t offset, uint64_t length) {
    auto it = std::find_if(held_.begin(), held_.end(), [&](const Range& r) {
        return r.offset == offset && r.length == length;
    });
    if (it == held_.end()) return STATUS_RANGE_NOT_LOCKED;
    held_.erase(it);
    if (length != 0) sync_host(offset, length);
    return STATUS_SUCCESS;
}

}  // namespace ntoskrnl::fs
