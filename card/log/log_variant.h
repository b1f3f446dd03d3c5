// The two builds of the log facility differ in two settings, supplied by one of
// log_device.cc / log_softcard.cc.
#pragma once

#include "card/log/log.h"

struct LogVariant {
    LogLevel initial_threshold;
    bool moves_full_file;  // the size test and the move to the backup path
};

extern const LogVariant kLogVariant;
