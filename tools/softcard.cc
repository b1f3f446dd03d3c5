// Runs the software card's built-in test routines (the export test of softcard/libKelvane.so).
// The caller points HALDEN_ROOT at a machine root with the folder C/Halden/etc: the routines
// replace the card's store file there with a new, empty card.
#include "softcard/exports.h"

int main() {
    test();
    return 0;
}
