// The NDIS statistics query of a network adapter's device.
#pragma once

#define IOCTL_NDIS_QUERY_GLOBAL_STATS 0x00170002u
#define OID_802_3_PERMANENT_ADDRESS 0x01010101u
