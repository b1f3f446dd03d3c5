#pragma once

#include "platform/ntoskrnl/io/io_part.h"
