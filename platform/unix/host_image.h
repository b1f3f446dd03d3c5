// The host side of the simulation's volume tools: a temporary image file of a volume, the ranges
// of it that hold data, and the host's NTFS tools (package ntfs-3g) run on it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace platform::host {

struct Range {
    uint64_t offset;
    uint64_t length;
};

// A sparse file of the host's temporary folder, removed with the object.
class TemporaryImage {
  public:
    // A new image of size bytes, all unwritten; null with *error set when the host refuses.
    static std::unique_ptr<TemporaryImage> create(uint64_t size, std::string* error);
    ~TemporaryImage();
    TemporaryImage(const TemporaryImage&) = delete;
    TemporaryImage& operator=(const TemporaryImage&) = delete;

    const std::string& path() const { return path_; }
    uint64_t size() const { return size_; }
    bool read(uint64_t offset, void* data, size_t length) const;
    bool write(uint64_t offset, const void* data, size_t length);
    // The ranges that hold written data, in order. A host that cannot tell data from holes
    // reports the whole image. Needs a file system that keeps written zeros as data (ext4, xfs,
    // tmpfs; not one that turns them into holes).
    std::vector<Range> data_ranges() const;

  private:
    TemporaryImage(int fd, std::string path, uint64_t size);
    int fd_;
    std::string path_;
    uint64_t size_;
};

// Runs the host program (looked up in PATH, then /usr/sbin and /sbin) with arguments and waits
// for it; its exit status, or -1 when it could not run (or ended by a signal). What it printed
// goes to *output.
int run_tool(const std::string& program, const std::vector<std::string>& arguments,
             std::string* output);

}  // namespace platform::host
