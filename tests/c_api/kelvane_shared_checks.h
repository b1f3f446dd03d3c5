// What the C tests of both builds of Kelvane check of the shared header: the volume records as a
// C compiler lays them out (the library's layout on x86-64), and a volume export's argument check
// with its error text.
#ifndef HALDEN_TESTS_KELVANE_SHARED_CHECKS_H
#define HALDEN_TESTS_KELVANE_SHARED_CHECKS_H

#include <stddef.h>
#include <string.h>

#include "c_check.h"
#include "kelvane_shared.h"

_Static_assert(offsetof(VolumeFormatArgs, size) == 8 &&
                   offsetof(VolumeFormatArgs, deviceNo) == 16 &&
                   offsetof(VolumeFormatArgs, letter) == 20 && sizeof(VolumeFormatArgs) == 24,
               "VolumeFormatArgs");
_Static_assert(offsetof(VolumeMountArgs, deviceNo) == 8 &&
                   offsetof(VolumeMountArgs, letter) == 12 && sizeof(VolumeMountArgs) == 16,
               "VolumeMountArgs");
_Static_assert(offsetof(VolumeDismountArgs, force) == 1 && sizeof(VolumeDismountArgs) == 2,
               "VolumeDismountArgs");

static void check_shared_exports(void) {
    static const char kInvalid[] = "[DismountVolume]invalid arg ";
    char text[256] = "";
    C_CHECK(QeltDismountVolume(NULL, text, sizeof text) == VOLUME_INVALID_ARG);
    C_CHECK(strncmp(text, kInvalid, sizeof kInvalid - 1) == 0);
}

#endif  // HALDEN_TESTS_KELVANE_SHARED_CHECKS_H
