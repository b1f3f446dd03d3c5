// The store file "C:/Halden/etc/halden.ini" on disk, read and written whole, as applications on
// several threads and in several processes use it at once:
// - Every read-modify-write of the store holds the StoreLock, one machine-wide lock (LockFileEx
//   on "C:/Halden/etc/halden.ini.lock", behind a mutex of the process).
// - A write goes to a temporary file of its own writer, flushed, which then replaces the store.
//   The replacement keeps the store's permissions; a store made anew is private to its owner.
//   Readers see the old record or the new one, never a part of either.
// - Reads share the file for reading, writing and deleting, so that they never stand in a
//   replacement's way; a replacement that meets another application's handle without delete
//   sharing (a backup tool, a virus scanner) is tried again for a short while.
#pragma once

#include <cstdint>

extern const char kStorePath[];

// 0; 3 for a null buffer; 2 when the file cannot be opened or is shorter than 179 bytes.
uint32_t get_cfg(uint8_t* record);
// 0; 3 for a null buffer; 2 when the record could not be written whole and put in place (the
// previous record then stays).
uint32_t WriteCardStore(const uint8_t* record);

// Holds the machine-wide store lock while it lives: no other thread of this process and no other
// process holds it meanwhile. A thread that holds it may take it again; the outermost holder
// releases it.
class StoreLock {
  public:
    StoreLock();
    ~StoreLock();
    StoreLock(const StoreLock&) = delete;
    StoreLock& operator=(const StoreLock&) = delete;

    // False when the lock file could not be opened or locked (then nothing is held).
    bool held() const { return held_; }

  private:
    bool held_ = false;
};
