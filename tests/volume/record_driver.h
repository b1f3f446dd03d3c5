// A stand-in for Orvik that records what the volume functions send it: the service
// "OrvikRecorder" with the directory "\Device\orvik" and disks "\Device\orvik\device1..n" that
// keep every control request with its input. IOCTL_ORVIK_OPEN_IMAGE and IOCTL_ORVIK_CLOSE_IMAGE
// succeed (or OPEN ends with a status the test chooses); every other request is refused, reads and
// writes included, as by a disk without media.
#pragma once

#include <cstdint>
#include <vector>

namespace record_driver {

struct Request {
    unsigned disk;  // n of device<n>
    uint32_t code;
    std::vector<uint8_t> input;
};

// Loads the driver with count disks; false when it does not load.
bool load(unsigned count);
void unload();

// Every control request, in order.
std::vector<Request> requests();
// The input of the last IOCTL_ORVIK_OPEN_IMAGE (empty when there was none).
std::vector<uint8_t> last_open();
void clear();
// Every later IOCTL_ORVIK_OPEN_IMAGE is answered with this NTSTATUS (0: success).
void answer_open_with(uint32_t status);
// Every later IOCTL_ORVIK_CLOSE_IMAGE deletes the DOS device name of letter first, as if someone
// had taken the letter away while the image was detached (0: none).
void remove_letter_on_close(char letter);

}  // namespace record_driver
