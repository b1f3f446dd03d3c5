// The test controls of mounted volumes (platform/testing/volume_controls.h).
#include "platform/testing/volume_controls.h"

#include <algorithm>
#include <filesystem>
#include <vector>

#include "platform/programs/drive.h"
#include "platform/unix/host_image.h"

namespace platform {
namespace {

// The volume of an open drive, read into a new temporary image.
std::unique_ptr<host::TemporaryImage> read_volume(Drive& drive, std::string* error) {
    uint64_t length = 0;
    if (!drive.length(&length, error)) return nullptr;
    auto image = host::TemporaryImage::create(length / kDriveSectorSize * kDriveSectorSize, error);
    if (image && !drive.read_into(*image, error)) return nullptr;
    return image;
}

bool copy_image(const host::TemporaryImage& from, host::TemporaryImage& to, std::string* error) {
    std::vector<char> bytes(1 << 20);
    for (uint64_t offset = 0; offset < from.size(); offset += bytes.size()) {
        const auto length =
            static_cast<size_t>(std::min<uint64_t>(bytes.size(), from.size() - offset));
        if (!from.read(offset, bytes.data(), length) || !to.write(offset, bytes.data(), length)) {
            *error = "the volume's temporary image cannot be copied";
            return false;
        }
    }
    return true;
}

// The sectors in which two images of one size differ, as ranges.
bool changed_sectors(const host::TemporaryImage& before, const host::TemporaryImage& after,
                     std::vector<host::Range>* ranges, std::string* error) {
    constexpr size_t kChunk = 1 << 20;
    std::vector<char> old_bytes(kChunk), new_bytes(kChunk);
    for (uint64_t offset = 0; offset < after.size(); offset += kChunk) {
        const auto length = static_cast<size_t>(std::min<uint64_t>(kChunk, after.size() - offset));
        if (!before.read(offset, old_bytes.data(), length) ||
            !after.read(offset, new_bytes.data(), length)) {
            *error = "the temporary images cannot be read";
            return false;
        }
        for (size_t sector = 0; sector < length; sector += kDriveSectorSize) {
            const size_t size = std::min<size_t>(kDriveSectorSize, length - sector);
            if (std::equal(old_bytes.begin() + sector, old_bytes.begin() + sector + size,
                           new_bytes.begin() + sector))
                continue;
            const uint64_t at = offset + sector;
            if (!ranges->empty() && ranges->back().offset + ranges->back().length == at)
                ranges->back().length += size;
            else
                ranges->push_back({at, size});
        }
    }
    return true;
}

}  // namespace
}  // namespace platform

namespace sim::volume {

using namespace platform;

bool snapshot(char letter, const std::string& host_path, std::string* error) {
    Drive drive;
    if (!drive.open(letter, error)) return false;
    auto image = read_volume(drive, error);
    if (!image) return false;
    std::error_code failure;
    std::filesystem::copy_file(image->path(), host_path,
                               std::filesystem::copy_options::overwrite_existing, failure);
    if (failure) *error = "copying to " + host_path + ": " + failure.message();
    return !failure;
}

bool copy_in(char letter, const std::string& host_source, const std::string& volume_path,
             std::string* error) {
    Drive drive;
    if (!drive.open(letter, error)) return false;
    auto before = read_volume(drive, error);
    if (!before) return false;
    auto after = host::TemporaryImage::create(before->size(), error);
    if (!after || !copy_image(*before, *after, error)) return false;
    std::string output;
    const int status = host::run_tool("ntfscp", {after->path(), host_source, volume_path}, &output);
    if (status != 0) {
        *error = "ntfscp ended with " + std::to_string(status) + ": " + output;
        return false;
    }
    std::vector<host::Range> changed;
    return changed_sectors(*before, *after, &changed, error) &&
           drive.write_from(*after, changed, error);
}

}  // namespace sim::volume
