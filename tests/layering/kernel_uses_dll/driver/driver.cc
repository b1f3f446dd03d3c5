#include "platform/ntdll/ntdll.h"
