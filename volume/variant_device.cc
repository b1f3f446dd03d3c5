#include "volume/variant.h"

const VolumeVariant kVolumeVariant = {
    .finds_card_device_path = true,
    .logs_reported_error = true,
    .logs_refused_mount = false,
};
