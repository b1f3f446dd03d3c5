// Random bytes in chunks, the device count, the backup file and the key slot commands against a
// scripted card.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include "card/card_api.h"
#include "card/commands/card_random.h"
#include "card/commands/key_slots.h"
#include "crypto/sm3.h"
#include "platform/testing/disk_controls.h"
#include "tests/card/scripted_card.h"

namespace {

const uint8_t k16[16] = {};

Frame random_answer(uint32_t length, uint8_t fill) {
    Frame r = response(0x72D, 16 + length + 64);
    std::fill(r.begin() + 16, r.end(), fill);
    return r;
}

// ---- Random bytes ----

struct ChunkCase {
    uint32_t length;
    std::vector<uint32_t> chunks;
};

class GenRandChunks : public ScriptedCard, public ::testing::WithParamInterface<ChunkCase> {};

TEST_P(GenRandChunks, OneExchangePerChunkAndNothingPastTheEnd) {
    const ChunkCase& c = GetParam();
    for (size_t i = 0; i < c.chunks.size(); ++i)
        answer(random_answer(c.chunks[i], static_cast<uint8_t>(0x10 + i)));
    std::vector<uint8_t> buffer(c.length + 64, 0xA5);
    ASSERT_EQ(QeltGenRand(buffer.data(), c.length), 0u);
    const auto frames = sent();
    ASSERT_EQ(frames.size(), c.chunks.size());
    size_t offset = 0;
    for (size_t i = 0; i < c.chunks.size(); ++i) {
        EXPECT_EQ(frames[i].size(), 64u);
        EXPECT_EQ(be32_at(frames[i], 16), c.chunks[i]);
        for (size_t k = 0; k < c.chunks[i]; ++k)
            ASSERT_EQ(buffer[offset + k], 0x10 + i) << "chunk " << i << " byte " << k;
        offset += c.chunks[i];
    }
    for (size_t k = c.length; k < buffer.size(); ++k) ASSERT_EQ(buffer[k], 0xA5);
    EXPECT_EQ(card.queue->queued(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Lengths, GenRandChunks,
                         ::testing::Values(ChunkCase{16, {16}}, ChunkCase{4096, {4096}},
                                           ChunkCase{4097, {4096, 1}},
                                           ChunkCase{10000, {4096, 4096, 1808}}));

TEST_F(ScriptedCard, GenRandErrorInTheSecondChunkKeepsTheFirst) {
    answer(random_answer(4096, 0x33));
    answer(response(0x72D, 4160, 0x6A82));
    std::vector<uint8_t> buffer(8192, 0xA5);
    EXPECT_EQ(QeltGenRand(buffer.data(), 8192), 0x6A82u);
    for (size_t k = 0; k < 4096; ++k) ASSERT_EQ(buffer[k], 0x33);
    for (size_t k = 4096; k < 8192; ++k) ASSERT_EQ(buffer[k], 0xA5);
    EXPECT_EQ(sent().size(), 2u);
}

TEST_F(ScriptedCard, CardCountFollowsThePluggedCards) {
    uint32_t count = 99;
    EXPECT_EQ(QeltGetCardCnt(&count), 0u);
    EXPECT_EQ(count, 1u);
    auto second = usbtest::plug_card();
    EXPECT_EQ(QeltGetCardCnt(&count), 0u);
    EXPECT_EQ(count, 2u);
    sim::usb::unplug_all();
    EXPECT_EQ(QeltGetCardCnt(&count), 0u);
    EXPECT_EQ(count, 0u);
    EXPECT_TRUE(log.messages().empty());
}

TEST_F(ScriptedCard, CommandsGoToTheFirstCard) {
    auto second = usbtest::plug_card();
    answer(response(0x737, 64));
    EXPECT_EQ(QeltActiveDevEx(), 0u);
    EXPECT_EQ(sent().size(), 1u);
    EXPECT_TRUE(second.queue->received().empty());
}

// ---- Backup file ----

class BackupFile : public ScriptedCard {
  protected:
    static constexpr char kName[] = "C:/Halden/card.bak";
    std::filesystem::path file() const { return root.path(kName); }
    Frame file_bytes() const {
        std::ifstream in(file(), std::ios::binary);
        return Frame(std::istreambuf_iterator<char>(in), {});
    }
    void write_file(const Frame& bytes) const {
        std::ofstream(file(), std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
    }
    static Frame hash_of(const std::string& password) {
        uint8_t digest[32];
        sm3(reinterpret_cast<const uint8_t*>(password.data()),
            static_cast<uint32_t>(password.size()), digest);
        return Frame(digest, digest + 32);
    }
    void TearDown() override {
        sim::disk_clear_free_space_limits();
        ScriptedCard::TearDown();
    }
    // No handle holds the file any more: it opens without sharing.
    bool closed() const {
        HANDLE h = CreateFileA(kName, GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h == INVALID_HANDLE_VALUE) return false;
        CloseHandle(h);
        return true;
    }
};

// Each way that the two exports end, and the file is closed after it.
TEST_F(BackupFile, ClosedOnEveryPath) {
    struct Case {
        const char* name;
        std::function<void()> arrange;
        std::function<uint32_t()> call;
        uint32_t result;
    };
    const auto backup = [] { return QeltBackupXk(kName, "password-1"); };
    const auto recovery = [] { return QeltRecoveryXk(kName, "password-1"); };
    const Case cases[] = {
        {"backup", [&] { answer(response(0x735, 320)); }, backup, 0},
        {"backup refused", [&] { answer(response(0x735, 320, 44)); }, backup, 44},
        {"backup short write",
         [&] {
             answer(response(0x735, 320));
             sim::disk_set_free_space('C', 100);
         },
         backup, 1},
        {"recovery",
         [&] {
             write_file(counting(304));
             answer(response(0x736, 64));
         },
         recovery, 0},
        {"recovery refused",
         [&] {
             write_file(counting(304));
             answer(response(0x736, 64, 44));
         },
         recovery, 44},
        {"recovery short file", [&] { write_file(counting(303)); }, recovery, 1},
    };
    for (const Case& c : cases) {
        c.arrange();
        EXPECT_EQ(c.call(), c.result) << c.name;
        sim::disk_clear_free_space_limits();
        EXPECT_TRUE(closed()) << c.name;
    }
}

TEST_F(BackupFile, BackupWritesExactlyTheCardsBlock) {
    Frame r = response(0x735, 320);
    const Frame block = counting(304, 7);
    put(r, 16, block);
    answer(r);
    ASSERT_EQ(QeltBackupXk(kName, "password-1"), 0u);
    EXPECT_EQ(file_bytes(), block);
    const Frame f = sent()[0];
    EXPECT_EQ(f.size(), 64u);
    EXPECT_EQ(slice(f, 16, 32), hash_of("password-1"));
    EXPECT_EQ(read_lengths(), std::vector<size_t>{320});
}

TEST_F(BackupFile, CardErrorKeepsTheEarlierBackup) {
    const Frame earlier = counting(304, 99);
    write_file(earlier);
    answer(response(0x735, 320, 44));
    EXPECT_EQ(QeltBackupXk(kName, "password-1"), 44u);
    EXPECT_EQ(file_bytes(), earlier);
}

TEST_F(BackupFile, NewBlockReplacesALongerFile) {
    write_file(Frame(1000, 0xEE));
    Frame r = response(0x735, 320);
    put(r, 16, counting(304, 1));
    answer(r);
    ASSERT_EQ(QeltBackupXk(kName, "password-1"), 0u);
    EXPECT_EQ(file_bytes(), counting(304, 1));
}

TEST_F(BackupFile, UnwritableNameFailsBeforeTheCard) {
    EXPECT_EQ(QeltBackupXk("C:/Halden/no-such-folder/card.bak", "password-1"), 1u);
    EXPECT_EQ(QeltRecoveryXk("C:/Halden/missing.bak", "password-1"), 1u);
    EXPECT_TRUE(sent().empty());
    const std::string open_failed =
        "\xb1\xb8\xb7\xdd\xce\xc4\xbc\xfe\xb4\xf2\xbf\xaa\xca\xa7\xb0\xdc";
    EXPECT_EQ(log.messages(), (std::vector<std::string>{open_failed, open_failed}));
}

TEST_F(BackupFile, ShortWriteGivesOne) {
    Frame r = response(0x735, 320);
    answer(r);
    sim::disk_set_free_space('C', 100);
    EXPECT_EQ(QeltBackupXk(kName, "password-1"), 1u);
    EXPECT_EQ(log.messages(), std::vector<std::string>{"write backup_data err[100]"});
}

TEST_F(BackupFile, ArgumentLimits) {
    const std::string name255 = "C:/Halden/" + std::string(245, 'n');
    const std::string name256 = name255 + "n";
    answer(response(0x735, 320));
    EXPECT_EQ(QeltBackupXk(name255.c_str(), "password"), 0u);
    EXPECT_EQ(QeltBackupXk(name256.c_str(), "password"), 3u);
    EXPECT_EQ(QeltBackupXk("", "password"), 3u);
    EXPECT_EQ(QeltBackupXk(kName, "passwor"), 3u);
    EXPECT_EQ(QeltRecoveryXk(kName, "passwor"), 3u);
    EXPECT_EQ(QeltBackupXk(nullptr, "password"), 3u);
    EXPECT_EQ(QeltRecoveryXk(kName, nullptr), 3u);
    EXPECT_FALSE(std::filesystem::exists(file()));
    EXPECT_EQ(sent().size(), 1u);
}

TEST_F(BackupFile, RecoverySendsHashAndTheFilesFirst304Bytes) {
    Frame contents = counting(304, 3);
    contents.push_back(0xFF);  // one byte more: ignored
    write_file(contents);
    answer(response(0x736, 64));
    ASSERT_EQ(QeltRecoveryXk(kName, "password-1 and more"), 0u);
    const Frame f = sent()[0];
    EXPECT_EQ(f.size(), 384u);
    EXPECT_EQ(le32_at(f, 8), 368u);
    EXPECT_EQ(slice(f, 16, 32), hash_of("password-1 and more"));
    EXPECT_NE(slice(f, 16, 32), hash_of("password-1"));
    EXPECT_EQ(slice(f, 48, 304), counting(304, 3));
    EXPECT_EQ(slice(f, 352, 32), Frame(32, 0));
}

TEST_F(BackupFile, ShortBackupFileSendsNothing) {
    write_file(counting(303));
    EXPECT_EQ(QeltRecoveryXk(kName, "password-1"), 1u);
    EXPECT_TRUE(sent().empty());
    EXPECT_EQ(log.messages(), std::vector<std::string>{"read backup_data err[303]"});
}

// ---- Key slots ----

TEST_F(ScriptedCard, FreeSkSendsTheSlotAndRefusesOutsideTheRange) {
    EXPECT_EQ(brel_free_sk(0), 3u);
    EXPECT_EQ(brel_free_sk(129), 3u);
    EXPECT_TRUE(sent().empty());
    answer(response(0x72B, 64));
    EXPECT_EQ(brel_free_sk(128), 0u);
    EXPECT_EQ(be32_at(sent()[0], 16), 128u);
}

TEST_F(ScriptedCard, XtsLengthAndSlotChecksSendNothing) {
    uint8_t data[4112] = {};
    for (uint32_t len : {0u, 8u, 4097u, 4112u})
        EXPECT_EQ(brel_xts_enc(1, k16, data, len, data), 3u);
    for (uint32_t slot : {0u, 129u}) EXPECT_EQ(brel_xts_dec(slot, k16, data, 16, data), 3u);
    EXPECT_EQ(brel_xts_enc(1, nullptr, data, 16, data), 3u);
    EXPECT_EQ(brel_xts_enc(1, k16, nullptr, 16, data), 3u);
    EXPECT_EQ(brel_xts_enc(1, k16, data, 16, nullptr), 3u);
    EXPECT_TRUE(sent().empty());
    EXPECT_EQ(log.messages(), std::vector<std::string>(9, "invalid arg"));
}

TEST_F(ScriptedCard, XtsFrameAndItsOutput) {
    const Frame tweak = counting(16, 0xF0), data = counting(4096, 5);
    Frame r = response(0x734, 4160);
    put_be32(r, 32, 4096);
    put(r, 36, counting(4096, 77));
    answer(r);
    std::vector<uint8_t> out(4096 + 16, 0xA5);
    ASSERT_EQ(brel_xts_dec(0x55, tweak.data(), data.data(), 4096, out.data()), 0u);
    const Frame f = sent()[0];
    EXPECT_EQ(f.size(), 4160u);
    EXPECT_EQ(le32_at(f, 8), 4144u);
    EXPECT_EQ(be32_at(f, 16), 0x55u);
    EXPECT_EQ(slice(f, 20, 16), tweak);
    EXPECT_EQ(be32_at(f, 36), 4096u);
    EXPECT_EQ(slice(f, 40, 4096), data);
    EXPECT_EQ(Frame(out.begin(), out.begin() + 4096), counting(4096, 77));
    EXPECT_EQ(Frame(out.begin() + 4096, out.end()), Frame(16, 0xA5));
}

// The card's count of result bytes: below the length it fills only that much of out; above it,
// the copy stops at the length.
struct CountCase {
    uint32_t length, count, filled;
};

class XtsCount : public ScriptedCard, public ::testing::WithParamInterface<CountCase> {};

TEST_P(XtsCount, BoundsTheCopy) {
    const CountCase& c = GetParam();
    Frame r = response(0x733, 128);
    put_be32(r, 32, c.count);
    put(r, 36, counting(64, 1));
    answer(r);
    uint8_t in[64] = {}, out[64];
    std::memset(out, 0xA5, sizeof out);
    ASSERT_EQ(brel_xts_enc(1, k16, in, c.length, out), 0u);
    EXPECT_EQ(Frame(out, out + c.filled), counting(c.filled, 1));
    EXPECT_EQ(Frame(out + c.filled, out + 64), Frame(64 - c.filled, 0xA5));
}

INSTANTIATE_TEST_SUITE_P(Counts, XtsCount,
                         ::testing::Values(CountCase{64, 32, 32}, CountCase{48, 48, 48},
                                           CountCase{48, 0xFFFFFFFF, 48}));

TEST_F(ScriptedCard, WrappedKeyAndSlotFromTheAnswer) {
    Frame r = response(0x729, 192);
    put(r, 16, counting(128, 2));
    put_be32(r, 144, 0x01000080);  // taken without a range test
    answer(r);
    const Frame pke = counting(64, 40);
    uint8_t wrapped[128];
    uint32_t slot = 0;
    ASSERT_EQ(brel_gen_wrapped_sk(pke.data(), wrapped, &slot), 0u);
    EXPECT_EQ(slice(sent()[0], 16, 64), pke);
    EXPECT_EQ(Frame(wrapped, wrapped + 128), counting(128, 2));
    EXPECT_EQ(slot, 0x01000080u);
    EXPECT_EQ(brel_free_sk(slot), 3u);
}

TEST_F(ScriptedCard, ImportSkRefusedLeavesTheSlot) {
    Frame r = response(0x72A, 64, 20);
    put_be32(r, 16, 9);
    answer(r);
    const Frame wrapped = counting(128, 8);
    uint32_t slot = 1234;
    EXPECT_EQ(brel_import_sk(wrapped.data(), &slot), 20u);
    EXPECT_EQ(slot, 1234u);
    EXPECT_EQ(slice(sent()[0], 16, 128), wrapped);
    Frame ok = response(0x72A, 64);
    put_be32(ok, 16, 17);
    answer(ok);
    EXPECT_EQ(brel_import_sk(wrapped.data(), &slot), 0u);
    EXPECT_EQ(slot, 17u);
}

}  // namespace
