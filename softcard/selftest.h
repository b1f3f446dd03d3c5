// The built-in test routines behind the export test. Each starts from a fresh store file, prints
// its progress and verdict to standard output, and ends logged out with a fresh store file.
#pragma once

#include <cstdint>

// Logs in with the default PIN, binds this PC and imports the test volume key; 0 or the first
// failing step's result.
uint32_t init_card();

void test_sm2();
void test_ev();
void test_lock();
void test_reset_pin();
void test_bind();
