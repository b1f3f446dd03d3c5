#include "card/log/log_variant.h"

const LogVariant kLogVariant = {LOG_ERROR, true};
