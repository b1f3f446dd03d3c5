// The Windows side of the test of Orvik.sys under Wine's kernel (orvik_wine_test runs it in the
// test's prefix): mounts an image on drive Q: through device/Kelvane.dll's QeltMountVolume with a
// software key, moves byte ranges through the drive, and dismounts.
//
//   orvik_wine_client write IMAGE KEYHEX DATA OFFSET:LENGTH...
//     writes DATA's bytes to the ranges in turn, then reads every range back and compares;
//   orvik_wine_client read IMAGE KEYHEX DATA OFFSET:LENGTH...
//     reads the ranges into DATA.
//
// Exit status 0 when every step succeeded; otherwise 1, with the failed step on stderr.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/win32.h"
#include "volume/exports.h"

namespace {

constexpr char kLetter = 'Q';
constexpr uint32_t kDevice = 1;

struct Range {
    uint64_t offset;
    DWORD length;
};

[[noreturn]] void fail(const std::string& step) {
    std::fprintf(stderr, "orvik_wine_client: %s\n", step.c_str());
    std::exit(1);
}

bool parse_key(const char* hex, uint8_t* key) {
    if (std::strlen(hex) != 2 * wire::file_descriptor::kVolumeKeySize) return false;
    for (size_t i = 0; i < wire::file_descriptor::kVolumeKeySize; ++i) {
        unsigned value;
        if (std::sscanf(hex + 2 * i, "%2x", &value) != 1) return false;
        key[i] = static_cast<uint8_t>(value);
    }
    return true;
}

Range parse_range(const char* text) {
    unsigned long long offset, length;
    char end;
    if (std::sscanf(text, "%llu:%llu%c", &offset, &length, &end) != 2 || length == 0 ||
        length > 0x10000000)
        fail(std::string("bad range ") + text);
    return {offset, static_cast<DWORD>(length)};
}

std::vector<uint8_t> read_file(const char* path) {
    std::vector<uint8_t> data;
    FILE* file = std::fopen(path, "rb");
    if (!file) fail(std::string("cannot open ") + path);
    uint8_t chunk[65536];
    for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, file)) > 0;)
        data.insert(data.end(), chunk, chunk + n);
    std::fclose(file);
    return data;
}

void write_file(const char* path, const std::vector<uint8_t>& data) {
    FILE* file = std::fopen(path, "wb");
    if (!file || std::fwrite(data.data(), 1, data.size(), file) != data.size() ||
        std::fclose(file) != 0)
        fail(std::string("cannot write ") + path);
}

// The drive opened as the volume functions open it: unbuffered, so each transfer needs a
// sector-aligned buffer.
class Drive {
  public:
    Drive() {
        handle_ = CreateFileA("\\\\.\\Q:", GENERIC_READ | GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_FLAG_NO_BUFFERING, nullptr);
        if (handle_ == INVALID_HANDLE_VALUE)
            fail("CreateFile of the drive: error " + std::to_string(GetLastError()));
    }
    ~Drive() { CloseHandle(handle_); }
    Drive(const Drive&) = delete;
    Drive& operator=(const Drive&) = delete;

    // One transfer of the range at its offset. The offset goes in the OVERLAPPED record, which a
    // synchronous handle takes as the transfer's position: Wine does not pass a device handle's
    // file position to the driver.
    void transfer(const Range& range, uint8_t* data, bool write) {
        void* buffer =
            VirtualAlloc(nullptr, range.length, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
        if (!buffer) fail("VirtualAlloc");
        if (write) std::memcpy(buffer, data, range.length);
        OVERLAPPED position = {};
        position.Offset = static_cast<DWORD>(range.offset);
        position.OffsetHigh = static_cast<DWORD>(range.offset >> 32);
        DWORD done = 0;
        const BOOL ok = write ? WriteFile(handle_, buffer, range.length, &done, &position)
                              : ReadFile(handle_, buffer, range.length, &done, &position);
        const DWORD error = GetLastError();
        if (!write) std::memcpy(data, buffer, range.length);
        VirtualFree(buffer, 0, MEM_RELEASE);
        const std::string what = std::string(write ? "WriteFile" : "ReadFile") + " of " +
                                 std::to_string(range.length) + " bytes at " +
                                 std::to_string(range.offset);
        if (!ok) fail(what + ": error " + std::to_string(error));
        if (done != range.length) fail(what + ": " + std::to_string(done) + " bytes moved");
    }

  private:
    HANDLE handle_;
};

// Every range read again after all were written: a write that went astray shows here.
void check_read_back(Drive* drive, const std::vector<Range>& ranges,
                     const std::vector<uint8_t>& data) {
    size_t at = 0;
    for (const Range& range : ranges) {
        std::vector<uint8_t> back(range.length);
        drive->transfer(range, back.data(), false);
        if (std::memcmp(back.data(), data.data() + at, range.length) != 0)
            fail("the range at " + std::to_string(range.offset) + " reads back otherwise");
        at += range.length;
    }
}

void mount(const char* image, const uint8_t* key) {
    VolumeMountArgs args = {image, kDevice, kLetter};
    char text[512] = {};
    const uint32_t result = QeltMountVolume(&args, text, sizeof text, 1, key);
    if (result != VOLUME_OK) fail("QeltMountVolume: " + std::to_string(result) + " " + text);
}

void dismount() {
    // Not forced: nothing else has the volume open, so the lock must succeed.
    VolumeDismountArgs args = {kLetter, 0};
    char text[512] = {};
    const uint32_t result = QeltDismountVolume(&args, text, sizeof text);
    if (result != VOLUME_OK) fail("QeltDismountVolume: " + std::to_string(result) + " " + text);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 6) fail("usage: orvik_wine_client write|read IMAGE KEYHEX DATA OFFSET:LENGTH...");
    const std::string mode = argv[1];
    if (mode != "write" && mode != "read") fail("unknown mode " + mode);
    VolumeKey key;
    if (!parse_key(argv[3], key.bytes)) fail("bad key");
    std::vector<Range> ranges;
    size_t total = 0;
    for (int i = 5; i < argc; ++i) {
        ranges.push_back(parse_range(argv[i]));
        total += ranges.back().length;
    }
    std::vector<uint8_t> data = mode == "write" ? read_file(argv[4]) : std::vector<uint8_t>(total);
    if (data.size() != total) fail("DATA does not hold the ranges' bytes");

    const bool write = mode == "write";
    mount(argv[2], key.bytes);
    {
        Drive drive;
        size_t at = 0;
        for (const Range& range : ranges) {
            drive.transfer(range, data.data() + at, write);
            at += range.length;
        }
        if (write) check_read_back(&drive, ranges, data);
    }
    dismount();
    if (mode == "read") write_file(argv[4], data);
    return 0;
}
