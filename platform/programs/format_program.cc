// FORMAT.com, for the one command line the system gives it: "FORMAT.com X: /FS:NTFS /Q /Y", a
// quick NTFS format of drive X: without questions. The host's mkfs.ntfs lays the new file system
// out in a sparse temporary image of the drive's size and geometry, and the program writes what
// it wrote there onto the drive through "\\.\X:", so that every sector passes through the disk's
// driver. As FORMAT.com does, it locks the volume (with /Y it dismounts a volume in use instead),
// reads the disk's geometry, length and partition, sets the partition's type to NTFS and
// dismounts the volume at the end, so that the next open mounts the new file system.
#include <cctype>
#include <string>
#include <vector>

#include "platform/core/trace.h"
#include "platform/kernel32/system_programs.h"
#include "platform/programs/drive.h"
#include "platform/unix/host_image.h"

namespace platform {
namespace {

// FORMAT.com's exit codes.
constexpr DWORD kFormatted = 0;
constexpr DWORD kIncorrectParameters = 1;
constexpr DWORD kFatalError = 4;

std::string upper(std::string text) {
    for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

// The drive letter of the one command line provided, or 0.
char parse(const std::vector<std::string>& arguments) {
    char letter = 0;
    bool ntfs = false, quick = false, yes = false;
    for (const auto& argument : arguments) {
        const std::string word = upper(argument);
        if (word == "/FS:NTFS") {
            ntfs = true;
        } else if (word == "/Q") {
            quick = true;
        } else if (word == "/Y") {
            yes = true;
        } else if (word.size() == 2 && word[1] == ':' && word[0] >= 'A' && word[0] <= 'Z' &&
                   !letter) {
            letter = argument[0];
        } else {
            return 0;
        }
    }
    return ntfs && quick && yes ? letter : 0;
}

DWORD fail(const std::string& error) {
    TRACE("format", "%s", error.c_str());
    return kFatalError;
}

DWORD format(char letter) {
    std::string error;
    Drive drive;
    if (!drive.open(letter, &error)) return fail(error);
    bool locked = drive.control(FSCTL_LOCK_VOLUME, nullptr, 0, nullptr, 0, &error);
    // In use: /Y answers yes to dismounting it first, which ends the other opens' volume.
    if (!locked && !drive.control(FSCTL_DISMOUNT_VOLUME, nullptr, 0, nullptr, 0, &error))
        return fail(error);
    DISK_GEOMETRY geometry{};
    PARTITION_INFORMATION_EX partition{};
    uint64_t length = 0;
    if (!drive.control(IOCTL_DISK_GET_DRIVE_GEOMETRY, nullptr, 0, &geometry, sizeof geometry,
                       &error) ||
        !drive.control(IOCTL_DISK_GET_PARTITION_INFO_EX, nullptr, 0, &partition, sizeof partition,
                       &error) ||
        !drive.length(&length, &error) ||
        !drive.control(IOCTL_DISK_IS_WRITABLE, nullptr, 0, nullptr, 0, &error))
        return fail(error);
    if (geometry.BytesPerSector != kDriveSectorSize)
        return fail("sectors of " + std::to_string(geometry.BytesPerSector) + " bytes");
    const uint64_t sectors = length / kDriveSectorSize;
    auto image = host::TemporaryImage::create(sectors * kDriveSectorSize, &error);
    if (!image) return fail(error);
    std::string output;
    const int status = host::run_tool(
        "mkfs.ntfs",
        {"-F", "-Q", "-f", "-q", "-s", std::to_string(geometry.BytesPerSector), "-p",
         std::to_string(partition.Mbr.HiddenSectors), "-H",
         std::to_string(geometry.TracksPerCylinder), "-S", std::to_string(geometry.SectorsPerTrack),
         image->path(), std::to_string(sectors)},
        &output);
    if (status != 0) return fail("mkfs.ntfs ended with " + std::to_string(status) + ": " + output);
    if (!drive.write_from(*image, image->data_ranges(), &error)) return fail(error);
    const SET_PARTITION_INFORMATION type{PARTITION_IFS};
    drive.control(IOCTL_DISK_SET_PARTITION_INFO, &type, sizeof type, nullptr, 0, &error);
    drive.control(FSCTL_DISMOUNT_VOLUME, nullptr, 0, nullptr, 0, &error);
    if (locked) drive.control(FSCTL_UNLOCK_VOLUME, nullptr, 0, nullptr, 0, &error);
    TRACE("format", "%c: formatted NTFS, %llu sectors", letter,
          static_cast<unsigned long long>(sectors));
    return kFormatted;
}

// FORMAT.com's main.
DWORD format_main(const std::vector<std::string>& arguments) {
    const char letter = parse(arguments);
    if (!letter) {
        TRACE("format", "only \"FORMAT.com X: /FS:NTFS /Q /Y\" is provided");
        return kIncorrectParameters;
    }
    return format(letter);
}

const bool registered = (register_system_program("FORMAT.com", format_main), true);

}  // namespace
}  // namespace platform
