// The software card's state in the store file: its 179-byte record, always read and written
// whole (softcard/store_file.h), and the small functions every emulated card operation uses. The
// functions that change the record hold the StoreLock, so that each change is one step for every
// process on the machine; a caller that must check and change as one step holds it around both.
#pragma once

#include <cstdint>

#include "card/export.h"
#include "softcard/result.h"
#include "softcard/store_file.h"
#include "softcard/store_record.h"
#include "softcard/wipe.h"

// The record decoded and encoded, with the results of get_cfg / WriteCardStore.
uint32_t read_card_record(CardRecord* record);
uint32_t write_card_record(const CardRecord& record);

// The record read under the StoreLock, which stays held until this object ends, so that a change
// written back with write_card_record is one step; the record is wiped at the end.
class LockedCardRecord {
  public:
    LockedCardRecord() : result_(lock_.held() ? read_card_record(&record_) : SC_STORE) {}
    LockedCardRecord(const LockedCardRecord&) = delete;
    LockedCardRecord& operator=(const LockedCardRecord&) = delete;

    // SC_OK when the record was read; SC_STORE without the lock, or the read's result.
    uint32_t result() const { return result_; }
    CardRecord& record() { return record_; }

  private:
    StoreLock lock_;
    CardRecord record_;
    WipeOnExit<CardRecord> wipe_{record_};
    uint32_t result_;
};

// 0 when usable, 8 when locked, or a store error.
uint32_t CheckCardState();
// 0 when the PIN matches (tries reset to 6; tries_left not written); 1 when it does not, with the
// tries left after counting it; or a store error.
uint32_t CheckPin(const uint8_t* pin, int32_t length, uint32_t* tries_left);
uint32_t DecrementPinRetries(uint32_t* tries_left);
uint32_t ResetPinRetries();
uint32_t StoreVolumeKey(const uint8_t* key);
// 0 with the 32-byte key and *length 32; 7 when no key is stored; or a store error. Neither the
// login nor the lock is checked.
uint32_t get_key(uint8_t* key, uint32_t* length);

// A record's retries-left counter at 0 (or, damaged, below it) locks the card.
bool record_locked(const CardRecord& record);
