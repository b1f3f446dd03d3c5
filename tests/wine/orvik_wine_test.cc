// Orvik.sys under Wine's kernel, an I/O manager and kernel that we did not write. The Windows
// build's test image of the driver (OrvikWineTest.sys) is installed as a kernel service in a Wine
// prefix of the test's own and started; orvik_wine_client mounts an image on a drive letter with
// device/Kelvane.dll's QeltMountVolume under a software key, writes byte ranges through the drive
// at several offsets, reads them back, and dismounts. Here, on the Linux side, every sector of the
// ranges must then decrypt under the key (the OpenSSL-based XTS, the sector's number as tweak) to
// what was written, and the sectors around them must be untouched; a second mount must read the
// ranges back. Last, the service stops: the driver's unload under Wine's kernel.
//
// The Windows build's ctest runs it and names the Windows programs in the environment:
// ORVIK_WINE_DRIVER (OrvikWineTest.sys), ORVIK_WINE_CLIENT (orvik_wine_client.exe, with
// device/Kelvane.dll beside it) and HALDEN_WINE_RUN (cmake/wine-run). Skipped only where Wine is
// not installed.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "oracles/openssl_sm4_xts.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

constexpr char kService[] = "OrvikWine";
constexpr uint64_t kSector = 512;
// Past 4 GiB, so that a range crosses it; the image is sparse.
constexpr uint64_t kImageSize = (4ull << 30) + (1 << 20);

struct Range {
    uint64_t offset;
    uint64_t length;
};
const Range kRanges[] = {
    {0, 512},                         // the first sector
    {3584, 4096},                     // across a 4 KiB boundary
    {(1 << 20) + 1536, 64 << 10},     //
    {2 << 20, 256 << 10},             //
    {(4ull << 30) - 512, 1024},       // across 4 GiB: the OVERLAPPED record's high half
    {kImageSize - kSector, kSector},  // the last sector
};

std::string quote(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) {
        if (c == '\'')
            quoted += "'\\''";
        else
            quoted.push_back(c);
    }
    return quoted + "'";
}

bool on_path(const std::string& program) {
    return std::system(("command -v " + quote(program) + " >/dev/null 2>&1").c_str()) == 0;
}

Bytes read_file(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return Bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string environment(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

Bytes read_range(const fs::path& file, uint64_t offset, uint64_t length) {
    Bytes data(length);
    std::ifstream in(file, std::ios::binary);
    in.seekg(static_cast<std::streamoff>(offset));
    in.read(reinterpret_cast<char*>(data.data()), static_cast<std::streamsize>(length));
    EXPECT_TRUE(in) << "reading " << length << " bytes at " << offset << " of " << file;
    return data;
}

void write_range(const fs::path& file, uint64_t offset, const Bytes& data) {
    std::fstream out(file, std::ios::binary | std::ios::in | std::ios::out);
    out.seekp(static_cast<std::streamoff>(offset));
    out.write(reinterpret_cast<const char*>(data.data()),
              static_cast<std::streamsize>(data.size()));
    ASSERT_TRUE(out) << "writing at " << offset << " of " << file;
}

void write_file(const fs::path& file, const Bytes& data) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data.data()),
              static_cast<std::streamsize>(data.size()));
    ASSERT_TRUE(out) << file;
}

std::string hex(const Bytes& data) {
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (uint8_t b : data) {
        text.push_back(digits[b >> 4]);
        text.push_back(digits[b & 15]);
    }
    return text;
}

// A Wine prefix in a fresh temporary folder, for this test alone, so that nothing else shares its
// server, its services or its drive letters. Its server is kept running between the commands
// (else it would stop the driver's service each time the last program ends); stop() ends it with
// every process of the prefix, and the folder is removed at the end.
class WinePrefix {
  public:
    explicit WinePrefix(const std::string& wine_run) : wine_run_(wine_run) {
        std::string pattern = (fs::temp_directory_path() / "orvik-wine-XXXXXX").string();
        if (!mkdtemp(pattern.data())) return;
        folder_ = pattern;
        path_ = folder_ / "prefix";
        setenv("WINEPREFIX", path_.c_str(), 1);
    }
    ~WinePrefix() {
        stop();
        std::error_code ignored;
        if (!folder_.empty()) fs::remove_all(folder_, ignored);
    }
    WinePrefix(const WinePrefix&) = delete;
    WinePrefix& operator=(const WinePrefix&) = delete;

    bool made() const { return !folder_.empty(); }
    // The host path of C:\<name>.
    fs::path drive_c(const std::string& name) const { return path_ / "drive_c" / name; }

    // Creates the prefix and waits until its set-up has ended, then starts its server to stay
    // (for at most a minute after the last program, should the test itself be killed).
    int create(std::string* output) {
        int status = wine({"wineboot", "--init"}, output, 300);
        if (status == 0) status = run("wineserver -w", output, 120);
        if (status == 0) status = run("wineserver -p60", output, 60);
        return status;
    }

    // A Windows program (or Wine's own, such as "sc") run in the prefix; its exit status, at most
    // seconds long.
    int wine(const std::vector<std::string>& args, std::string* output, int seconds = 120) {
        std::string command = quote(wine_run_);
        for (const std::string& arg : args) {
            command.push_back(' ');
            command += quote(arg);
        }
        return run(command, output, seconds);
    }

    // Ends the prefix's server and with it every process of the prefix (services, winedevice);
    // true once none is left.
    bool stop() {
        if (folder_.empty() || stopped_) return true;
        stopped_ = true;
        std::string ignored;
        run("wineserver -k", &ignored, 60);
        for (int i = 0; i < 300; ++i) {
            if (processes().empty()) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        for (int pid : processes()) kill(pid, SIGKILL);
        return false;
    }

    // The host processes started in this prefix (their environment names it).
    std::vector<int> processes() const {
        const std::string mark = "WINEPREFIX=" + path_.string();
        std::vector<int> pids;
        std::error_code error;
        for (const auto& entry : fs::directory_iterator("/proc", error)) {
            const std::string name = entry.path().filename().string();
            if (name.find_first_not_of("0123456789") != std::string::npos) continue;
            std::ifstream in(entry.path() / "environ", std::ios::binary);
            std::string variable;
            while (std::getline(in, variable, '\0'))
                if (variable == mark) pids.push_back(std::stoi(name));
        }
        return pids;
    }

  private:
    // What command printed goes to a file, not a pipe: the programs that Wine starts on the way
    // (its service manager, winedevice) inherit the output and outlive the command.
    int run(const std::string& command, std::string* output, int seconds) {
        const fs::path log = folder_ / "output.txt";
        const int status = std::system(("timeout -k 10 " + std::to_string(seconds) + " " + command +
                                        " >" + quote(log.string()) + " 2>&1 </dev/null")
                                           .c_str());
        const Bytes printed = read_file(log);
        output->assign(printed.begin(), printed.end());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    std::string wine_run_;
    fs::path folder_;
    fs::path path_;
    bool stopped_ = false;
};

// The sectors of the image at the range, decrypted by the oracle under key.
Bytes decrypt_range(const fs::path& image, const Bytes& key, const Range& range) {
    const Bytes stored = read_range(image, range.offset, range.length);
    Bytes plain(range.length);
    oracles::OpensslSm4Xts oracle;
    EXPECT_TRUE(oracle.crypt_sectors(key.data(), range.offset / kSector, stored.data(),
                                     stored.size(), plain.data(), false));
    return plain;
}

std::vector<std::string> client_arguments(const char* mode, const Bytes& key) {
    std::vector<std::string> args = {"C:\\orvik\\orvik_wine_client.exe", mode,
                                     "C:\\orvik\\image.img", hex(key), "C:\\orvik\\data.bin"};
    for (const Range& range : kRanges)
        args.push_back(std::to_string(range.offset) + ":" + std::to_string(range.length));
    return args;
}

TEST(OrvikUnderWine, SectorsWrittenThroughTheDriveAreTheImagesSectorsUnderTheKey) {
    if (!on_path("wine") || !on_path("wineserver"))
        GTEST_SKIP() << "Wine is not installed (no wine or wineserver on PATH): Orvik.sys is not "
                        "run under Wine's kernel";
    const std::string wine_run = environment("HALDEN_WINE_RUN");
    const fs::path driver = environment("ORVIK_WINE_DRIVER");
    const fs::path client = environment("ORVIK_WINE_CLIENT");
    ASSERT_TRUE(!wine_run.empty() && !driver.empty() && !client.empty())
        << "HALDEN_WINE_RUN, ORVIK_WINE_DRIVER and ORVIK_WINE_CLIENT name the programs: run this "
           "test through the Windows build's ctest";

    WinePrefix prefix(wine_run);
    ASSERT_TRUE(prefix.made());
    std::string output;
    ASSERT_EQ(prefix.create(&output), 0) << output;

    const fs::path folder = prefix.drive_c("orvik");
    fs::create_directories(folder);
    fs::copy_file(driver, folder / "OrvikWineTest.sys");
    fs::copy_file(client, folder / "orvik_wine_client.exe");
    fs::copy_file(client.parent_path() / "Kelvane.dll", folder / "Kelvane.dll");

    // Registry entries alone would not do: Wine's service manager reads the services when it
    // starts.
    ASSERT_EQ(prefix.wine({"sc", "create", kService, "type=", "kernel",
                           "binPath=", "C:\\orvik\\OrvikWineTest.sys"},
                          &output),
              0)
        << output;
    ASSERT_EQ(prefix.wine({"net", "start", kService}, &output), 0) << output;

    // The image: sparse, with random bytes in the ranges and in the sector on either side of
    // each, which the writes must leave as they are.
    std::mt19937_64 random(17);
    auto random_bytes = [&random](uint64_t length) {
        Bytes data(length);
        for (uint8_t& b : data) b = static_cast<uint8_t>(random());
        return data;
    };
    const fs::path image = folder / "image.img";
    write_file(image, {});
    fs::resize_file(image, kImageSize);
    std::vector<Range> neighbours;
    for (const Range& range : kRanges) {
        if (range.offset >= kSector) neighbours.push_back({range.offset - kSector, kSector});
        if (range.offset + range.length < kImageSize)
            neighbours.push_back({range.offset + range.length, kSector});
    }
    for (const Range& range : kRanges) write_range(image, range.offset, random_bytes(range.length));
    std::vector<Bytes> untouched;
    for (const Range& range : neighbours) {
        untouched.push_back(random_bytes(range.length));
        write_range(image, range.offset, untouched.back());
    }

    const Bytes key = random_bytes(32);
    std::vector<Bytes> written;
    Bytes data;
    for (const Range& range : kRanges) {
        written.push_back(random_bytes(range.length));
        data.insert(data.end(), written.back().begin(), written.back().end());
    }
    write_file(folder / "data.bin", data);
    ASSERT_EQ(prefix.wine(client_arguments("write", key), &output), 0) << output;

    for (size_t i = 0; i < std::size(kRanges); ++i)
        EXPECT_TRUE(decrypt_range(image, key, kRanges[i]) == written[i])
            << "the image's sectors at " << kRanges[i].offset
            << " do not decrypt to what was written there";
    for (size_t i = 0; i < neighbours.size(); ++i)
        EXPECT_TRUE(read_range(image, neighbours[i].offset, kSector) == untouched[i])
            << "the sector at " << neighbours[i].offset << " changed";

    write_file(folder / "data.bin", {});
    ASSERT_EQ(prefix.wine(client_arguments("read", key), &output), 0) << output;
    EXPECT_TRUE(read_file(folder / "data.bin") == data)
        << "the second mount reads the ranges otherwise";

    EXPECT_EQ(prefix.wine({"net", "stop", kService}, &output), 0) << output;
    EXPECT_TRUE(prefix.stop()) << "processes of the prefix still running after its server ended";
}

}  // namespace
