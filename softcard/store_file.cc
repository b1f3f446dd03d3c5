#include "softcard/store_file.h"

#include <cstdio>
#include <memory>
#include <mutex>

#include "platform/win32.h"
#include "softcard/result.h"
#include "softcard/store_record.h"
#include "softcard/wipe.h"

const char kStorePath[] = "C:/Halden/etc/halden.ini";

namespace {

// Locked, never written: the store itself is replaced by most writes, so it cannot carry a lock.
constexpr char kStoreLockPath[] = "C:/Halden/etc/halden.ini.lock";
// The one copy of a record being written: only the holder of the lock writes it.
constexpr char kCopyPath[] = "C:/Halden/etc/halden.ini.tmp";

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// A store that an open refuses to both replace and write is tried this often, this far apart.
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

// A new copy of the record beside the store, with the store's access rules, flushed and closed.
bool write_copy(const uint8_t* record) {
    const auto access = store_access();
    if (!access) return false;
    SECURITY_ATTRIBUTES security = {sizeof security, access.get(), FALSE};
    HANDLE file = CreateFileA(kCopyPath, GENERIC_WRITE, 0, &security, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    bool written = write_all(file, record, STORE_RECORD_SIZE);
    written = FlushFileBuffers(file) && written;
    return CloseHandle(file) && written;
}

// The record written into the store itself, as a program that holds the store open allows when it
// shares writing: cut to nothing, written, flushed. ERROR_SUCCESS, or the error that stopped it.
DWORD write_in_place(const uint8_t* record) {
    HANDLE file = CreateFileA(kStorePath, GENERIC_WRITE, kShareAll, nullptr, TRUNCATE_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return GetLastError();
    const bool written = write_all(file, record, STORE_RECORD_SIZE) && FlushFileBuffers(file);
    const DWORD error = written ? ERROR_SUCCESS : GetLastError();
    CloseHandle(file);
    return error;
}

// The copy, which holds record, put in the store's place: by replacing the store in one step, or,
// when an open of the store refuses that (Windows drops no name that a handle still holds), by
// writing the record into the store; the copy then stays until that write is flushed. An open
// that shares no writing refuses both: they are tried again for a short while.
bool move_into_place(const uint8_t* record) {
    for (int attempt = 1;; ++attempt) {
        if (MoveFileExA(kCopyPath, kStorePath, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
            return true;
        const DWORD error = GetLastError();
        if (error != ERROR_ACCESS_DENIED && error != ERROR_SHARING_VIOLATION) return false;
        const DWORD in_place = write_in_place(record);
        if (in_place == ERROR_SUCCESS) {
            DeleteFileA(kCopyPath);  // one that stays is removed by the next writer or reader
            return true;
        }
        if (in_place != ERROR_SHARING_VIOLATION || attempt == kReplaceAttempts) return false;
        Sleep(kReplaceRetryMs);
    }
}

// True when the store is there but shorter than a record: so it is while it is written in place.
bool store_short() {
    HANDLE file = CreateFileA(kStorePath, FILE_READ_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    LARGE_INTEGER size = {};
    const bool known = GetFileSizeEx(file, &size);
    CloseHandle(file);
    return known && size.QuadPart < STORE_RECORD_SIZE;
}

enum class Copy { kNone, kWhole, kBroken, kUnreadable };

// The copy's record when it is exactly one record long.
Copy read_copy(uint8_t* record) {
    HANDLE file = CreateFileA(kCopyPath, GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return GetLastError() == ERROR_FILE_NOT_FOUND ? Copy::kNone : Copy::kUnreadable;
    LARGE_INTEGER size = {};
    const bool whole = GetFileSizeEx(file, &size) && size.QuadPart == STORE_RECORD_SIZE &&
                       read_all(file, record, STORE_RECORD_SIZE);
    CloseHandle(file);
    return whole ? Copy::kWhole : Copy::kBroken;
}

// A copy beside the store is the record of a write that did not finish. It is put in place when
// the store is short, since the store is cut only once the whole copy is flushed; any other copy
// was never used, and is removed. True when no copy stands afterwards.
bool take_up_copy() {
    uint8_t record[STORE_RECORD_SIZE];
    WipeOnExit wipe(record);
    const Copy copy = read_copy(record);
    if (copy == Copy::kNone) return true;
    if (copy == Copy::kUnreadable) return false;
    if (copy == Copy::kWhole && store_short()) return move_into_place(record);
    return DeleteFileA(kCopyPath);
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
    HANDLE file = CreateFileA(kStoreLockPath, GENERIC_READ | GENERIC_WRITE, kShareAll, nullptr,
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
    // Under the lock no write is under way, and one that was cut short is finished first. Without
    // it (a store folder this user may only read), the store is read as it stands.
    StoreLock lock;
    if (lock.held()) take_up_copy();
    HANDLE file = CreateFileA(kStorePath, GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return SC_STORE;
    const bool whole = read_all(file, record, STORE_RECORD_SIZE);
    CloseHandle(file);
    return whole ? SC_OK : SC_STORE;
}

uint32_t WriteCardStore(const uint8_t* record) {
    if (!record) return SC_ARG;
    StoreLock lock;
    if (!lock.held() || !take_up_copy()) return SC_STORE;
    if (write_copy(record) && move_into_place(record)) return SC_OK;
    if (!store_short()) DeleteFileA(kCopyPath);  // else the store is finished from it later
    return SC_STORE;
}
