// The container readers on random, truncated and altered containers against the card's firmware
// model (run under ASan in the sanitizer build): every call ends with a result code, reads and
// writes inside its buffers, releases its key slot, and what it writes from a truncated container
// is a piece of the plaintext from its start.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <random>
#include <set>
#include <string>

#include "card/card_api.h"
#include "tests/card/container_files.h"
#include "tests/card/model_card.h"

namespace {

constexpr char kPin[] = "fuzzing-pin";

struct Reader {
    const char* name;
    uint32_t header;
    bool v2;
    uint32_t (*encrypt)(const uint8_t* pke, const char* pt, const char* ct);
    uint32_t (*decrypt)(const char* ct, const char* pt);
};

const Reader kReaders[] = {
    {"V1", 447, false, QeltEvEncFile, QeltEvDecFile},
    {"V1Fpga", 447, false, QeltEvEncFile_FPGA, QeltEvDecFile_FPGA},
    {"V2", 303, true,
     [](const uint8_t*, const char* pt, const char* ct) { return QeltEvEncFile_V2(kPin, pt, ct); },
     [](const char* ct, const char* pt) { return QeltEvDecFile_V2(kPin, ct, pt); }},
};

bool length_ok(uint64_t length, const Reader& reader) {
    return length >= reader.header && (length - reader.header) % 4096 == 0;
}

class ContainerFuzz : public ModelCard {
  protected:
    void SetUp() override {
        ModelCard::SetUp();
        login_bound();
        root.make_folder("C:/fuzz");
        card->set_recording(false);
    }

    // Decrypts the container bytes; the result, and what the plaintext file holds (empty when
    // there is none).
    uint32_t decrypt(const Reader& reader, const Bytes& container, Bytes* written) {
        write_file(root.path(ct), container);
        write_file(root.path(out), Bytes(7, 0xEE));
        const uint32_t result = reader.decrypt(ct.c_str(), out.c_str());
        *written = read_file(root.path(out));
        for (const auto& slot : card->state().key_slots) EXPECT_FALSE(slot.has_value());
        return result;
    }
    Bytes encrypt(const Reader& reader, const Bytes& plain) {
        write_file(root.path(pt), plain);
        EXPECT_EQ(reader.encrypt(state.encryption.public_key.data(), pt.c_str(), ct.c_str()), 0u);
        return read_file(root.path(ct));
    }
    Bytes random_bytes(size_t n) {
        Bytes b(n);
        for (auto& x : b) x = static_cast<uint8_t>(rng());
        return b;
    }

    std::mt19937 rng{20240611};
    const std::string pt = "C:/fuzz/plain", ct = "C:/fuzz/container", out = "C:/fuzz/out";
};

// Random bytes of random lengths, around the header and the block edges too.
TEST_F(ContainerFuzz, RandomContainers) {
    for (const Reader& reader : kReaders) {
        for (int i = 0; i < 60; ++i) {
            size_t length = rng() % (reader.header + 3 * 4096 + 200);
            if (i % 3 == 0) length = reader.header + 4096 * (rng() % 4) + (rng() % 3) - 1;
            const Bytes container = random_bytes(length);
            Bytes written;
            const uint32_t result = decrypt(reader, container, &written);
            SCOPED_TRACE(std::string(reader.name) + " length " + std::to_string(length));
            // A random wrapped key does not open on the card (1); a random check value is not the
            // PIN's (30).
            EXPECT_EQ(result, length_ok(length, reader) && reader.v2 ? 30u : 1u) << result;
            EXPECT_LE(written.size(), length);
        }
    }
}

// Real containers cut at random lengths and at each block edge: a cut that keeps the length rule
// decrypts to a piece of the plaintext from its start.
TEST_F(ContainerFuzz, TruncatedContainers) {
    for (const Reader& reader : kReaders) {
        for (int i = 0; i < 8; ++i) {
            const Bytes plain = random_bytes(rng() % (5 * 4096));
            const Bytes container = encrypt(reader, plain);
            std::set<size_t> cuts;
            for (size_t at = reader.header; at <= container.size(); at += 4096) cuts.insert(at);
            for (int k = 0; k < 6; ++k) cuts.insert(rng() % (container.size() + 1));
            for (const size_t cut : cuts) {
                SCOPED_TRACE(std::string(reader.name) + " cut at " + std::to_string(cut));
                Bytes written;
                const uint32_t result = decrypt(
                    reader,
                    Bytes(container.begin(), container.begin() + static_cast<ptrdiff_t>(cut)),
                    &written);
                if (!length_ok(cut, reader)) {
                    EXPECT_EQ(result, 1u);
                    continue;
                }
                ASSERT_EQ(result, 0u);
                ASSERT_LE(written.size(), plain.size());
                EXPECT_TRUE(std::equal(written.begin(), written.end(), plain.begin()));
                if (cut == container.size()) {
                    EXPECT_EQ(written, plain);
                }
            }
        }
    }
}

// Real containers with random bytes changed: the name and the public key are not read, a changed
// wrapped key or check value is refused, a changed block decrypts to something of the same size.
TEST_F(ContainerFuzz, AlteredContainers) {
    for (const Reader& reader : kReaders) {
        const Bytes plain = random_bytes(2 * 4096 + 100);
        const Bytes original = encrypt(reader, plain);
        for (int i = 0; i < 40; ++i) {
            Bytes container = original;
            const size_t at = rng() % container.size();
            container[at] ^= static_cast<uint8_t>(1 + rng() % 255);
            SCOPED_TRACE(std::string(reader.name) + " byte " + std::to_string(at));
            Bytes written;
            const uint32_t result = decrypt(reader, container, &written);
            if (at < 255 || (!reader.v2 && at < 319)) {
                EXPECT_EQ(result, 0u);
                EXPECT_EQ(written, plain);
            } else if (at < reader.header) {
                EXPECT_EQ(result, reader.v2 ? 30u : 1u);
                EXPECT_TRUE(written.empty());
            } else {
                EXPECT_EQ(result, 0u);
                EXPECT_LE(written.size(), container.size() - reader.header);
            }
        }
    }
}

}  // namespace
