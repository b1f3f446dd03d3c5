// Envelope files: sizes, round trips, refusals and the messages printed.
#include <cctype>
#include <cstring>
#include <set>
#include <string>

#include "card/containers/padding.h"
#include "crypto/hex.h"
#include "crypto/sm2_encrypt.h"
#include "crypto/sm3.h"
#include "crypto/sm4.h"
#include "crypto/sm4_xts.h"
#include "softcard/envelope_buffer.h"
#include "softcard/envelope_format.h"
#include "softcard/envelope_messages.h"
#include "softcard/keys.h"
#include "tests/support/softcard_fixture.h"
#include "tests/support/working_folder.h"

namespace {

const std::string kPlainPath = std::string(kFiles) + "/plain.bin";
const std::string kEnvelopePath = std::string(kFiles) + "/plain.bin.ev";
const std::string kBackPath = std::string(kFiles) + "/plain_check.bin";
const char* const kPlain = kPlainPath.c_str();
const char* const kEnvelope = kEnvelopePath.c_str();
const char* const kBack = kBackPath.c_str();

class Envelope : public SoftcardTest {
  protected:
    void SetUp() override {
        SoftcardTest::SetUp();
        if (IsSkipped()) return;
        fresh_bound_login();
        uint8_t sign_public[64];
        ASSERT_EQ(QeltExportPubkeys(sign_public, own), 0u);
    }

    std::vector<uint8_t> file(const char* drive_path) const {
        return file_bytes(root.path(drive_path));
    }
    void write_file(const char* drive_path, const std::vector<uint8_t>& data) const {
        write_file_bytes(root.path(drive_path), data);
    }
    bool exists(const char* drive_path) const {
        return std::filesystem::exists(root.path(drive_path));
    }

    // The result and what was printed.
    std::pair<uint32_t, std::string> decrypt() {
        testing::internal::CaptureStdout();
        const uint32_t result = QeltEvDecFile(kEnvelope, kBack);
        std::fflush(stdout);
        return {result, testing::internal::GetCapturedStdout()};
    }
    std::pair<uint32_t, std::string> encrypt(const uint8_t* pke) {
        testing::internal::CaptureStdout();
        const uint32_t result = QeltEvEncFile(pke, kPlain, kEnvelope);
        std::fflush(stdout);
        return {result, testing::internal::GetCapturedStdout()};
    }

    uint8_t own[64];
};

// Data with 0x80 bytes throughout and as the last byte.
std::vector<uint8_t> sample(size_t n) {
    std::vector<uint8_t> data(n);
    for (size_t i = 0; i < n; ++i) data[i] = static_cast<uint8_t>(i % 3 == 0 ? 0x80 : i * 7);
    if (n > 0) data[n - 1] = 0x80;
    return data;
}

// The functions move the blocks in runs of ENVELOPE_RUN_SIZE bytes: sizes about a run's end
// too, where the padding block or the last data block falls into a run of its own.
constexpr size_t kRun = ENVELOPE_RUN_SIZE;

TEST_F(Envelope, SizesAndRoundTrips) {
    const std::pair<size_t, size_t> cases[] = {{0, 704},
                                               {1, 704},
                                               {511, 704},
                                               {512, 1216},
                                               {513, 1216},
                                               {1023, 1216},
                                               {1024, 1728},
                                               {5000, 5312},
                                               {kRun - 513, 192 + kRun - 512},
                                               {kRun - 1, 192 + kRun},
                                               {kRun, 192 + kRun + 512},
                                               {kRun + 1, 192 + kRun + 512},
                                               {kRun + 512, 192 + kRun + 1024},
                                               {2 * kRun + 700, 192 + 2 * kRun + 1024}};
    for (const auto& [size, envelope_size] : cases) {
        const auto data = sample(size);
        write_file(kPlain, data);
        ASSERT_EQ(encrypt(own), (std::pair<uint32_t, std::string>{0, ""})) << size;
        const auto envelope = file(kEnvelope);
        EXPECT_EQ(envelope.size(), envelope_size) << size;
        EXPECT_EQ(std::vector<uint8_t>(envelope.begin(), envelope.begin() + 64), vector_of(own));
        ASSERT_EQ(decrypt(), (std::pair<uint32_t, std::string>{0, ""})) << size;
        EXPECT_EQ(file(kBack), data) << size;
    }
}

// The blocks of an envelope by their definition: the plaintext padded with 0x80 and zeros to
// whole 512-byte blocks, each block one XTS data unit under the file key with the all-zero tweak.
std::vector<uint8_t> blocks_by_definition(const uint8_t* key, std::vector<uint8_t> plain) {
    uint32_t length = static_cast<uint32_t>(plain.size());
    plain.resize(plain.size() / 512 * 512 + 512);
    pad_80(plain.data(), &length, 512);
    const uint8_t zero_tweak[16] = {};
    std::vector<uint8_t> blocks(plain.size());
    for (size_t at = 0; at < plain.size(); at += 512)
        EXPECT_EQ(sm4_xts_encrypt(key, zero_tweak, &plain[at], 512, &blocks[at]), 0);
    return blocks;
}

std::string sm3_hex(const std::vector<uint8_t>& data) {
    uint8_t digest[SM3_DIGEST_SIZE];
    sm3(data.data(), static_cast<uint32_t>(data.size()), digest);
    char hex[2 * SM3_DIGEST_SIZE + 1];
    bytes_to_hex(digest, SM3_DIGEST_SIZE, hex);
    return hex;
}

// The file key of an envelope addressed to this card, taken from its csk.
std::vector<uint8_t> file_key_of(const std::vector<uint8_t>& envelope) {
    DerivedKeyPairs pairs;
    EXPECT_EQ(get_dkp(&pairs), 0u);
    std::vector<uint8_t> key(32);
    uint32_t length = 0;
    EXPECT_EQ(sm2_decrypt(pairs.enc_private, envelope.data() + 64, 128, key.data(), &length), 0);
    EXPECT_EQ(length, 32u);
    return key;
}

// The format pinned by a known answer: the digest of the blocks of a plaintext of several
// megabytes under a fixed file key. Envelopes written by this code decrypt with the definition,
// and envelopes made by the definition decrypt with this code.
TEST_F(Envelope, KnownAnswer) {
    uint8_t key[32];
    for (int i = 0; i < 32; ++i) key[i] = static_cast<uint8_t>(0xA5 ^ (i * 37));
    const auto data = sample(2500000);
    const auto blocks = blocks_by_definition(key, data);
    ASSERT_EQ(blocks.size(), 2500096u);
    EXPECT_EQ(sm3_hex(blocks), "ad67a1655a3e0d39fb9f3fa0ee9084c42e2d523369442b699da5b3efc19599e6");

    std::vector<uint8_t> envelope(own, own + 64);
    envelope.resize(192 + blocks.size());
    ASSERT_EQ(sm2_encrypt(own, key, 32, envelope.data() + 64, nullptr), 0);
    std::copy(blocks.begin(), blocks.end(), envelope.begin() + 192);
    write_file(kEnvelope, envelope);
    ASSERT_EQ(decrypt(), (std::pair<uint32_t, std::string>{0, ""}));
    EXPECT_EQ(file(kBack), data);

    write_file(kPlain, data);
    ASSERT_EQ(encrypt(own), (std::pair<uint32_t, std::string>{0, ""}));
    const auto written = file(kEnvelope);
    ASSERT_EQ(written.size(), envelope.size());
    EXPECT_EQ(std::vector<uint8_t>(written.begin() + 192, written.end()),
              blocks_by_definition(file_key_of(written).data(), data));
}

TEST_F(Envelope, EachEncryptionUsesANewKey) {
    write_file(kPlain, sample(700));
    ASSERT_EQ(encrypt(own).first, 0u);
    const auto first = file(kEnvelope);
    ASSERT_EQ(encrypt(own).first, 0u);
    EXPECT_NE(file(kEnvelope), first);
    ASSERT_EQ(decrypt().first, 0u);
    EXPECT_EQ(file(kBack), sample(700));
    write_file(kEnvelope, first);
    ASSERT_EQ(decrypt().first, 0u);
    EXPECT_EQ(file(kBack), sample(700));
}

TEST_F(Envelope, WrongLengthsAreRefusedLeavingAnEmptyPlaintext) {
    write_file(kPlain, sample(600));
    ASSERT_EQ(encrypt(own).first, 0u);
    const auto envelope = file(kEnvelope);
    for (size_t size :
         {size_t{0}, size_t{191}, size_t{193}, size_t{192 + 511}, envelope.size() - 1}) {
        write_file(kBack, {1, 2, 3});
        write_file(kEnvelope, std::vector<uint8_t>(envelope.begin(), envelope.begin() + size));
        EXPECT_EQ(decrypt(), (std::pair<uint32_t, std::string>{1, MSG_CT_LENGTH_WRONG})) << size;
        EXPECT_TRUE(exists(kBack));
        EXPECT_TRUE(file(kBack).empty());
    }
}

// Sparse envelopes past 2^31 and 2^32 bytes: a length of the rule passes it (and the header is
// read: here it is addressed to another key), the others do not.
TEST_F(Envelope, LengthRuleHoldsPast32Bits) {
    for (const uint64_t blocks : {uint64_t{1} << 22, (uint64_t{1} << 23) + 3}) {
        for (const int off : {0, 1, -1}) {
            const uint64_t length = 192 + 512 * blocks + off;
            write_file(kEnvelope, std::vector<uint8_t>(192, 0));
            std::filesystem::resize_file(root.path(kEnvelope), length);
            EXPECT_EQ(decrypt(), (std::pair<uint32_t, std::string>{
                                     1, off == 0 ? MSG_PKE_MISMATCH : MSG_CT_LENGTH_WRONG}))
                << length;
        }
    }
    std::filesystem::remove(root.path(kEnvelope));
}

TEST_F(Envelope, HeaderAloneDecryptsToAnEmptyFile) {
    write_file(kPlain, sample(10));
    ASSERT_EQ(encrypt(own).first, 0u);
    const auto envelope = file(kEnvelope);
    write_file(kEnvelope, std::vector<uint8_t>(envelope.begin(), envelope.begin() + 192));
    EXPECT_EQ(decrypt().first, 0u);
    EXPECT_TRUE(file(kBack).empty());
}

TEST_F(Envelope, AddressedToAnotherKey) {
    write_file(kPlain, sample(100));
    uint8_t sign_public[64], enc_public[64];
    ASSERT_EQ(QeltExportPubkeys(sign_public, enc_public), 0u);
    ASSERT_EQ(encrypt(sign_public).first, 0u);  // any public key is accepted for encryption
    EXPECT_EQ(decrypt(), (std::pair<uint32_t, std::string>{1, MSG_PKE_MISMATCH}));
}

TEST_F(Envelope, DamagedKeyField) {
    write_file(kPlain, sample(100));
    ASSERT_EQ(encrypt(own).first, 0u);
    auto envelope = file(kEnvelope);
    envelope[64 + 100] ^= 1;  // inside C3/C2 of csk
    write_file(kEnvelope, envelope);
    EXPECT_EQ(decrypt(), (std::pair<uint32_t, std::string>{1, "sm2_decrypt err\n"}));
}

TEST_F(Envelope, MissingFiles) {
    EXPECT_EQ(encrypt(own), (std::pair<uint32_t, std::string>{1, MSG_PT_OPEN_FAILED}));
    EXPECT_FALSE(exists(kEnvelope));
    EXPECT_EQ(decrypt(), (std::pair<uint32_t, std::string>{1, MSG_CT_OPEN_FAILED}));
    EXPECT_TRUE(exists(kBack));
    write_file(kPlain, sample(10));
    testing::internal::CaptureStdout();
    EXPECT_EQ(QeltEvEncFile(own, kPlain, "Q:/no/such/folder.ev"), 1u);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), MSG_CT_OPEN_FAILED);
}

TEST_F(Envelope, PathAndKeyArguments) {
    const std::string longest(254, 'a');
    const std::string too_long(255, 'a');
    EXPECT_EQ(QeltEvEncFile(nullptr, kPlain, kEnvelope), 3u);
    EXPECT_EQ(QeltEvEncFile(own, "", kEnvelope), 3u);
    EXPECT_EQ(QeltEvEncFile(own, kPlain, too_long.c_str()), 3u);
    EXPECT_EQ(QeltEvDecFile(nullptr, kBack), 3u);
    EXPECT_EQ(QeltEvDecFile(kEnvelope, too_long.c_str()), 3u);
    EXPECT_EQ(QeltEvDecFile(kEnvelope, ""), 3u);
    // 254 characters pass the check and fail at the open.
    testing::internal::CaptureStdout();
    EXPECT_EQ(QeltEvEncFile(own, longest.c_str(), kEnvelope), 1u);
    testing::internal::GetCapturedStdout();
}

// Input and output naming one file, however spelt, are refused before anything is opened for
// writing: the file stays as it was (an envelope still decrypts).
TEST_F(Envelope, InputAndOutputTheSameFileAreRefused) {
    write_file(kPlain, sample(700));
    ASSERT_EQ(encrypt(own).first, 0u);
    const auto plain = file(kPlain);
    const auto envelope = file(kEnvelope);
    const std::string link = std::string(kFiles) + "/link.ev";
    std::filesystem::create_hard_link(root.path(kEnvelope), root.path(link));
    std::string other_spelling = kPlainPath;
    for (char& c : other_spelling) c = c == '/' ? '\\' : static_cast<char>(std::toupper(c));
    testing::internal::CaptureStdout();
    EXPECT_EQ(QeltEvEncFile(own, kPlain, kPlain), 1u);
    EXPECT_EQ(QeltEvEncFile(own, kPlain, other_spelling.c_str()), 1u);
    EXPECT_EQ(QeltEvDecFile(kEnvelope, kEnvelope), 1u);
    EXPECT_EQ(QeltEvDecFile(kEnvelope, link.c_str()), 1u);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(file(kPlain), plain);
    EXPECT_EQ(file(kEnvelope), envelope);
    ASSERT_EQ(decrypt().first, 0u);
    EXPECT_EQ(file(kBack), plain);
}

// Names without a drive, from the current folder, compare as Windows compares them: without case.
TEST_F(Envelope, NamesWithoutADriveInAnyCase) {
    const WorkingFolder in_files(root.path(kFiles));
    const std::vector<uint8_t> plain = sample(600);
    write_file_bytes("pt.txt", plain);
    testing::internal::CaptureStdout();
    EXPECT_EQ(QeltEvEncFile(own, "pt.txt", "./PT.TXT"), 1u);  // one file: refused, untouched
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(file_bytes("pt.txt"), plain);
    const std::set<std::string> only_the_plaintext = {"pt.txt"};
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator("."))
        names.insert(entry.path().filename().string());
    EXPECT_EQ(names, only_the_plaintext);

    EXPECT_EQ(QeltEvEncFile(own, "PT.Txt", "out.ev"), 0u);
    EXPECT_EQ(QeltEvDecFile("./OUT.EV", "back.bin"), 0u);
    EXPECT_EQ(file_bytes("back.bin"), plain);
}

TEST_F(Envelope, LoggedInButNotBoundTouchesNoFile) {
    write_file(kPlain, sample(10));
    ASSERT_EQ(QeltUnbindMac(this_pc.data()), 0u);
    EXPECT_EQ(QeltEvEncFile(own, kPlain, kEnvelope), 9u);
    EXPECT_EQ(QeltEvDecFile(kEnvelope, kBack), 9u);
    EXPECT_FALSE(exists(kEnvelope));
    EXPECT_FALSE(exists(kBack));
}

class BufferEnvelope : public Envelope {};

TEST_F(BufferEnvelope, RoundTrips) {
    for (uint32_t size : {1u, 15u, 16u, 17u, 100u}) {
        const auto data = sample(size);
        std::vector<uint8_t> sealed(size + 16 + 192);
        int32_t sealed_size = 0;
        ASSERT_EQ(EnvelopeEncryptBuffer(own, data.data(), size, sealed.data(), &sealed_size), 0u);
        EXPECT_EQ(sealed_size, static_cast<int32_t>(192 + (size / 16 + 1) * 16));
        std::vector<uint8_t> opened(static_cast<size_t>(sealed_size) - 192);
        uint32_t opened_size = 0;
        ASSERT_EQ(EnvelopeDecryptBuffer(sealed.data(), static_cast<uint32_t>(sealed_size),
                                        opened.data(), &opened_size),
                  0u);
        EXPECT_EQ(std::vector<uint8_t>(opened.begin(), opened.begin() + opened_size), data);
    }
}

TEST_F(BufferEnvelope, Refusals) {
    const auto data = sample(32);
    std::vector<uint8_t> sealed(192 + 48);
    int32_t sealed_size = 0;
    ASSERT_EQ(EnvelopeEncryptBuffer(own, data.data(), 32, sealed.data(), &sealed_size), 0u);
    ASSERT_EQ(sealed_size, 240);
    EXPECT_EQ(EnvelopeEncryptBuffer(own, data.data(), 0, sealed.data(), &sealed_size), 3u);
    EXPECT_EQ(EnvelopeEncryptBuffer(nullptr, data.data(), 32, sealed.data(), &sealed_size), 3u);
    EXPECT_EQ(EnvelopeEncryptBuffer(own, data.data(), 32, sealed.data(), nullptr), 3u);

    // A length of 192 or less, or not a multiple of 16, is refused before the envelope is looked
    // at: the header is this card's own, so only the length rule can refuse these.
    std::vector<uint8_t> out(64, 0xEE);
    uint32_t out_size = 77;
    for (uint32_t length : {0u, 16u, 176u, 192u, 200u, 239u}) {
        EXPECT_EQ(EnvelopeDecryptBuffer(sealed.data(), length, out.data(), &out_size), 3u)
            << length;
        EXPECT_EQ(out, std::vector<uint8_t>(64, 0xEE)) << length;
        EXPECT_EQ(out_size, 77u) << length;
    }
    EXPECT_EQ(EnvelopeDecryptBuffer(nullptr, 240, out.data(), &out_size), 3u);
    EXPECT_EQ(EnvelopeDecryptBuffer(sealed.data(), 240, nullptr, &out_size), 3u);
    EXPECT_EQ(EnvelopeDecryptBuffer(sealed.data(), 240, out.data(), nullptr), 3u);
    auto other = sealed;
    other[5] ^= 1;  // another recipient's pke
    EXPECT_EQ(EnvelopeDecryptBuffer(other.data(), 240, out.data(), &out_size), 3u);
    ASSERT_EQ(EnvelopeDecryptBuffer(sealed.data(), 240, out.data(), &out_size), 0u);
    EXPECT_EQ(out_size, 32u);
}

// A body whose last byte is no valid count is refused, and nothing past the output is written.
TEST_F(BufferEnvelope, BadPaddingCountIsRefused) {
    uint8_t key[32];
    for (int i = 0; i < 32; ++i) key[i] = static_cast<uint8_t>(i);
    std::vector<uint8_t> sealed(192 + 16);
    std::memcpy(sealed.data(), own, 64);
    ASSERT_EQ(sm2_encrypt(own, key, 32, sealed.data() + 64, nullptr), 0);
    for (uint8_t count : {uint8_t{0}, uint8_t{17}, uint8_t{0xFF}}) {
        uint8_t body[16] = {};
        body[15] = count;
        uint8_t iv[16] = {};
        ASSERT_EQ(sm4_cbc_encrypt(key, iv, body, 16, sealed.data() + 192), 0);
        std::vector<uint8_t> out(16);
        uint32_t out_size = 77;
        EXPECT_EQ(EnvelopeDecryptBuffer(sealed.data(), static_cast<uint32_t>(sealed.size()),
                                        out.data(), &out_size),
                  1u)
            << int{count};
        EXPECT_EQ(out_size, 77u);
    }
}

#ifndef _WIN32
// Linux only: these steer the free space and read faults of the Linux platform layer's disks.

TEST_F(Envelope, FullDiskWhileEncryptingIsAFailure) {
    write_file(kPlain, sample(3000));
    sim::disk_set_free_space('C', 1000);
    const auto [result, printed] = encrypt(own);
    EXPECT_EQ(result, 1u);
    EXPECT_EQ(printed, MSG_WRITE_CT_BLOCK_FAILED);
}

// Decryption writes every block but the last one or two as it goes (20 when that fails), and
// what is left after the cut at the padding at the end (19).
TEST_F(Envelope, FullDiskWhileDecryptingTellsTheBlockFromTheFinalWrite) {
    const struct {
        size_t plain;
        uint64_t free_bytes;
        uint32_t result;
        const char* printed;
    } cases[] = {
        {65536, 100, 20, MSG_WRITE_PT_BLOCK_FAILED},
        // Blocks of a later run that do not fit.
        {3 * kRun, kRun + 100, 20, MSG_WRITE_PT_BLOCK_FAILED},
        // 2000 bytes: two blocks are written on the way (1024 bytes), then the last 976.
        {2000, 1100, 19, MSG_WRITE_FINAL_FAILED},
        {2000, 1999, 19, MSG_WRITE_FINAL_FAILED},
        {2000, 2000, 0, ""},
    };
    for (const auto& c : cases) {
        write_file(kPlain, sample(c.plain));
        ASSERT_EQ(encrypt(own).first, 0u);
        sim::disk_set_free_space('C', c.free_bytes);
        EXPECT_EQ(decrypt(), (std::pair<uint32_t, std::string>{c.result, c.printed}))
            << c.plain << " " << c.free_bytes;
        sim::disk_clear_free_space_limits();
    }
}

// A block that cannot be read whole (the disk fails part-way) stops the decryption with 17 and
// the count it got; the plaintext keeps what was written on the way, every block but the last
// one read whole. The envelope lies on a drive of its own, whose read faults leave the store on
// C: alone.
TEST_F(Envelope, ShortBlockReadIsAReadError) {
    const auto data = sample(kRun + 1100);  // a run of blocks and three more
    write_file(kPlain, data);
    ASSERT_EQ(encrypt(own).first, 0u);
    root.make_folder("E:/");
    write_file("E:/plain.bin.ev", file(kEnvelope));
    const struct {
        uint64_t readable;
        int got;
    } cases[] = {{192 + 100, 100},
                 {192 + 512 + 100, 100},
                 {192 + 512, 0},
                 {192 + 1024 + 511, 511},
                 {192 + kRun - 1, 511},
                 {192 + kRun, 0},
                 {192 + kRun + 512 + 100, 100},
                 {192 + kRun + 1024 + 511, 511}};
    for (const auto& c : cases) {
        sim::disk_set_read_limit('E', c.readable);
        char printed[64];
        std::snprintf(printed, sizeof printed, MSG_CT_READ_FAILED, c.got);
        testing::internal::CaptureStdout();
        EXPECT_EQ(QeltEvDecFile("E:/plain.bin.ev", kBack), 17u) << c.readable;
        EXPECT_EQ(testing::internal::GetCapturedStdout(), printed) << c.readable;
        const size_t whole_blocks = (c.readable - 192) / 512;
        const size_t kept = whole_blocks > 0 ? 512 * (whole_blocks - 1) : 0;
        EXPECT_EQ(file(kBack), std::vector<uint8_t>(data.begin(), data.begin() + kept))
            << c.readable;
        sim::disk_clear_read_limits();
    }
    testing::internal::CaptureStdout();
    EXPECT_EQ(QeltEvDecFile("E:/plain.bin.ev", kBack), 0u);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(file(kBack), data);
}

// A plaintext that cannot be read to its end fails with its message; the envelope keeps the
// header and every block read whole before the fault, encrypted as in a whole envelope.
TEST_F(Envelope, PlaintextReadFaultKeepsTheWholeBlocksBeforeIt) {
    const auto data = sample(kRun + 1100);
    root.make_folder("E:/");
    write_file("E:/plain.bin", data);
    for (const uint64_t readable :
         {uint64_t{100}, uint64_t{512}, uint64_t{1300}, uint64_t{kRun}, uint64_t{kRun + 700}}) {
        sim::disk_set_read_limit('E', readable);
        testing::internal::CaptureStdout();
        EXPECT_EQ(QeltEvEncFile(own, "E:/plain.bin", kEnvelope), 1u) << readable;
        EXPECT_EQ(testing::internal::GetCapturedStdout(), MSG_PT_READ_FAILED) << readable;
        sim::disk_clear_read_limits();
        const auto envelope = file(kEnvelope);
        const size_t kept = readable / 512 * 512;
        ASSERT_EQ(envelope.size(), 192 + kept) << readable;
        const std::vector<uint8_t> whole(data.begin(), data.begin() + kept);
        const auto expected = blocks_by_definition(file_key_of(envelope).data(), whole);
        EXPECT_TRUE(std::equal(envelope.begin() + 192, envelope.end(), expected.begin()))
            << readable;
    }
}

#endif

}  // namespace
