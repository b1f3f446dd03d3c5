#include "volume/variant.h"

const VolumeVariant kVolumeVariant = {
    .finds_card_device_path = false,
    .logs_reported_error = false,
    .logs_refused_mount = true,
};
