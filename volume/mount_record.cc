#include "volume/mount_record.h"

#include <algorithm>
#include <cstring>

#include "base/byte_access.h"

namespace fd = file_descriptor;

namespace {

// prefix then text into a zeroed field (which holds them and a NUL); returns their length.
uint16_t write_text(uint8_t* field, const char* prefix, const char* text) {
    const size_t prefix_length = std::strlen(prefix);
    const size_t text_length = std::strlen(text);
    std::memcpy(field, prefix, prefix_length);
    std::memcpy(field + prefix_length, text, text_length);
    return static_cast<uint16_t>(prefix_length + text_length);
}

}  // namespace

void WriteFileDescriptor(const MountRequest& request, FileDescriptor& record) {
    std::memset(record, 0, sizeof record);
    uint8_t* file_name = record + fd::kFileName;
    const uint16_t file_name_length = write_text(file_name, kImagePathPrefix, request.image_path);
    // The driver opens an NT name, whose one separator is '\': a '/', which Win32 paths take as
    // one too, becomes it.
    std::replace(file_name, file_name + file_name_length, uint8_t{'/'}, uint8_t{'\\'});
    bytes::store_le32(record + fd::kGuard1, fd::kGuardValue);
    const uint16_t device_path_length =
        write_text(record + fd::kDevicePath, kCardPathPrefix, request.card_device_path);
    bytes::store_le32(record + fd::kGuard2, fd::kGuardValue);
    bytes::store_le16(record + fd::kFileNameLength, file_name_length);
    bytes::store_le16(record + fd::kDevicePathLength, device_path_length);
    bytes::store_le32(record + fd::kChunkSize, request.chunk_size);
    bytes::store_le64(record + fd::kFileSize, static_cast<uint64_t>(request.file_size));
    record[fd::kSoft] = request.soft ? 1 : 0;
    std::memcpy(record + fd::kKey1, request.key, fd::kKeySize);
    std::memcpy(record + fd::kKey2, request.key + fd::kKeySize, fd::kKeySize);
}
