#include "card/log/log_variant.h"

const LogVariant kLogVariant = {LOG_DEBUG, false};
