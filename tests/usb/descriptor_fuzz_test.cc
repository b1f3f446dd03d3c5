// Random, mutated and truncated descriptor sets: every walk ends, stays within its limits, and
// reads nothing past the set (each set lies in a block of exactly its size; run under ASan).
#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <vector>

#include "platform/usb_bus/usb_controls.h"
#include "usb/configuration.h"

namespace {

void walk_all(const std::vector<uint8_t>& bytes) {
    std::unique_ptr<uint8_t[]> exact(new uint8_t[bytes.size() ? bytes.size() : 1]);
    std::copy(bytes.begin(), bytes.end(), exact.get());
    for (WalkKind kind : {WalkKind::Plain, WalkKind::CompanionAware}) {
        CCyConfiguration config(INVALID_HANDLE_VALUE, exact.get(), bytes.size(), kind);
        ASSERT_LE(config.CfgInterfaceObjectCount, kMaxInterfaceObjects);
        for (int i = 0; i < config.CfgInterfaceObjectCount; ++i) {
            const CCyInterface* object = config.InterfaceObjects[i];
            ASSERT_NE(object, nullptr);
            ASSERT_GE(object->IfTotalLength, 9);
            ASSERT_LE(object->IfTotalLength, bytes.size());
            ASSERT_EQ(object->EndPointSlots[0], nullptr);
        }
        CCyConfiguration copy(config);
        ASSERT_EQ(copy.CfgInterfaceObjectCount, config.CfgInterfaceObjectCount);
    }
    CCyBos bos(INVALID_HANDLE_VALUE, exact.get(), bytes.size());
}

std::vector<uint8_t> sample_set() {
    sim::usb::Configuration c;
    sim::usb::Interface a;
    a.extra = {{5, 0x24, 1, 2, 3}};
    a.endpoints = {{0x02, 2, 1024, 0, sim::usb::Companion{3, 0, 0}},
                   {0x86, 2, 1024, 0, sim::usb::Companion{}},
                   {0x81, 1, 0x1400, 1, sim::usb::Companion{1, 2, 0}}};
    sim::usb::Interface b = a;
    b.alternate = 1;
    c.interfaces = {a, b};
    return sim::usb::configuration_set(c);
}

TEST(DescriptorFuzz, EveryTruncationOfAValidSet) {
    auto set = sample_set();
    for (size_t n = 0; n <= set.size(); ++n)
        walk_all(std::vector<uint8_t>(set.begin(), set.begin() + n));
    auto bos = sim::usb::bos_set({sim::usb::usb20_extension_capability(2),
                                  sim::usb::superspeed_capability(0, 14, 1, 10, 100)});
    for (size_t n = 0; n <= bos.size(); ++n)
        walk_all(std::vector<uint8_t>(bos.begin(), bos.begin() + n));
}

TEST(DescriptorFuzz, MutatedSets) {
    std::mt19937 random(20261210);
    auto set = sample_set();
    for (int round = 0; round < 20000; ++round) {
        auto mutated = set;
        int flips = 1 + static_cast<int>(random() % 6);
        for (int f = 0; f < flips; ++f)
            mutated[random() % mutated.size()] = static_cast<uint8_t>(random());
        mutated.resize(random() % (mutated.size() + 1));
        walk_all(mutated);
    }
}

TEST(DescriptorFuzz, RandomBytesShapedLikeDescriptors) {
    std::mt19937 random(7);
    const uint8_t types[] = {2, 4, 5, 0x30, 0x24, 0, 15, 0x10};
    for (int round = 0; round < 5000; ++round) {
        std::vector<uint8_t> bytes = {9, 2, 0, 0, 1, 1, 0, 0x80, 50};
        size_t target = random() % 600;
        while (bytes.size() < target) {
            uint8_t length = static_cast<uint8_t>(random() % 12);
            bytes.push_back(length);
            bytes.push_back(types[random() % sizeof types]);
            for (int k = 2; k < length; ++k) bytes.push_back(static_cast<uint8_t>(random()));
        }
        uint16_t total = static_cast<uint16_t>(random() % 2 ? bytes.size() : random());
        bytes[2] = static_cast<uint8_t>(total);
        bytes[3] = static_cast<uint8_t>(total >> 8);
        walk_all(bytes);
        bytes[0] = 5;
        bytes[1] = 15;
        bytes[4] = static_cast<uint8_t>(random());
        walk_all(bytes);
    }
}

}  // namespace
