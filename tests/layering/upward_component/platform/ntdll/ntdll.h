#pragma once

#include "platform/kernel32/kernel32.h"
