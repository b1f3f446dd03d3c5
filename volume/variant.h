// What the two builds of Kelvane do differently in the volume functions, supplied by one of
// variant_device.cc / variant_softcard.cc.
#pragma once

struct VolumeVariant {
    bool finds_card_device_path;  // the discovery switch: QeltInit looks for the card
    bool logs_reported_error;     // ReportLastError logs the text it writes
    bool logs_refused_mount;      // Mount logs the text of a refused IOCTL_ORVIK_OPEN_IMAGE
};

extern const VolumeVariant kVolumeVariant;
