#include "platform/ntoskrnl/fs/disk_limits.h"

#include <cctype>
#include <map>
#include <mutex>

namespace ntoskrnl::fs {
namespace {

struct Limits {
    std::mutex lock;
    std::map<char, uint64_t> free_bytes;  // drives with a limit; the rest are unlimited
    std::map<char, uint64_t> readable_bytes;
};

Limits& limits() {
    static Limits* instance = new Limits;
    return *instance;
}

char letter(char drive) {
    return static_cast<char>(std::toupper(static_cast<unsigned char>(drive)));
}

bool has(const std::map<char, uint64_t>& budget, char drive) {
    std::lock_guard guard(limits().lock);
    return budget.count(letter(drive)) != 0;
}

uint64_t take(std::map<char, uint64_t>& budget, char drive, uint64_t wanted) {
    std::lock_guard guard(limits().lock);
    auto it = budget.find(letter(drive));
    if (it == budget.end()) return wanted;
    const uint64_t granted = it->second < wanted ? it->second : wanted;
    it->second -= granted;
    return granted;
}

void set(std::map<char, uint64_t>& budget, char drive, uint64_t bytes) {
    std::lock_guard guard(limits().lock);
    budget[letter(drive)] = bytes;
}

void clear(std::map<char, uint64_t>& budget) {
    std::lock_guard guard(limits().lock);
    budget.clear();
}

}  // namespace

bool drive_has_write_limit(char drive) {
    return has(limits().free_bytes, drive);
}
bool drive_has_read_limit(char drive) {
    return has(limits().readable_bytes, drive);
}
uint64_t drive_take_written(char drive, uint64_t wanted) {
    return take(limits().free_bytes, drive, wanted);
}
uint64_t drive_take_read(char drive, uint64_t wanted) {
    return take(limits().readable_bytes, drive, wanted);
}

void set_drive_write_limit(char drive, uint64_t bytes) {
    set(limits().free_bytes, drive, bytes);
}
void clear_drive_write_limits() {
    clear(limits().free_bytes);
}
void set_drive_read_limit(char drive, uint64_t bytes) {
    set(limits().readable_bytes, drive, bytes);
}
void clear_drive_read_limits() {
    clear(limits().readable_bytes);
}

}  // namespace ntoskrnl::fs
