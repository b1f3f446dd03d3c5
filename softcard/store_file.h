// The store file "C:/Halden/etc/halden.ini" on disk, read and written whole, as applications on
// several threads and in several processes use it at once, beside other programs that read it:
// - Every read and every read-modify-write of the store holds the StoreLock, one machine-wide
//   lock (LockFileEx on "C:/Halden/etc/halden.ini.lock", behind a mutex of the process).
// - A write first puts the whole record into the one copy "C:/Halden/etc/halden.ini.tmp",
//   flushed, made with the store's access rules (a store made anew is private to its owner). The
//   copy then replaces the store in one step. Where another program holds the store open (Windows
//   replaces no file that is open; a reader such as the C runtime's fopen shares writing), the
//   record is written into the store instead, and the copy removed once that write is flushed.
// - A copy found beside the store is a write that did not finish: the next reader or writer puts
//   it in place when the store is short, and removes it otherwise. The store is cut short only
//   while it is written in place, after the copy was flushed whole, so a short store with a copy
//   exactly one record long is completed from the copy; a copy of any other length was never
//   used. So a write cut short leaves the old record or the new one, never a part of either,
//   and at most one copy stands.
#pragma once

#include <cstdint>

extern const char kStorePath[];

// 0; 3 for a null buffer; 2 when the file cannot be opened or is shorter than 179 bytes.
uint32_t get_cfg(uint8_t* record);
// 0; 3 for a null buffer; 2 when the record could not be written whole and put in place: the
// previous record then stays, unless it was being written in place, when the next read finishes
// the write from the copy.
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
