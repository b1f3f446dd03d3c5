// The file containers through the exports against the card's firmware model: round trips at the
// block edges through each path, the blocks checked against the OpenSSL-based XTS under the key
// that the host unwraps (V1) or derives from the PIN (V2); the name field, header-only
// containers, the length rule, the PIN check, a full disk, and the V2 call's hold on the card
// lock.
#include <gtest/gtest.h>

#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "card/card_api.h"
#include "card/containers/fpga_loop.h"
#include "platform/testing/disk_controls.h"
#include "tests/card/container_oracle.h"
#include "tests/card/model_card.h"

namespace {

using sim::card::Fault;

constexpr char kPin[] = "pin-of-16-chars!";
// "PIN wrong", "ciphertext file length incorrect" (GBK)
const std::string kPinWrong = "PIN\xb4\xed\xce\xf3";
const std::string kLengthWrong =
    "\xc3\xdc\xce\xc4\xce\xc4\xbc\xfe\xb3\xa4\xb6\xc8\xb2\xbb\xd5\xfd\xc8\xb7";

// One kind of container and its pair of exports.
struct Kind {
    const char* name;
    uint32_t header;
    bool v2;
    std::function<uint32_t(const uint8_t* pke, const char* pt, const char* ct)> encrypt;
    std::function<uint32_t(const char* ct, const char* pt)> decrypt;
    uint32_t block_code;  // the frame of a block: card command or FPGA opcode
};

const Kind kV1 = {"V1", 447, false, QeltEvEncFile, QeltEvDecFile, 0x733};
const Kind kV1Fpga = {"V1Fpga", 447, false, QeltEvEncFile_FPGA, QeltEvDecFile_FPGA, 0x241};
const Kind kV2 = {
    "V2",
    303,
    true,
    [](const uint8_t*, const char* pt, const char* ct) { return QeltEvEncFile_V2(kPin, pt, ct); },
    [](const char* ct, const char* pt) { return QeltEvDecFile_V2(kPin, ct, pt); },
    0x241};

class Containers : public ModelCard {
  protected:
    void SetUp() override {
        ModelCard::SetUp();
        login_bound();
        root.make_folder("C:/data");
        log.clear();
    }
    void TearDown() override {
        sim::disk_clear_free_space_limits();
        sim::disk_clear_read_limits();
        ModelCard::TearDown();
    }

    std::filesystem::path host(const std::string& drive_path) const {
        return root.path(drive_path);
    }
    bool exists(const std::string& drive_path) const {
        return std::filesystem::exists(host(drive_path));
    }
    const uint8_t* card_public_key() const { return state.encryption.public_key.data(); }

    // The container's file key as the host finds it on its own.
    Bytes file_key(const Kind& kind, const Bytes& container) const {
        if (!kind.v2) return unwrap_v1_key(container, state.encryption.private_key.data());
        const Bytes salt = slice(container, 255, 16);
        const PinKey derived = derive_pin_key(kPin, salt);
        EXPECT_EQ(slice(container, 271, 32), derived.mac);
        return derived.key;
    }
    // No key slot stays taken.
    void expect_slots_free() const {
        for (const auto& slot : card->state().key_slots) EXPECT_FALSE(slot.has_value());
    }
    size_t frames_of(uint32_t code) const {
        size_t n = 0;
        for (const auto& f : card->frames()) n += f.code == code;
        return n;
    }

    const std::string pt = "C:/data/plain.bin", ct = "C:/data/plain.ctr", out = "C:/data/out.bin";
};

// ---- Round trips at the block edges ----

class RoundTrip : public Containers,
                  public ::testing::WithParamInterface<std::tuple<Kind, size_t>> {};

TEST_P(RoundTrip, BlocksAreXtsUnderTheFileKeyAndDecryptBack) {
    const auto& [kind, size] = GetParam();
    const Bytes plain = plaintext(size, static_cast<uint32_t>(size));
    write_file(host(pt), plain);
    ASSERT_EQ(kind.encrypt(card_public_key(), pt.c_str(), ct.c_str()), 0u);

    const Bytes container = read_file(host(ct));
    ASSERT_EQ(container.size(), container_length(kind.header, size));
    Bytes name(255, 0);
    std::memcpy(name.data(), "plain.bin", 9);
    EXPECT_EQ(slice(container, 0, 255), name);
    if (!kind.v2) {
        EXPECT_EQ(slice(container, 255, 64),
                  Bytes(state.encryption.public_key.begin(), state.encryption.public_key.end()));
    }
    const Bytes key = file_key(kind, container);
    const Bytes blocks = slice(container, kind.header, container.size() - kind.header);
    EXPECT_EQ(blocks, expected_blocks(plain, key));
    EXPECT_EQ(decrypt_blocks_on_host(blocks, key), plain);
    EXPECT_EQ(frames_of(kind.block_code), size / 4096 + 1);

    write_file(host(out), Bytes(100, 0xEE));
    ASSERT_EQ(kind.decrypt(ct.c_str(), out.c_str()), 0u);
    EXPECT_EQ(read_file(host(out)), plain);
    expect_slots_free();
    expect_clean_frames();
}

INSTANTIATE_TEST_SUITE_P(EdgeSizes, RoundTrip,
                         ::testing::Combine(::testing::Values(kV1, kV1Fpga, kV2),
                                            ::testing::Values(0, 1, 4095, 4096, 4097, 8191, 8192,
                                                              3 * 4096 + 5)),
                         [](const auto& info) {
                             return std::string(std::get<0>(info.param).name) + "_" +
                                    std::to_string(std::get<1>(info.param));
                         });

// The two V1 block paths write the same file: each reads what the other wrote.
TEST_F(Containers, V1ThroughCommandsAndThroughFpgaFramesReadEachOther) {
    const Bytes plain = plaintext(3 * 4096 + 100);
    write_file(host(pt), plain);
    ASSERT_EQ(QeltEvEncFile_FPGA(card_public_key(), pt.c_str(), ct.c_str()), 0u);
    ASSERT_EQ(QeltEvDecFile(ct.c_str(), out.c_str()), 0u);
    EXPECT_EQ(read_file(host(out)), plain);
    ASSERT_EQ(QeltEvEncFile(card_public_key(), pt.c_str(), ct.c_str()), 0u);
    ASSERT_EQ(QeltEvDecFile_FPGA(ct.c_str(), out.c_str()), 0u);
    EXPECT_EQ(read_file(host(out)), plain);
    expect_slots_free();
}

TEST_F(Containers, V2BlocksGoOnAHeldLink) {
    write_file(host(pt), plaintext(2 * 4096));
    ASSERT_EQ(QeltEvEncFile_V2(kPin, pt.c_str(), ct.c_str()), 0u);
    ASSERT_EQ(QeltEvDecFile_V2(kPin, ct.c_str(), out.c_str()), 0u);
    EXPECT_EQ(frames_of(0x241) + frames_of(0x242), 6u);
    for (const auto& f : card->frames()) {
        if (f.fpga) {
            EXPECT_EQ(f.bytes.at(7), 1) << "the flag of a held link";
        }
    }
    EXPECT_EQ(log.messages(),
              (std::vector<std::string>{"enc start", "enc over", "dec start", "dec over"}));
}

TEST_F(Containers, TwoV2EncryptionsOfOneFileDiffer) {
    write_file(host(pt), plaintext(5000));
    ASSERT_EQ(QeltEvEncFile_V2(kPin, pt.c_str(), ct.c_str()), 0u);
    const Bytes first = read_file(host(ct));
    ASSERT_EQ(QeltEvEncFile_V2(kPin, pt.c_str(), ct.c_str()), 0u);
    const Bytes second = read_file(host(ct));
    EXPECT_NE(slice(first, 255, 16), slice(second, 255, 16));
    EXPECT_NE(slice(first, 271, 32), slice(second, 271, 32));
    EXPECT_NE(slice(first, 303, 4096), slice(second, 303, 4096));
}

TEST_F(Containers, PinsOfEightAndSixteenCharacters) {
    write_file(host(pt), plaintext(10));
    for (const char* pin : {"12345678", "1234567890abcdef"}) {
        ASSERT_EQ(QeltEvEncFile_V2(pin, pt.c_str(), ct.c_str()), 0u) << pin;
        ASSERT_EQ(QeltEvDecFile_V2(pin, ct.c_str(), out.c_str()), 0u) << pin;
        EXPECT_EQ(read_file(host(out)), plaintext(10));
        EXPECT_EQ(slice(read_file(host(ct)), 271, 32),
                  derive_pin_key(pin, slice(read_file(host(ct)), 255, 16)).mac);
    }
}

TEST_F(Containers, WrongPinGives30AndLeavesNoPlaintext) {
    write_file(host(pt), plaintext(5000));
    ASSERT_EQ(QeltEvEncFile_V2(kPin, pt.c_str(), ct.c_str()), 0u);
    write_file(host(out), Bytes(10, 0xEE));
    log.clear();
    card->clear_records();
    EXPECT_EQ(QeltEvDecFile_V2("pin-of-16-chars?", ct.c_str(), out.c_str()), 30u);
    EXPECT_FALSE(exists(out));
    EXPECT_EQ(log.messages(), (std::vector<std::string>{"dec start", kPinWrong, "dec over"}));
    // The wrongly derived key reached a slot, which is released; no block went to the card.
    EXPECT_EQ(frames_of(0x72A), 1u);
    EXPECT_EQ(frames_of(0x72B), 1u);
    EXPECT_EQ(frames_of(0x242), 0u);
    expect_slots_free();
}

// The check value counts in all its 32 bytes: one that differs in its first or last byte alone
// is a wrong PIN, before any block reaches the card.
TEST_F(Containers, CheckValueDifferingInOneByteGives30) {
    write_file(host(pt), plaintext(5000));
    ASSERT_EQ(QeltEvEncFile_V2(kPin, pt.c_str(), ct.c_str()), 0u);
    const Bytes container = read_file(host(ct));
    for (const size_t offset : {271, 271 + 31}) {
        Bytes changed = container;
        changed[offset] ^= 0x01;
        write_file(host(ct), changed);
        log.clear();
        card->clear_records();
        EXPECT_EQ(QeltEvDecFile_V2(kPin, ct.c_str(), out.c_str()), 30u) << offset;
        EXPECT_EQ(log.messages(), (std::vector<std::string>{"dec start", kPinWrong, "dec over"}));
        EXPECT_EQ(frames_of(0x242), 0u);
        EXPECT_FALSE(exists(out));
    }
    expect_slots_free();
}

// ---- The name field ----

TEST_F(Containers, NameFieldHoldsTheBaseNameOfEachPathForm) {
    root.make_folder("C:/dir");
    const std::filesystem::path saved = std::filesystem::current_path();
    std::filesystem::current_path(host("C:/dir"));
    struct Case {
        std::string path;
        std::string name;  // empty: all 255 bytes zero
    };
    for (const Case& c : {Case{"C:\\dir\\a.txt", "a.txt"}, Case{"C:/dir/a.txt", "a.txt"},
                          Case{"C:/dir\\b.txt", "b.txt"}, Case{"a.txt", ""}}) {
        write_file(host("C:/dir/a.txt"), plaintext(3));
        write_file(host("C:/dir/b.txt"), plaintext(3));
        for (const Kind& kind : {kV1, kV1Fpga, kV2}) {
            ASSERT_EQ(kind.encrypt(card_public_key(), c.path.c_str(), ct.c_str()), 0u)
                << c.path << " " << kind.name;
            Bytes name(255, 0);
            std::memcpy(name.data(), c.name.data(), c.name.size());
            EXPECT_EQ(slice(read_file(host(ct)), 0, 255), name) << c.path << " " << kind.name;
        }
    }
    std::filesystem::current_path(saved);
}

// ---- Containers of their header alone, and the length rule ----

TEST_F(Containers, HeaderOnlyContainersDecryptToAnEmptyFile) {
    write_file(host(pt), plaintext(100));
    for (const Kind& kind : {kV1, kV1Fpga, kV2}) {
        ASSERT_EQ(kind.encrypt(card_public_key(), pt.c_str(), ct.c_str()), 0u);
        Bytes container = read_file(host(ct));
        container.resize(kind.header);
        write_file(host(ct), container);
        write_file(host(out), Bytes(10, 0xEE));
        EXPECT_EQ(kind.decrypt(ct.c_str(), out.c_str()), 0u) << kind.name;
        EXPECT_TRUE(exists(out));
        EXPECT_EQ(std::filesystem::file_size(host(out)), 0u) << kind.name;
    }
    expect_slots_free();
}

TEST_F(Containers, LengthsBreakingTheRuleGive1BeforeTheCard) {
    struct Case {
        Kind kind;
        uint64_t length;
    };
    for (const Case& c :
         {Case{kV1, 446}, Case{kV1, 447 + 4096 + 1}, Case{kV1Fpga, 0}, Case{kV1Fpga, 447 + 4095},
          Case{kV2, 302}, Case{kV2, 304}, Case{kV2, 303 + 4097}}) {
        write_file(host(ct), plaintext(c.length));
        write_file(host(out), Bytes(10, 0xEE));
        log.clear();
        card->clear_records();
        EXPECT_EQ(c.kind.decrypt(ct.c_str(), out.c_str()), 1u) << c.kind.name << " " << c.length;
        const auto lines = log.messages();
        EXPECT_NE(std::find(lines.begin(), lines.end(), kLengthWrong), lines.end());
        EXPECT_TRUE(card->frames().empty());
        // V1 leaves the plaintext file empty; V2 removes it.
        if (c.kind.v2) {
            EXPECT_FALSE(exists(out));
        } else {
            ASSERT_TRUE(exists(out));
            EXPECT_EQ(std::filesystem::file_size(host(out)), 0u);
        }
    }
}

// Sparse containers past 2^31 and 2^32 bytes: lengths of the rule pass it, and the first block is
// read behind the header (a card failure on it shows that the loop started); others fail it.
TEST_F(Containers, LengthRuleHoldsPast32Bits) {
    write_file(host(pt), plaintext(5000));
    for (const Kind& kind : {kV1, kV1Fpga, kV2}) {
        ASSERT_EQ(kind.encrypt(card_public_key(), pt.c_str(), ct.c_str()), 0u);
        const Bytes header = slice(read_file(host(ct)), 0, kind.header);
        for (const uint64_t blocks :
             {uint64_t{1} << 19, uint64_t{1} << 20, (uint64_t{1} << 20) + 3}) {
            for (const int off : {0, 1, -1}) {
                const uint64_t length = kind.header + blocks * 4096 + off;
                write_file(host(ct), header);
                std::filesystem::resize_file(host(ct), length);
                // A status word for the command, a status byte for the FPGA frame.
                if (kind.block_code == 0x733)
                    card->fail(0x734, fault(&Fault::status, 0x6F00u));
                else
                    card->fail(sim::card::kFpgaDecrypt, fault(&Fault::status, 1u));
                log.clear();
                const uint32_t result = kind.decrypt(ct.c_str(), out.c_str());
                card->clear_faults();
                const auto lines = log.messages();
                if (off == 0) {
                    EXPECT_EQ(result, kind.block_code == 0x733 ? 0x6F00u : 29u)
                        << kind.name << " " << length;
                    EXPECT_EQ(std::find(lines.begin(), lines.end(), kLengthWrong), lines.end());
                } else {
                    EXPECT_EQ(result, 1u) << kind.name << " " << length;
                    EXPECT_NE(std::find(lines.begin(), lines.end(), kLengthWrong), lines.end());
                }
            }
        }
    }
    std::filesystem::remove(host(ct));
    expect_slots_free();
}

TEST_F(Containers, PathOf254CharactersIsTaken) {
    const std::string name = "C:/data/" + std::string(254 - 8, 'n');
    write_file(host(name), plaintext(10));
    EXPECT_EQ(QeltEvEncFile(card_public_key(), name.c_str(), ct.c_str()), 0u);
    EXPECT_EQ(QeltEvDecFile_V2(kPin, ct.c_str(), (name + "x").c_str()), 3u);
}

// ---- A failing disk ----

// Each header write and the block writes, cut short by the drive's free space.
TEST_F(Containers, ShortWritesEndWith1AndTheirMessage) {
    write_file(host(pt), plaintext(2 * 4096 + 10));
    struct Case {
        Kind kind;
        uint64_t free_bytes;
        std::string message;
    };
    for (const Case& c :
         {Case{kV1, 100, "write fn err, cnt[100]"}, Case{kV1, 255 + 10, "write pke err, cnt[10]"},
          Case{kV1Fpga, 255 + 64 + 127, "write skCt err, cnt[127]"},
          Case{kV1, 447 + 4096 + 5, "write ctBlock err[5]"},
          Case{kV2, 255 + 15, "write salt err, cnt[15]"},
          Case{kV2, 255 + 16 + 1, "write mac err, cnt[1]"},
          Case{kV2, 303 + 2 * 4096 + 7, "write ctBlock err[7]"}}) {
        sim::disk_set_free_space('C', c.free_bytes);
        log.clear();
        EXPECT_EQ(c.kind.encrypt(card_public_key(), pt.c_str(), ct.c_str()), 1u) << c.message;
        sim::disk_clear_free_space_limits();
        const auto lines = log.messages();
        EXPECT_NE(std::find(lines.begin(), lines.end(), c.message), lines.end()) << c.message;
        // V1 leaves what it wrote; V2 removes it.
        if (c.kind.v2)
            EXPECT_FALSE(exists(ct));
        else
            EXPECT_EQ(std::filesystem::file_size(host(ct)),
                      std::min<uint64_t>(c.free_bytes, 447 + 3 * 4096));
    }
    expect_slots_free();
}

TEST_F(Containers, ShortPlaintextWritesEndWith1AndTheirMessage) {
    // "write ptBlock failed", "write final ptBlock failed" (GBK)
    const std::string block_failed = "\xd0\xb4ptBlock\xca\xa7\xb0\xdc";
    const std::string final_failed =
        "\xd0\xb4"
        "final ptBlock\xca\xa7\xb0\xdc";
    write_file(host(pt), plaintext(2 * 4096 + 10));
    for (const Kind& kind : {kV1, kV1Fpga, kV2}) {
        ASSERT_EQ(kind.encrypt(card_public_key(), pt.c_str(), ct.c_str()), 0u);
        for (const auto& [free_bytes, message] :
             {std::pair<uint64_t, std::string>{100, block_failed}, {2 * 4096 + 9, final_failed}}) {
            sim::disk_set_free_space('C', free_bytes);
            log.clear();
            EXPECT_EQ(kind.decrypt(ct.c_str(), out.c_str()), 1u) << kind.name;
            sim::disk_clear_free_space_limits();
            const auto lines = log.messages();
            EXPECT_NE(std::find(lines.begin(), lines.end(), message), lines.end()) << kind.name;
            EXPECT_EQ(exists(out), !kind.v2) << kind.name;
        }
    }
    expect_slots_free();
}

// A disk that fails reads: the plaintext's read error is no end of the file, and a container's
// block that cannot be read whole ends the loop.
TEST_F(Containers, ReadErrorsEndWith1AndTheirMessage) {
    // "plaintext file read failed", "ciphertext file read failed[" (GBK)
    const std::string pt_read_failed =
        "\xc3\xf7\xce\xc4\xce\xc4\xbc\xfe\xb6\xc1\xc8\xa1\xca\xa7\xb0\xdc";
    const std::string ct_read_failed =
        "\xc3\xdc\xce\xc4\xce\xc4\xbc\xfe\xb6\xc1\xc8\xa1\xca\xa7\xb0\xdc[";
    const auto logged_starting = [&](const std::string& start) {
        for (const auto& line : log.messages())
            if (line.starts_with(start)) return true;
        return false;
    };
    write_file(host(pt), plaintext(3 * 4096));
    for (const Kind& kind : {kV1, kV1Fpga, kV2}) {
        sim::disk_set_read_limit('C', 4096 + 100);
        log.clear();
        EXPECT_EQ(kind.encrypt(card_public_key(), pt.c_str(), ct.c_str()), 1u) << kind.name;
        sim::disk_clear_read_limits();
        EXPECT_TRUE(logged_starting(pt_read_failed)) << kind.name;
        if (kind.v2) {
            EXPECT_FALSE(exists(ct));
        } else {
            EXPECT_EQ(std::filesystem::file_size(host(ct)), 447u + 4096) << kind.name;
        }

        ASSERT_EQ(kind.encrypt(card_public_key(), pt.c_str(), ct.c_str()), 0u);
        sim::disk_set_read_limit('C', kind.header + 4096 + 50);
        log.clear();
        EXPECT_EQ(kind.decrypt(ct.c_str(), out.c_str()), 1u) << kind.name;
        sim::disk_clear_read_limits();
        EXPECT_TRUE(logged_starting(ct_read_failed)) << kind.name;
        EXPECT_EQ(exists(out), !kind.v2) << kind.name;
    }
    expect_slots_free();
}

// ---- Card failures ----

TEST_F(Containers, V2FailureAfterTheContainerWasOpenedRemovesIt) {
    write_file(host(pt), plaintext(3 * 4096));
    card->fail(sim::card::kFpgaEncrypt, fault(&Fault::status, 1u));
    EXPECT_EQ(QeltEvEncFile_V2(kPin, pt.c_str(), ct.c_str()), 29u);
    EXPECT_FALSE(exists(ct));
    card->clear_faults();
    // Logged out, the card refuses the key: the container goes too.
    ASSERT_EQ(QeltCardLoginOut(), 0u);
    EXPECT_EQ(QeltEvEncFile_V2(kPin, pt.c_str(), ct.c_str()),
              static_cast<uint32_t>(sim::card::kNotLoggedIn));
    EXPECT_FALSE(exists(ct));
    const auto lines = log.messages();
    EXPECT_EQ(lines.back(), "enc over");
    expect_slots_free();
}

// A public key off the curve cannot wrap the derived key: 21, before any slot is taken.
TEST_F(Containers, EncryptionKeyOffTheCurveGives21) {
    sim::card::CardState s = card->state();
    s.encryption.public_key.fill(0);
    card->set_state(s);
    write_file(host(pt), plaintext(100));
    EXPECT_EQ(QeltEvEncFile_V2(kPin, pt.c_str(), ct.c_str()), 21u);
    EXPECT_FALSE(exists(ct));
    EXPECT_EQ(log.messages(), (std::vector<std::string>{"enc start", "ret[21]", "enc over"}));
    EXPECT_EQ(frames_of(0x72A), 0u);
}

TEST_F(Containers, V1CardFailureKeepsWhatWasWrittenAndReleasesTheSlot) {
    write_file(host(pt), plaintext(3 * 4096));
    card->fail(0x733, fault(&Fault::status, 0x6F00u));
    EXPECT_EQ(QeltEvEncFile(card_public_key(), pt.c_str(), ct.c_str()), 0x6F00u);
    EXPECT_EQ(std::filesystem::file_size(host(ct)), 447u);
    const auto lines = log.messages();
    EXPECT_NE(std::find(lines.begin(), lines.end(), "brel_xts_enc err[28416]"), lines.end());
    expect_slots_free();
}

// ---- Each step's failure: its line, at the site of the export being served ----

TEST_F(Containers, StepFailuresLogTheirMessageAtTheExportsSite) {
    // "read fn failed", "read pke failed", "read csk failed", "read salt failed", "read mac
    // failed", "plaintext file open failed", "ciphertext file read failed[" (GBK)
    const std::string kReadFn =
        "\xb6\xc1"
        "fn"
        "\xca\xa7\xb0\xdc";
    const std::string kReadPke =
        "\xb6\xc1"
        "pke"
        "\xca\xa7\xb0\xdc";
    const std::string kReadCsk =
        "\xb6\xc1"
        "csk"
        "\xca\xa7\xb0\xdc";
    const std::string kReadSalt =
        "\xb6\xc1"
        "salt"
        "\xca\xa7\xb0\xdc";
    const std::string kReadMac =
        "\xb6\xc1"
        "mac"
        "\xca\xa7\xb0\xdc";
    const std::string kPtOpen = "\xc3\xf7\xce\xc4\xce\xc4\xbc\xfe\xb4\xf2\xbf\xaa\xca\xa7\xb0\xdc";
    const std::string kCtRead = "\xc3\xdc\xce\xc4\xce\xc4\xbc\xfe\xb6\xc1\xc8\xa1\xca\xa7\xb0\xdc[";

    const auto read_limit = [](uint64_t bytes) {
        return [bytes] { sim::disk_set_read_limit('C', bytes); };
    };
    const auto block_status = [this](uint32_t code, uint32_t status) {
        return [this, code, status] { card->fail(code, fault(&Fault::status, status)); };
    };
    const auto short_reply = [this](uint32_t code) {
        return [this, code] { card->fail(code, fault(&Fault::total_length, 64u + 7)); };
    };
    // The card's device stops opening once the key is in its slot: the block loop's link fails.
    const auto link_refused_after_the_key = [this] {
        LogSetLevel(LOG_DEBUG);
        log.on_line([this](const LoggedLine& l) {
            if (l.level == LOG_DEBUG && l.message.starts_with("sendbuf \n0x00000: 2a 07"))
                card->device()->set_faults({.open_error = ERROR_FILE_NOT_FOUND});
        });
    };
    struct Case {
        const char* name;
        Kind kind;
        bool decrypt;
        std::function<void()> arrange;
        std::string message;  // the line's start
        uint32_t result;
    };
    const Case cases[] = {
        {"fn", kV1, true, read_limit(100), kReadFn, 1},
        {"pke", kV1, true, read_limit(255 + 10), kReadPke, 1},
        {"csk", kV1Fpga, true, read_limit(319 + 10), kReadCsk, 1},
        {"salt", kV2, true, read_limit(255 + 10), kReadSalt, 1},
        {"mac", kV2, true, read_limit(255 + 16 + 10), kReadMac, 1},
        {"block read", kV2, true, read_limit(303 + 4096 + 50), kCtRead, 1},
        {"length", kV1, true, [this] { std::filesystem::resize_file(host(ct), 447 + 4096 + 1); },
         kLengthWrong, 1},
        {"plaintext open", kV2, false, [this] { std::filesystem::remove(host(pt)); }, kPtOpen, 1},
        {"header write", kV1Fpga, false, [] { sim::disk_set_free_space('C', 100); },
         "write fn err, cnt[100]", 1},
        {"command block", kV1, true, block_status(0x734, 0x6F00), "sm4_xts_decrypt err[28416]",
         0x6F00},
        {"fpga block in", kV1Fpga, false, block_status(sim::card::kFpgaEncrypt, 1),
         "brel_xts_fpga err[29]", 29},
        {"fpga block out", kV1Fpga, true, block_status(sim::card::kFpgaDecrypt, 1),
         "brel_xts_fpga err[29]", 29},
        {"v2 block", kV2, true, block_status(sim::card::kFpgaDecrypt, 1), "brel_xts_fpga err[29]",
         29},
        {"short reply in", kV1Fpga, false, short_reply(sim::card::kFpgaEncrypt),
         "brel_xts_fpga err[29]", 29},
        {"short reply out", kV2, true, short_reply(sim::card::kFpgaDecrypt),
         "brel_xts_fpga err[29]", 29},
        {"v2 link in", kV2, false, link_refused_after_the_key, "open_usb_dev error:-2", 17},
        {"v2 link out", kV2, true, link_refused_after_the_key, "open_usb_dev error:-2", 17},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto run = [&](const char* pt_path, const char* ct_path) {
            return c.decrypt ? c.kind.decrypt(ct_path, out.c_str())
                             : c.kind.encrypt(card_public_key(), pt_path, ct_path);
        };
        // The export's site: where its argument check logs.
        log.clear();
        run(nullptr, nullptr);
        const auto refused = log.all();
        ASSERT_FALSE(refused.empty());
        const LoggedLine& site = refused.back();
        ASSERT_EQ(site.message, "invalid arg");

        write_file(host(pt), plaintext(2 * 4096 + 5));
        ASSERT_EQ(c.kind.encrypt(card_public_key(), pt.c_str(), ct.c_str()), 0u);
        log.clear();
        c.arrange();
        EXPECT_EQ(run(pt.c_str(), ct.c_str()), c.result);
        log.on_line(nullptr);
        LogSetLevel(LOG_ERROR);
        card->clear_faults();
        card->device()->clear_faults();
        sim::disk_clear_read_limits();
        sim::disk_clear_free_space_limits();

        const auto lines = log.all();
        const auto line = std::find_if(lines.begin(), lines.end(), [&](const LoggedLine& l) {
            return l.level == LOG_ERROR && l.message.starts_with(c.message);
        });
        if (line == lines.end()) {
            ADD_FAILURE() << "no line starting with " << c.message;
            continue;
        }
        EXPECT_EQ(line->file, site.file);
        EXPECT_EQ(line->line, site.line);
    }
}

// ---- The V2 loop holds the card lock ----

// A log sink that stops the caller at its n-th frame dump until released.
class DumpGate {
  public:
    explicit DumpGate(int stop_at) : stop_at_(stop_at) {
        instance() = this;
        LogSetLevel(LOG_DEBUG);
        LogSetSink(sink);
    }
    ~DumpGate() {
        release();
        LogSetSink(LogWriteFile);
        LogSetLevel(LOG_ERROR);
        instance() = nullptr;
    }
    void wait_until_stopped() {
        std::unique_lock l(m_);
        cv_.wait(l, [this] { return stopped_; });
    }
    void release() {
        std::lock_guard l(m_);
        released_ = true;
        cv_.notify_all();
    }

  private:
    static DumpGate*& instance() {
        static DumpGate* gate = nullptr;
        return gate;
    }
    static void sink(LogLevel, const char*, const char*, uint32_t, const char* format,
                     va_list args) {
        DumpGate* g = instance();
        if (!g || std::strcmp(format, "%s") != 0) return;
        const char* text = va_arg(args, const char*);
        if (std::strncmp(text, "sendbuf \n0x00000: 41 02", 23) != 0) return;
        std::unique_lock l(g->m_);
        if (++g->seen_ != g->stop_at_) return;
        g->stopped_ = true;
        g->cv_.notify_all();
        g->cv_.wait(l, [g] { return g->released_; });
    }

    std::mutex m_;
    std::condition_variable cv_;
    int stop_at_, seen_ = 0;
    bool stopped_ = false, released_ = false;
};

TEST_F(Containers, V2HoldsTheCardLockForItsWholeLoop) {
    write_file(host(pt), plaintext(4 * 4096));
    uint32_t v2_result = 99;
    std::thread other;
    std::mutex m;
    std::condition_variable cv;
    bool other_done = false;
    uint32_t other_result = 99;
    {
        DumpGate gate(2);  // inside the loop, after one block went through
        std::thread v2([&] { v2_result = QeltEvEncFile_V2(kPin, pt.c_str(), ct.c_str()); });
        gate.wait_until_stopped();
        other = std::thread([&] {
            uint8_t info[CARD_INFO_SIZE];
            const uint32_t r = QeltQueryCardInfo(info);
            std::lock_guard l(m);
            other_result = r;
            other_done = true;
            cv.notify_all();
        });
        {
            // The other thread waits for the lock as long as the loop holds it.
            std::unique_lock l(m);
            EXPECT_FALSE(
                cv.wait_for(l, std::chrono::milliseconds(200), [&] { return other_done; }));
        }
        gate.release();
        v2.join();
    }
    other.join();
    EXPECT_EQ(v2_result, 0u);
    EXPECT_EQ(other_result, 0u);
    // The card saw the other thread's command after the loop's last block.
    const auto frames = card->frames();
    size_t last_block = 0, info_at = 0;
    for (size_t i = 0; i < frames.size(); ++i) {
        if (frames[i].fpga) last_block = i;
        if (frames[i].code == 0x720) info_at = i;
    }
    EXPECT_GT(info_at, last_block);
    expect_clean_frames();
}

// ---- The FPGA loop test ----

TEST_F(Containers, FpgaLoopTestEncryptsItsBlockRoundsTimes) {
    brel_xts_fpga_test(3);
    EXPECT_EQ(log.messages(), (std::vector<std::string>{"test start", "test over"}));
    EXPECT_EQ(frames_of(0x241), 3u);
    const Bytes salt(16, 0);
    for (const auto& f : card->frames()) {
        if (f.fpga) {
            EXPECT_EQ(f.bytes.at(7), 1);
            EXPECT_EQ(slice(f.bytes, 64, 4096), Bytes(4096, 0x15));
        }
    }
    expect_slots_free();
    card->fail(sim::card::kFpgaEncrypt, fault(&Fault::status, 2u));
    log.clear();
    brel_xts_fpga_test(3);
    EXPECT_EQ(log.messages(), (std::vector<std::string>{"test start", "proc err:0000001d",
                                                        "brel_xts_fpga err[29]"}));
    expect_slots_free();
    ASSERT_EQ(QeltCardLoginOut(), 0u);
    log.clear();
    brel_xts_fpga_test(3);
    EXPECT_EQ(log.messages().back(), "gen_key err");
}

}  // namespace
