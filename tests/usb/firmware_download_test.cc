// The firmware download chain against a bridge that records and answers vendor requests.
#include "usb/firmware_download.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "tests/support/sim_devices.h"
#include "usb/bytes.h"
#include "usb/vendor_requests.h"

namespace {

using usbtest::Bus;

struct Request {
    uint8_t request_type, request;
    uint16_t value, index;
    std::vector<uint8_t> data;  // sent (host to device) or answered
};

// The bridge's boot firmware as far as the download chain needs it: RAM written and read back
// with 0xA0, EEPROM blocks with 0xBA and the closing 0xBB read, SPI erase (busy for a while)
// with 0xC4 and program chunks with 0xC2. No download here takes more than a few hundred
// requests: beyond kRequestLimit the test fails and every request stalls, so that a host that
// loops (polling an erase for ever, a chunk that never advances) fails at once.
class BridgeFirmware : public sim::usb::EndpointBehaviour {
  public:
    static constexpr size_t kRequestLimit = 1000;

    std::vector<Request> requests;
    std::map<uint32_t, uint8_t> ram;
    int corrupt_read_backs = 0;  // read-backs that come back with a flipped byte
    int busy_polls = 2;          // polls an erase stays busy for
    bool fail_erase = false;
    bool fail_program = false;

    std::vector<Request> of(uint8_t request) const {
        std::vector<Request> picked;
        for (const auto& r : requests)
            if (r.request == request) picked.push_back(r);
        return picked;
    }

    sim::usb::Reply control(const sim::usb::SetupPacket& setup, std::span<uint8_t> data) override {
        if (requests.size() >= kRequestLimit) {
            if (requests.size() == kRequestLimit) ADD_FAILURE() << "the host does not stop";
            requests.push_back({setup.request_type, setup.request, setup.value, setup.index, {}});
            return sim::usb::Reply::stall();
        }
        bool in = setup.request_type & 0x80;
        EXPECT_EQ(setup.request_type & 0x7F, 0x40) << "vendor request to the device";
        uint32_t address = static_cast<uint32_t>(setup.index) << 16 | setup.value;
        auto reply = sim::usb::Reply::ok(static_cast<uint32_t>(data.size()));
        switch (setup.request) {
            case 0xA0:
                for (size_t i = 0; i < data.size(); ++i) {
                    if (in)
                        data[i] = ram[address + static_cast<uint32_t>(i)];
                    else
                        ram[address + static_cast<uint32_t>(i)] = data[i];
                }
                if (in && !data.empty() && corrupt_read_backs > 0) {
                    --corrupt_read_backs;
                    data[0] ^= 0xFF;
                }
                break;
            case 0xC4:
                if (!in) {
                    if (fail_erase) reply = sim::usb::Reply::stall();
                    polls_left = busy_polls;
                } else if (!data.empty()) {
                    data[0] = polls_left > 0 ? 1 : 0;
                    if (polls_left > 0) --polls_left;
                }
                break;
            case 0xC2:
                if (fail_program) reply = sim::usb::Reply::stall();
                break;
            default:
                break;
        }
        requests.push_back({setup.request_type, setup.request, setup.value, setup.index,
                            std::vector<uint8_t>(data.begin(), data.end())});
        return reply;
    }

  private:
    int polls_left = 0;
};

class Download : public Bus {
  protected:
    void SetUp() override {
        Bus::SetUp();
        card = usbtest::plug_card();
        firmware = std::make_shared<BridgeFirmware>();
        card.device->set_behaviour(0, firmware);
        device = std::make_unique<CCyUSBDriverDevice>();
        ASSERT_NE(device->ControlEndPoint, nullptr);
    }
    usbtest::Card card;
    std::shared_ptr<BridgeFirmware> firmware;
    std::unique_ptr<CCyUSBDriverDevice> device;
};

void add32(std::vector<uint8_t>& image, uint32_t value) {
    uint8_t bytes[4];
    usb::store_le32(bytes, value);
    image.insert(image.end(), bytes, bytes + 4);
}

std::vector<uint8_t> pattern(size_t n, uint8_t seed) {
    std::vector<uint8_t> bytes(n);
    for (size_t i = 0; i < n; ++i) bytes[i] = static_cast<uint8_t>(seed + i * 7);
    return bytes;
}

// A RAM image: "CY", two bytes not read, records of (word count, address, data), then the end.
std::vector<uint8_t> ram_image(
    const std::vector<std::pair<uint32_t, std::vector<uint8_t>>>& records, uint32_t start) {
    std::vector<uint8_t> image = {'C', 'Y', 0xB0, 0x00};
    for (const auto& [address, data] : records) {
        add32(image, static_cast<uint32_t>(data.size() / 4));
        add32(image, address);
        image.insert(image.end(), data.begin(), data.end());
    }
    add32(image, 0);
    add32(image, start);
    add32(image, 0);
    return image;
}

std::string write_file(const std::vector<uint8_t>& bytes, const std::string& suffix = "") {
    auto path = std::filesystem::temp_directory_path() /
                ("halden-fw-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
                 "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name() + suffix);
    FILE* file = fopen(path.c_str(), "wb");
    if (!bytes.empty()) std::fwrite(bytes.data(), 1, bytes.size(), file);
    std::fclose(file);
    return path.string();
}

TEST_F(Download, TargetAndFileChecks) {
    auto path = write_file(ram_image({}, 0));
    EXPECT_EQ(DownloadFirmwareFile(device.get(), path.c_str(), 4), 2);
    EXPECT_EQ(DownloadFirmwareFile(device.get(), path.c_str(), 0), 2);
    EXPECT_EQ(DownloadFirmwareFile(device.get(), "/nonexistent/halden/fw.img", 1), 6);
    auto empty = write_file({}, "-empty");
    EXPECT_EQ(DownloadFirmwareFile(device.get(), empty.c_str(), 1), 6);
    std::filesystem::remove(empty);
    EXPECT_TRUE(firmware->requests.empty());
    EXPECT_EQ(DownloadFirmwareFile(device.get(), path.c_str(), 1), 0);
    std::filesystem::remove(path);
}

TEST_F(Download, RamImageWithoutSignatureSendsNothing) {
    auto image = ram_image({{0x100, pattern(16, 1)}}, 0);
    image[1] = 'X';
    EXPECT_EQ(DownloadToRam(device.get(), image.data(), static_cast<uint32_t>(image.size()), 0xA0),
              3);
    EXPECT_TRUE(firmware->requests.empty());
}

TEST_F(Download, RamRecordsAreWrittenInChunksAndReadBack) {
    auto big = pattern(5000, 3);
    auto small = pattern(12, 9);
    auto image = ram_image({{0x00012000, big}, {0x40, small}}, 0x00E60000);
    EXPECT_EQ(DownloadToRam(device.get(), image.data(), static_cast<uint32_t>(image.size()), 0xA0),
              0);
    for (size_t i = 0; i < big.size(); ++i) ASSERT_EQ(firmware->ram[0x12000 + i], big[i]) << i;
    for (size_t i = 0; i < small.size(); ++i) EXPECT_EQ(firmware->ram[0x40 + i], small[i]);

    // Chunks of at most 2048 bytes, each written then read back at the same address.
    struct Step {
        uint8_t type;
        uint16_t value, index;
        size_t length;
    };
    std::vector<Step> expected = {
        {0x40, 0x2000, 0x0001, 2048}, {0xC0, 0x2000, 0x0001, 2048}, {0x40, 0x2800, 0x0001, 2048},
        {0xC0, 0x2800, 0x0001, 2048}, {0x40, 0x3000, 0x0001, 904},  {0xC0, 0x3000, 0x0001, 904},
        {0x40, 0x0040, 0x0000, 12},   {0xC0, 0x0040, 0x0000, 12},   {0x40, 0x0000, 0x00E6, 0}};
    ASSERT_EQ(firmware->requests.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        const auto& r = firmware->requests[i];
        EXPECT_EQ(r.request, 0xA0) << i;
        EXPECT_EQ(r.request_type, expected[i].type) << i;
        EXPECT_EQ(r.value, expected[i].value) << i;
        EXPECT_EQ(r.index, expected[i].index) << i;
        EXPECT_EQ(r.data.size(), expected[i].length) << i;
    }
}

struct RetryCase {
    int corrupt;
    int result;
    size_t writes;
};

void PrintTo(const RetryCase& c, std::ostream* os) {
    *os << "corrupt " << c.corrupt;
}

class RamRetries : public Download, public ::testing::WithParamInterface<RetryCase> {};

TEST_P(RamRetries, UpToThreeAttempts) {
    firmware->corrupt_read_backs = GetParam().corrupt;
    auto image = ram_image({{0x100, pattern(64, 5)}}, 0);
    EXPECT_EQ(DownloadToRam(device.get(), image.data(), static_cast<uint32_t>(image.size()), 0xA0),
              GetParam().result);
    size_t writes = 0;
    for (const auto& r : firmware->requests) writes += r.request_type == 0x40 && !r.data.empty();
    EXPECT_EQ(writes, GetParam().writes);
}

INSTANTIATE_TEST_SUITE_P(Attempts, RamRetries,
                         ::testing::Values(RetryCase{0, 0, 1}, RetryCase{1, 0, 2},
                                           RetryCase{2, 0, 3}, RetryCase{3, 1, 3}));

TEST_F(Download, RamRecordsThatDoNotFitTheImage) {
    auto image = ram_image({{0x100, pattern(64, 5)}}, 0);
    // A record that claims more words than the image holds.
    auto overrun = image;
    usb::store_le32(overrun.data() + 4, 20);
    EXPECT_EQ(
        DownloadToRam(device.get(), overrun.data(), static_cast<uint32_t>(overrun.size()), 0xA0),
        5);
    EXPECT_TRUE(firmware->requests.empty());
    // A chunk longer than the whole image.
    usb::store_le32(overrun.data() + 4, 1000);
    EXPECT_EQ(
        DownloadToRam(device.get(), overrun.data(), static_cast<uint32_t>(overrun.size()), 0xA0),
        8);
    // No end record.
    image.erase(image.end() - 12, image.end());
    EXPECT_EQ(DownloadToRam(device.get(), image.data(), static_cast<uint32_t>(image.size()), 0xA0),
              5);
}

std::vector<uint8_t> eeprom_image(size_t size, uint8_t size_code) {
    auto image = pattern(size, 11);
    image[2] = static_cast<uint8_t>(size_code << 1);
    return image;
}

TEST_F(Download, EepromImageOfWholeBlocks) {
    auto image = eeprom_image(4096, 2);
    EXPECT_EQ(DownloadToI2cEeprom(device.get(), image.data(), 4096, 0xBA), 0);
    auto blocks = firmware->of(0xBA);
    ASSERT_EQ(blocks.size(), 2u);
    EXPECT_EQ(blocks[0].value, 0);
    EXPECT_EQ(blocks[0].index, 0);
    EXPECT_EQ(blocks[1].index, 2048);
    EXPECT_EQ(blocks[1].data, std::vector<uint8_t>(image.begin() + 2048, image.end()));
    EXPECT_EQ(device->ControlEndPoint->Value, 1);
    EXPECT_EQ(device->ControlEndPoint->Index, 0);
    EXPECT_TRUE(firmware->of(0xBB).empty());
}

TEST_F(Download, EepromRemainderIsPaddedAndClosed) {
    auto image = eeprom_image(5000, 2);
    EXPECT_EQ(DownloadToI2cEeprom(device.get(), image.data(), 5000, 0xBA), 0);
    auto blocks = firmware->of(0xBA);
    ASSERT_EQ(blocks.size(), 3u);
    EXPECT_EQ(blocks[2].value, 1);
    EXPECT_EQ(blocks[2].index, 0);
    ASSERT_EQ(blocks[2].data.size(), 960u);  // 904 padded to 64-byte packets
    EXPECT_EQ(blocks[2].data[903], image[4999]);
    EXPECT_EQ(blocks[2].data[904], 0);
    auto closing = firmware->of(0xBB);
    ASSERT_EQ(closing.size(), 1u);
    EXPECT_EQ(closing[0].request_type, 0xC0);
    EXPECT_EQ(closing[0].data.size(), 960u);
}

TEST_F(Download, EepromAddressSchemes) {
    // Normal scheme, 4096-byte device: wValue steps at every 4096 bytes and wraps at 8.
    auto image = eeprom_image(9 * 4096, 2);
    ASSERT_EQ(
        DownloadToI2cEeprom(device.get(), image.data(), static_cast<uint32_t>(image.size()), 0xBA),
        0);
    std::vector<uint16_t> values;
    for (const auto& r : firmware->of(0xBA))
        if (r.index == 0) values.push_back(r.value);
    EXPECT_EQ(values, (std::vector<uint16_t>{0, 1, 2, 3, 4, 5, 6, 7, 0}));

    // Large-device scheme (code 7): 4 below 0x20000, then 1 after 4, then 5.
    firmware->requests.clear();
    image = eeprom_image(4 * 65536, 7);
    ASSERT_EQ(
        DownloadToI2cEeprom(device.get(), image.data(), static_cast<uint32_t>(image.size()), 0xBA),
        0);
    values.clear();
    for (const auto& r : firmware->of(0xBA))
        if (r.index == 0) values.push_back(r.value);
    EXPECT_EQ(values, (std::vector<uint16_t>{0, 4, 1, 5}));
}

TEST_F(Download, EepromSizeCodesZeroAndOneAreRefused) {
    for (uint8_t code : {0, 1}) {
        auto image = eeprom_image(4096, code);
        EXPECT_EQ(DownloadToI2cEeprom(device.get(), image.data(), 4096, 0xBA), 9);
    }
    EXPECT_TRUE(firmware->requests.empty());
}

TEST_F(Download, SpiFlashIsErasedThenProgrammedInChunks) {
    auto image = pattern(70000, 13);
    auto path = write_file(image);
    EXPECT_EQ(DownloadFirmwareFile(device.get(), path.c_str(), 3), 0);
    std::filesystem::remove(path);

    auto erase = firmware->of(0xC4);
    // Per sector: the erase command, then polls until the busy byte reads 0.
    ASSERT_EQ(erase.size(), 2u * (1 + 3));
    for (int sector = 0; sector < 2; ++sector) {
        const auto& command = erase[sector * 4];
        EXPECT_EQ(command.request_type, 0x40);
        EXPECT_EQ(command.value, 1);
        EXPECT_EQ(command.index, sector);
        for (int poll = 1; poll <= 3; ++poll) {
            EXPECT_EQ(erase[sector * 4 + poll].request_type, 0xC0);
            EXPECT_EQ(erase[sector * 4 + poll].value, 0);
            EXPECT_EQ(erase[sector * 4 + poll].index, sector);
        }
    }
    auto program = firmware->of(0xC2);
    ASSERT_EQ(program.size(), 35u);  // 274 pages = 34 chunks of 2048 and one of 512
    std::vector<uint8_t> flash;
    for (size_t i = 0; i < program.size(); ++i) {
        EXPECT_EQ(program[i].value, 0);
        EXPECT_EQ(program[i].index, i * 2048 / 256);
        flash.insert(flash.end(), program[i].data.begin(), program[i].data.end());
    }
    EXPECT_EQ(program.back().data.size(), 512u);
    ASSERT_EQ(flash.size(), 274u * 256);
    EXPECT_TRUE(std::equal(image.begin(), image.end(), flash.begin()));
    for (size_t i = image.size(); i < flash.size(); ++i) EXPECT_EQ(flash[i], kSpiPadByte);
}

TEST_F(Download, SpiFailures) {
    auto image = pattern(1000, 1);
    firmware->fail_erase = true;
    EXPECT_EQ(DownloadToSpiFlash(device.get(), image.data(), 1000, 0xC4), 7);
    EXPECT_TRUE(firmware->of(0xC2).empty());
    firmware->fail_erase = false;
    firmware->fail_program = true;
    EXPECT_EQ(DownloadToSpiFlash(device.get(), image.data(), 1000, 0xC4), 1);
}

TEST_F(Download, VendorRequestShapes) {
    EXPECT_TRUE(VendorCommand(device.get(), 0xB1, 0x12345678));
    EXPECT_TRUE(VendorReadA0(device.get()));
    std::vector<uint8_t> large = pattern(70000, 2);
    EXPECT_TRUE(VendorWrite(device.get(), 0x00020010, 0, large.data(), 0xA0));
    EXPECT_TRUE(VendorRequest(device.get(), {0xB2, 0, 0x0102, 0x0304,
                                             static_cast<uint32_t>(large.size()), large.data()}));
    auto& r = firmware->requests;
    ASSERT_EQ(r.size(), 5u);
    EXPECT_EQ(r[0].value, 0x1234);
    EXPECT_EQ(r[0].index, 0x5678);
    EXPECT_TRUE(r[0].data.empty());
    EXPECT_EQ(r[1].request_type, 0xC0);
    EXPECT_EQ(r[1].request, 0xA0);
    EXPECT_EQ(r[1].data.size(), 1u);
    EXPECT_EQ(r[2].value, 0x0010);
    EXPECT_EQ(r[2].index, 0x0002);
    // Chunks of at most 65535 bytes with the same wValue and wIndex.
    EXPECT_EQ(r[3].data.size(), 65535u);
    EXPECT_EQ(r[4].data.size(), 70000u - 65535u);
    EXPECT_EQ(r[4].value, 0x0102);
    EXPECT_EQ(r[4].index, 0x0304);
    EXPECT_EQ(r[4].data[0], large[65535]);
}

}  // namespace
