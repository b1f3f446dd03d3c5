// shell32: telling the shell that something it shows has changed.
#pragma once

#include "platform/api/windef.h"

#define SHCNE_DRIVEREMOVED 0x00000080L
#define SHCNE_DRIVEADD 0x00000100L
#define SHCNF_IDLIST 0x0000u
#define SHCNF_PATHA 0x0001u
#define SHCNF_PATHW 0x0005u
#define SHCNF_TYPE 0x00FFu
#define SHCNF_FLUSH 0x1000u

extern "C" {

// Tells the shell of event about the items (paths with SHCNF_PATHA). No shell runs here: the
// notifications are recorded for tests (platform/testing/shell_controls.h).
void WINAPI SHChangeNotify(LONG event_id, UINT flags, LPCVOID item1, LPCVOID item2);

}  // extern "C"
