#include "softcard/store_file.h"

#include <cstdio>
#include <memory>
#include <mutex>

#include "platform/win32.h"
#include "softcard/result.h"
#include "softcard/store_record.h"

const char kStorePath[] = "C:/Halden/etc/halden.ini";

namespace {

// Locked, never written: the store itself is replaced by every write, so it cannot carry a lock.
constexpr char kStoreLockPath[] = "C:/Halden/etc/halden.ini.lock";

// A replacement that meets another handle on the store is tried this often, this far apart.
constexpr int kReplaceAttempts = 100;
constexpr DWORD kReplaceRetryMs = 10;

std::mutex& process_lock() {
    static std::mutex lock;
    return lock;
}
// The calling thread's hold on the store lock: how deep, and the locked file.
thread_local int lock_depth = 0;
thread_local HANDLE lock_file = INVALID_HANDLE_VALUE;

bool read_all(HANDLE file, uint8_t* data, DWORD size) {
    while (size > 0) {
        DWORD got = 0;
        if (!ReadFile(file, data, size, &got, nullptr) || got == 0) return false;
        data += got;
        size -= got;
    }
    return true;
}

bool write_all(HANDLE file, const uint8_t* data, DWORD size) {
    while (size > 0) {
        DWORD put = 0;
        if (!WriteFile(file, data, size, &put, nullptr) || put == 0) return false;
        data += put;
        size -= put;
    }
    return true;
}

// A security descriptor (LocalFree it) whose protected DACL gives the user of this process all
// access and nobody else any: that of a store made anew.
PSECURITY_DESCRIPTOR user_only_descriptor() {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return nullptr;
    alignas(8) uint8_t user[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
    DWORD size = 0;
    const bool got = GetTokenInformation(token, TokenUser, user, sizeof user, &size);
    CloseHandle(token);
    char* sid = nullptr;
    if (!got || !ConvertSidToStringSidA(reinterpret_cast<TOKEN_USER*>(user)->User.Sid, &sid))
        return nullptr;
    char dacl[256];
    const int length = std::snprintf(dacl, sizeof dacl, "D:P(A;;FA;;;%s)", sid);
    LocalFree(sid);
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (length <= 0 || static_cast<size_t>(length) >= sizeof dacl ||
        !ConvertStringSecurityDescriptorToSecurityDescriptorA(dacl, SDDL_REVISION_1, &descriptor,
                                                              nullptr))
        return nullptr;
    return descriptor;
}

// The access rules for the new file: the store's own, or for a store made anew, its user's only.
// Null when neither can be had.
std::unique_ptr<void, decltype(&LocalFree)> store_access() {
    std::unique_ptr<void, decltype(&LocalFree)> none(nullptr, LocalFree);
    DWORD size = 0;
    GetFileSecurityA(kStorePath, DACL_SECURITY_INFORMATION, nullptr, 0, &size);
    const DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND)
        return std::unique_ptr<void, decltype(&LocalFree)>(user_only_descriptor(), LocalFree);
    if (error != ERROR_INSUFFICIENT_BUFFER) return none;
    std::unique_ptr<void, decltype(&LocalFree)> descriptor(LocalAlloc(LMEM_FIXED, size), LocalFree);
    if (!descriptor ||
        !GetFileSecurityA(kStorePath, DACL_SECURITY_INFORMATION, descriptor.get(), size, &size))
        return none;
    return descriptor;
}

// A new file with the store's access rules, holding the record, flushed and closed.
bool write_new_store(const char* path, const uint8_t* record) {
    const auto access = store_access();
    if (!access) return false;
    SECURITY_ATTRIBUTES security = {sizeof security, access.get(), FALSE};
    HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, &security, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    bool written = write_all(file, record, STORE_RECORD_SIZE);
    written = FlushFileBuffers(file) && written;
    return CloseHandle(file) && written;
}

// Puts the new file in the store's place in one step. A handle on the store that is open at
// that moment (readers of other processes; other applications) makes the move fail: it is tried
// again a short while later.
bool replace_store(const char* new_file) {
    for (int attempt = 1;; ++attempt) {
        if (MoveFileExA(new_file, kStorePath, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
            return true;
        const DWORD error = GetLastError();
        if ((error != ERROR_ACCESS_DENIED && error != ERROR_SHARING_VIOLATION) ||
            attempt == kReplaceAttempts)
            return false;
        Sleep(kReplaceRetryMs);
    }
}

}  // namespace

StoreLock::StoreLock() {
    if (lock_depth > 0) {
        ++lock_depth;
        held_ = true;
        return;
    }
    // Released again unless the file is locked, on an exception's path too.
    std::unique_lock process(process_lock());
    HANDLE file = CreateFileA(kStoreLockPath, GENERIC_READ | GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    OVERLAPPED first_byte = {};
    if (file == INVALID_HANDLE_VALUE ||
        !LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &first_byte)) {
        if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
        return;
    }
    process.release();  // until the destructor
    lock_file = file;
    lock_depth = 1;
    held_ = true;
}

StoreLock::~StoreLock() {
    if (!held_ || --lock_depth > 0) return;
    OVERLAPPED first_byte = {};
    UnlockFileEx(lock_file, 0, 1, 0, &first_byte);
    CloseHandle(lock_file);
    lock_file = INVALID_HANDLE_VALUE;
    process_lock().unlock();
}

uint32_t get_cfg(uint8_t* record) {
    if (!record) return SC_ARG;
    HANDLE file = CreateFileA(kStorePath, GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return SC_STORE;
    const bool whole = read_all(file, record, STORE_RECORD_SIZE);
    CloseHandle(file);
    return whole ? SC_OK : SC_STORE;
}

uint32_t WriteCardStore(const uint8_t* record) {
    if (!record) return SC_ARG;
    StoreLock lock;
    if (!lock.held()) return SC_STORE;
    // Unique to this writer, so that no other writer (nor a stale file) can touch it.
    char new_file[96];
    std::snprintf(new_file, sizeof new_file, "%s.%lu-%lu.tmp", kStorePath,
                  static_cast<unsigned long>(GetCurrentProcessId()),
                  static_cast<unsigned long>(GetCurrentThreadId()));
    if (write_new_store(new_file, record) && replace_store(new_file)) return SC_OK;
    DeleteFileA(new_file);
    return SC_STORE;
}
