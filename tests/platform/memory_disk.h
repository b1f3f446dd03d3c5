// A disk of the tests: the driver "HaldenMemoryDisk" with one device, "\Device\HaldenMemoryDisk"
// (FILE_DEVICE_DISK, direct I/O), whose sectors are kept in memory. It answers reads, writes and
// the disk queries that a file system and a format program send (geometry, length, partition,
// writable, partition type), refuses everything else as a disk driver does, and records the
// requests it sees.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/wdm.h"

class MemoryDisk {
  public:
    static constexpr char kDeviceName[] = "\\Device\\HaldenMemoryDisk";

    // Loads the driver with a disk of size bytes, each holding fill.
    MemoryDisk(uint64_t size, uint8_t fill);
    // Unloads the driver (every handle to the disk must be closed by then).
    ~MemoryDisk();
    MemoryDisk(const MemoryDisk&) = delete;
    MemoryDisk& operator=(const MemoryDisk&) = delete;

    std::vector<uint8_t> bytes() const;
    // The major function of each request the disk saw, and the control code of each
    // IRP_MJ_DEVICE_CONTROL and IRP_MJ_FILE_SYSTEM_CONTROL, in order.
    std::vector<UCHAR> majors() const;
    std::vector<ULONG> control_codes() const;
    void clear_seen();
    // The partition type that IOCTL_DISK_SET_PARTITION_INFO last stored (0 at first).
    UCHAR partition_type() const;
};
