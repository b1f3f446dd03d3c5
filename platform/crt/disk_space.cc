#include "platform/crt/disk_space.h"

#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <map>
#include <mutex>

#include "platform/core/paths.h"
#include "platform/sim/disk.h"

namespace platform {
namespace {

struct Limits {
    std::mutex lock;
    std::map<char, uint64_t> free_bytes;  // drives with a limit; the rest are unlimited
};

Limits& limits() {
    static Limits* instance = new Limits;
    return *instance;
}

char drive_of(const char* path) {
    const char* p = std::strncmp(path, "\\??\\", 4) == 0 ? path + 4 : path;
    return static_cast<char>(std::toupper(static_cast<unsigned char>(p[0])));
}

struct LimitedFile {
    FILE* real;
    char drive;
};

// Takes what is left of the drive's space, at most wanted bytes.
size_t reserve(char drive, size_t wanted) {
    auto& l = limits();
    std::lock_guard guard(l.lock);
    auto it = l.free_bytes.find(drive);
    if (it == l.free_bytes.end()) return wanted;
    size_t granted = it->second < wanted ? static_cast<size_t>(it->second) : wanted;
    it->second -= granted;
    return granted;
}

ssize_t limited_read(void* cookie, char* buffer, size_t size) {
    auto* file = static_cast<LimitedFile*>(cookie);
    size_t got = std::fread(buffer, 1, size, file->real);
    return got == 0 && std::ferror(file->real) ? -1 : static_cast<ssize_t>(got);
}

ssize_t limited_write(void* cookie, const char* buffer, size_t size) {
    auto* file = static_cast<LimitedFile*>(cookie);
    size_t granted = reserve(file->drive, size);
    if (granted == 0 && size > 0) {
        errno = ENOSPC;
        return -1;
    }
    size_t written = std::fwrite(buffer, 1, granted, file->real);
    if (std::fflush(file->real) != 0 || written == 0) return -1;
    return static_cast<ssize_t>(written);
}

int limited_seek(void* cookie, off64_t* offset, int whence) {
    auto* file = static_cast<LimitedFile*>(cookie);
    if (fseeko(file->real, *offset, whence) != 0) return -1;
    *offset = ftello(file->real);
    return *offset < 0 ? -1 : 0;
}

int limited_close(void* cookie) {
    auto* file = static_cast<LimitedFile*>(cookie);
    int result = std::fclose(file->real);
    delete file;
    return result;
}

bool writes(const char* mode) {
    return std::strchr(mode, 'w') || std::strchr(mode, 'a') || std::strchr(mode, '+');
}

}  // namespace

FILE* limit_by_free_space(const char* path, const char* mode, FILE* real) {
    if (!real || !is_drive_path(path) || !writes(mode)) return real;
    const char drive = drive_of(path);
    {
        auto& l = limits();
        std::lock_guard guard(l.lock);
        if (!l.free_bytes.count(drive)) return real;
    }
    auto* file = new LimitedFile{real, drive};
    FILE* limited =
        fopencookie(file, mode, {limited_read, limited_write, limited_seek, limited_close});
    if (!limited) {
        std::fclose(real);
        delete file;
    }
    return limited;
}

}  // namespace platform

namespace sim {

void disk_set_free_space(char drive, uint64_t bytes) {
    auto& l = platform::limits();
    std::lock_guard guard(l.lock);
    l.free_bytes[static_cast<char>(std::toupper(static_cast<unsigned char>(drive)))] = bytes;
}

void disk_clear_free_space_limits() {
    auto& l = platform::limits();
    std::lock_guard guard(l.lock);
    l.free_bytes.clear();
}

}  // namespace sim
