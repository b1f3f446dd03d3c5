// The store file "C:/Halden/etc/halden.ini": the software card's 179-byte record, always read
// and written whole. A write goes to a new file that then replaces the old one, so a failure
// part-way leaves the previous record in place.
#pragma once

#include <cstdint>

#include "card/export.h"
#include "softcard/store_record.h"

extern const char kStorePath[];
extern const char kStoreNewPath[];

// 0; 3 for a null buffer; 2 when the file cannot be opened or is shorter than 179 bytes.
uint32_t get_cfg(uint8_t* record);
// 0; 3 for a null buffer; 2 when the record could not be written whole and put in place.
uint32_t WriteCardStore(const uint8_t* record);

// The record decoded and encoded, with the results of get_cfg / WriteCardStore.
uint32_t read_card_record(CardRecord* record);
uint32_t write_card_record(const CardRecord& record);

// A new card: fresh seed, default PIN, 6 tries, no volume key, no bound PCs. 1 when no random
// bytes could be drawn (the file is left alone), else WriteCardStore's result.
KELVANE_EXPORT uint32_t init_cfg();

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
